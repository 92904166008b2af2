// Serial port with line settings, timeouts and synchronous I/O over a Linux tty.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "serial/dev_ports.h"
#include "serial/line_settings.h"
#include "serial/port_error.h"
#include "serial/timeouts.h"

namespace kiren {

// Driver queue sizes in bytes. Kept for the settings surface; a Linux tty has fixed queues.
struct TBuffer {
  std::int32_t InputSize = 0;
  std::int32_t OutputSize = 0;
};
using PBuffer = TBuffer*;

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
  void ClearError() { fLastError = {}; }

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

  // Device nodes ttyS*, ttyUSB*, ttyACM* under ADevRoot (ListDevPorts).
  static bool EnumComPorts(std::string& APorts, const std::string& ADevRoot = "/dev") {
    return ListDevPorts(APorts, ADevRoot);
  }

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
  std::uint32_t LastErrorCode() const { return fLastError.Code; }
  std::string LastErrorStr() const { return ComErrorText(fLastError.Code); }
  // What the last failure meant (None after ClearError).
  TPortCondition LastCondition() const { return fLastError.Condition; }
  // The last failure said the device behind the port is gone (hang-up, unplugged): nothing
  // will answer on this port again.
  bool DeviceGone() const { return fLastError.Condition == TPortCondition::Gone; }
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
  bool Fail(TPortCondition ACondition);
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
  TPortError fLastError;
  TLogEvent FLogEvent;
  TNotifyEvent FOnAfterOpen, FOnBeforeClose, FOnDataSent, FOnPortSttChange;
};

}  // namespace kiren
