// Serial port with line settings, timeouts and synchronous I/O over a Linux tty.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace kiren {

// Line settings record, laid out as the 28-byte device control block of the original
// platform so that whole records can be copied in and out.
struct DCB {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "DCB is a 28-byte record");

using TByteSize = std::uint8_t;    // 5..8
using TParity = std::uint8_t;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
using TStopBits = std::uint8_t;    // 0 one, 1 one and a half, 2 two
using TDTRControl = std::uint8_t;  // 0 disable, 1 enable, 2 handshake
using TRTSControl = std::uint8_t;  // 0 disable, 1 enable, 2 handshake, 3 toggle

constexpr TParity kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3,
                  kParitySpace = 4;
constexpr TStopBits kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

// Name tables: parity letter or word, stop bits text, DTR and RTS control texts.
// A value outside a table gives "?".
std::string ParityName(TParity AParity, bool AWord = false);
std::string StopBitsName(TStopBits AStopBits);
std::string DtrControlName(TDTRControl AValue);
std::string RtsControlName(TRTSControl AValue);

class TMyDCB {
 public:
  // 9600 baud, 8 data bits, no parity, one stop bit, binary mode, no flow control,
  // DTR and RTS disabled.
  TMyDCB();

  std::uint32_t BaudRate() const { return fDCB.BaudRate; }
  void SetBaudRate(std::uint32_t AValue) { fDCB.BaudRate = AValue; }

  bool FlagBinary() const { return GetBit(0); }
  void SetFlagBinary(bool AValue) { SetBit(0, AValue); }
  bool FlagParity() const { return GetBit(1); }
  void SetFlagParity(bool AValue) { SetBit(1, AValue); }
  bool FlagOutxCtsFlow() const { return GetBit(2); }
  void SetFlagOutxCtsFlow(bool AValue) { SetBit(2, AValue); }
  bool FlagOutxDsrFlow() const { return GetBit(3); }
  void SetFlagOutxDsrFlow(bool AValue) { SetBit(3, AValue); }
  TDTRControl FlagDtrControl() const { return static_cast<TDTRControl>(GetBits(4, 3)); }
  void SetFlagDtrControl(TDTRControl AValue) { SetBits(4, 3, AValue); }
  bool FlagDsrSensitivity() const { return GetBit(6); }
  void SetFlagDsrSensitivity(bool AValue) { SetBit(6, AValue); }
  bool FlagTXContinueOnXoff() const { return GetBit(7); }
  void SetFlagTXContinueOnXoff(bool AValue) { SetBit(7, AValue); }
  bool FlagOutX() const { return GetBit(8); }
  void SetFlagOutX(bool AValue) { SetBit(8, AValue); }
  bool FlagInX() const { return GetBit(9); }
  void SetFlagInX(bool AValue) { SetBit(9, AValue); }
  bool FlagErrorChar() const { return GetBit(10); }
  void SetFlagErrorChar(bool AValue) { SetBit(10, AValue); }
  bool FlagNull() const { return GetBit(11); }
  void SetFlagNull(bool AValue) { SetBit(11, AValue); }
  TRTSControl FlagRtsControl() const { return static_cast<TRTSControl>(GetBits(12, 3)); }
  void SetFlagRtsControl(TRTSControl AValue) { SetBits(12, 3, AValue); }
  bool FlagAbortOnError() const { return GetBit(14); }
  void SetFlagAbortOnError(bool AValue) { SetBit(14, AValue); }

  std::uint16_t XonLim() const { return fDCB.XonLim; }
  void SetXonLim(std::uint16_t AValue) { fDCB.XonLim = AValue; }
  std::uint16_t XoffLim() const { return fDCB.XoffLim; }
  void SetXoffLim(std::uint16_t AValue) { fDCB.XoffLim = AValue; }
  TByteSize ByteSize() const { return fDCB.ByteSize; }
  void SetByteSize(TByteSize AValue) { fDCB.ByteSize = AValue; }
  TParity Parity() const { return fDCB.Parity; }
  void SetParity(TParity AValue) { fDCB.Parity = AValue; }
  TStopBits StopBits() const { return fDCB.StopBits; }
  void SetStopBits(TStopBits AValue) { fDCB.StopBits = AValue; }
  char XonChar() const { return fDCB.XonChar; }
  void SetXonChar(char AValue) { fDCB.XonChar = AValue; }
  char XoffChar() const { return fDCB.XoffChar; }
  void SetXoffChar(char AValue) { fDCB.XoffChar = AValue; }
  char ErrorChar() const { return fDCB.ErrorChar; }
  void SetErrorChar(char AValue) { fDCB.ErrorChar = AValue; }
  char EofChar() const { return fDCB.EofChar; }
  void SetEofChar(char AValue) { fDCB.EofChar = AValue; }
  char EvtChar() const { return fDCB.EvtChar; }
  void SetEvtChar(char AValue) { fDCB.EvtChar = AValue; }

