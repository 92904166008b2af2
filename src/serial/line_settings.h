// Line settings: the 28-byte settings record, named access to its fields, the name tables,
// the "115200-8-N-1" text both ways and the printed dump.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// The four values a settings text carries.
struct TLineParams {
  std::uint32_t BaudRate = 0;
  TByteSize ByteSize = 0;
  TParity Parity = kParityNone;
  TStopBits StopBits = kOneStopBit;
};

// "115200-8-N-1": baud, data bits 5..8, parity letter (N O E M S, either case, only the
// first character counts), stop bits 1 or 2; fields after the fourth are ignored. Nothing
// for a text that is rejected.
std::optional<TLineParams> ParseLineParams(const std::string& AText);
// The same text back: baud, data bits, parity letter and stop bits text ("1.5" included).
std::string LineParamsText(const TLineParams& AParams);

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

  TLineParams Params() const { return {fDCB.BaudRate, fDCB.ByteSize, fDCB.Parity, fDCB.StopBits}; }
  void SetParams(const TLineParams& AParams);

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

}  // namespace kiren