  const kiren::DCB& DCB() const { return fDCB; }
  void SetDCB(const kiren::DCB& AValue) { fDCB = AValue; }

  // Multi-line dump of every field, CR LF separated.
  std::string Print() const;

 private:
  bool GetBit(unsigned ABit) const { return (fDCB.flags >> ABit) & 1u; }
  void SetBit(unsigned ABit, bool AValue) { SetBits(ABit, 1, AValue ? 1 : 0); }
  std::uint32_t GetBits(unsigned AShift, std::uint32_t AMask) const {
    return (fDCB.flags >> AShift) & AMask;
  }
  void SetBits(unsigned AShift, std::uint32_t AMask, std::uint32_t AValue) {
    fDCB.flags = (fDCB.flags & ~(AMask << AShift)) | ((AValue & AMask) << AShift);
  }

  kiren::DCB fDCB;
};

// Read and write timeouts in milliseconds. A read waits for its first byte and between
// bytes as ReadIntervalTimeout says and in total ReadTotalTimeoutMultiplier x n +
// ReadTotalTimeoutConstant; a write gives up after WriteTotalTimeoutMultiplier x n +
// WriteTotalTimeoutConstant. All-ones in ReadIntervalTimeout with both other read values 0
// makes a read return at once with what has arrived.
struct TCommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
using PTimeouts = TCommTimeouts*;

// Driver queue sizes in bytes. Kept for the settings surface; a Linux tty has fixed queues.
struct TBuffer {
  std::int32_t InputSize = 0;
  std::int32_t OutputSize = 0;
};
using PBuffer = TBuffer*;

// One entry of the device-node port listing.
struct TPortInfo {
  std::string name;
  std::int32_t num = 0;
};
using TPortArray = std::vector<TPortInfo>;

// All decimal digits of the name, in order, as one number; 1000 when there is none or the
// digits do not fit a 32-bit signed number.
std::int32_t PortNumber(const std::string& AName);

// Sorts by PortNumber ascending; names with equal numbers keep their order.
void SortPorts(TPortArray& APorts);

// Error codes the port words itself; every other code is an errno value.
constexpr std::uint32_t kErrPortNotFound = 2;
constexpr std::uint32_t kErrPortClosed = 6;

// Text of an error code as LastErrorStr shows it.
std::string ComErrorText(std::uint32_t ACode);

class TMyComPort;
using TNotifyEvent = std::function<void(TMyComPort& ASender)>;
using TLogEvent = std::function<void(TMyComPort& ASender, const std::string& AText)>;

class TMyComPort {
 public:
  TMyComPort();
  ~TMyComPort();
  TMyComPort(const TMyComPort&) = delete;
  TMyComPort& operator=(const TMyComPort&) = delete;

  // Opening and closing. A name is a device node under /dev ("ttyACM0", "pts/3") or a full
  // path beginning with "/dev/"; Port keeps the name without that prefix. The device is
  // held exclusively: a second open of the same port fails.
  bool Open(const std::string& AComPort, bool AAutoApply);
  bool Open(const char* AComPort, bool AAutoApply) {
    return Open(std::string(AComPort), AAutoApply);
  }
  bool Open(const char*) = delete;  // would silently pick Open(bool)
  // Port number n opens ttyS<n-1>, the node of the n-th built-in serial port.
  bool Open(std::int32_t APortNo);
  // Opens Port; fails with code 2 when Port is empty.
  bool Open(bool AAutoApply);
  // Opens read-only and shared, for ReadConfig only: no apply, no hooks, no log text.
  bool OpenForQuery(const std::string& AComPort);
  bool Close();
  bool Opened() const { return hFile >= 0; }

  // Settings.
  void SetParams(std::uint32_t ABaudRate, TByteSize ADataBits, TParity AParity, TStopBits AStopBits,
                 bool AAutoApply);
  // "115200-8-N-1": baud, data bits, parity letter, stop bits 1 or 2; further fields are
  // ignored. False when the text is rejected; the settings stay unchanged then.
  bool SetParams(const std::string& AStr, bool AAutoApply);
  void SetTimeouts(std::uint32_t AWTM, std::uint32_t AWTC, std::uint32_t ARTI, std::uint32_t ARTM,
                   std::uint32_t ARTC);
  void SetTimeoutsSpec_ReadImmediatelyNoWait(std::uint32_t AWTM, std::uint32_t AWTC);
  void SetTimeoutsSpec_ReadImmediatelyWaitForFirst(std::uint32_t AWTM, std::uint32_t AWTC,
                                                   std::uint32_t ARTC);
  bool ReadConfig();
  bool ApplyBuffers();
  bool ApplyParams();
  bool ApplyTimeouts();
  bool ApplyConfig();

  // Data. A read that gets nothing is not a failure; a failed read (hang-up, I/O error,
  // closed port) gives -1 and keeps the error code.
  std::int32_t ReadBuffer(void* ABuffer, std::uint32_t ASize);
  bool ReadBuffer(void* ABuffer, std::uint32_t ASize, std::int32_t& rSize);
  std::int32_t ReadStr(std::string& AStr, std::int32_t ACount);
  std::int32_t ReadStr(Bytes& AStr, std::int32_t ACount);
  // Bytes written; 0 on failure. A write cut short by its timeout returns the bytes
  // written and stores ETIMEDOUT.
  std::int32_t WriteBuffer(const void* ABuffer, std::uint32_t ASize);
  std::int32_t WriteStr(const std::string& AStr);
  std::int32_t WriteStr(const Bytes& AStr);
  std::int32_t InputCount();

  // Purging and modem lines. Modem lines fail cleanly on a pseudo-terminal.
  bool ClearBuffers();
  bool ClearRxBuffer();
  bool ClearTxBuffer();
  bool SetRTS();
  bool ClearRTS();
  bool SetDTR();
  bool ClearDTR();
  bool SwitchToRead();
  bool SwitchToWrite();
  void ClearError() { fLastErrCode = 0; }

  // Waiting for input (com_port_wait.cpp): returns once bytes can be read or the line has
  // failed (hang-up, error), at the latest after AMs. False when it timed out.
  bool WaitReadable(std::uint32_t AMs) const;

  // Waiting and texts.
  void WaitTimeout(std::int32_t ADelay);
  void WaitChars(std::int32_t ACount);
  // Waits until the output queue is empty, at most the write timeout for what is queued.
  bool WaitTxEmpty();
  std::string ParamsAsString() const;
  std::string TimeoutsAsString() const;
  std::string PrintConfig() const;
  // Throws std::runtime_error with APrefix followed by LastErrorStr.
  [[noreturn]] void raiseLastError(const std::string& APrefix) const;

  // Device nodes ttyS*, ttyUSB*, ttyACM* under ADevRoot, sorted by port number, each
  // followed by CR LF. False when ADevRoot cannot be read.
  static bool EnumComPorts(std::string& APorts, const std::string& ADevRoot = "/dev");

  // Properties.
  bool Echo() const { return fEcho; }
  void SetEcho(bool AValue) { fEcho = AValue; }
  const std::string& Port() const { return fPort; }
  void SetPort(const std::string& AValue) { fPort = AValue; }
  TMyDCB& Settings() { return *fDCB; }
  const TMyDCB& Settings() const { return *fDCB; }
  PTimeouts Timeouts() { return &fCTO; }
  PBuffer Buffer() { return &fBuffer; }
  int Handle() const { return hFile; }
  std::uint32_t LastErrorCode() const { return fLastErrCode; }
  std::string LastErrorStr() const { return ComErrorText(fLastErrCode); }
  // Milliseconds per character at the current settings; 0 when BaudRate is 0.
  double CharLen() const;
  // Sent bytes whose echo has not been dropped yet.
  std::int32_t EchoCount() const { return fEchoCnt; }

  const TLogEvent& OnLog() const { return FLogEvent; }
  void SetOnLog(TLogEvent AValue) { FLogEvent = std::move(AValue); }
  const TNotifyEvent& OnAfterOpen() const { return FOnAfterOpen; }
  void SetOnAfterOpen(TNotifyEvent AValue) { FOnAfterOpen = std::move(AValue); }
  const TNotifyEvent& OnBeforeClose() const { return FOnBeforeClose; }
  void SetOnBeforeClose(TNotifyEvent AValue) { FOnBeforeClose = std::move(AValue); }
  const TNotifyEvent& OnDataSent() const { return FOnDataSent; }
  void SetOnDataSent(TNotifyEvent AValue) { FOnDataSent = std::move(AValue); }
  const TNotifyEvent& OnPortSttChange() const { return FOnPortSttChange; }
  void SetOnPortSttChange(TNotifyEvent AValue) { FOnPortSttChange = std::move(AValue); }

 private:
  bool OpenDevice(const std::string& AComPort, bool AForQuery);
  bool CheckOpen();
  bool SetModemLine(bool ARts, bool AOn);
  bool Fail(int AErrno);
  std::int32_t ReadRaw(std::uint8_t* ABuffer, std::uint32_t ASize);
  void ReportSettings();
  void Log(const std::string& AText);
  static void Notify(const TNotifyEvent& AHook, TMyComPort& ASender);

  int hFile = -1;
  bool fExclusive = false;  // hFile holds the port exclusively (not a query open)
  bool fEcho = false;
  std::int32_t fEchoCnt = 0;
  std::string fPort;
  std::unique_ptr<TMyDCB> fDCB;
  TCommTimeouts fCTO;
  TBuffer fBuffer;
  std::string FLastParams;
  std::string FLastTimeouts;
  std::uint32_t fLastErrCode = 0;
  TLogEvent FLogEvent;
  TNotifyEvent FOnAfterOpen, FOnBeforeClose, FOnDataSent, FOnPortSttChange;
};

}  // namespace kiren
