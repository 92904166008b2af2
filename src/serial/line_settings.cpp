#include "serial/line_settings.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace kiren {

namespace {

const char* const kParityLetters[] = {"N", "O", "E", "M", "S"};
const char* const kParityWords[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
const char* const kStopBitsTexts[] = {"1", "1.5", "2"};
const char* const kDtrTexts[] = {"DTR_DISABLE", "DTR_ENABLE", "DTR_HANDSHAKE"};
const char* const kRtsTexts[] = {"RTS_DISABLE", "RTS_ENABLE", "RTS_HANDSHAKE", "RTS_TOGGLE"};

template <std::size_t N>
std::string TableName(const char* const (&ATable)[N], unsigned AIndex) {
  return AIndex < N ? ATable[AIndex] : "?";
}

// Whole decimal number of digits only, within AMax (at most 32 bits, so that the running
// value cannot overflow; leading zeros are fine).
bool ParseWhole(const std::string& AText, std::uint32_t AMax, std::uint64_t& AValue) {
  if (AText.empty())
    return false;
  std::uint64_t V = 0;
  for (const char C : AText) {
    if (C < '0' || C > '9')
      return false;
    V = V * 10 + static_cast<unsigned>(C - '0');
    if (V > AMax)
      return false;
  }
  AValue = V;
  return true;
}

int ParityIndex(char ALetter) {
  switch (ALetter) {
    case 'N':
    case 'n':
      return kParityNone;
    case 'O':
    case 'o':
      return kParityOdd;
    case 'E':
    case 'e':
      return kParityEven;
    case 'M':
    case 'm':
      return kParityMark;
    case 'S':
    case 's':
      return kParitySpace;
    default:
      return -1;
  }
}

std::vector<std::string> SplitAtDash(const std::string& AText) {
  std::vector<std::string> Fields;
  std::size_t Start = 0;
  for (;;) {
    const auto Dash = AText.find('-', Start);
    Fields.push_back(AText.substr(Start, Dash - Start));
    if (Dash == std::string::npos)
      break;
    Start = Dash + 1;
  }
  return Fields;
}

std::string Hex(unsigned AValue, int ADigits) {
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "%0*X", ADigits, AValue);
  return Buf;
}

std::string TrueFalse(bool AValue) {
  return AValue ? "True" : "False";
}

std::string CharHex(char AValue) {
  return Hex(static_cast<unsigned char>(AValue), 2);
}

}  // namespace

std::string ParityName(TParity AParity, bool AWord) {
  return AWord ? TableName(kParityWords, AParity) : TableName(kParityLetters, AParity);
}
std::string StopBitsName(TStopBits AStopBits) {
  return TableName(kStopBitsTexts, AStopBits);
}
std::string DtrControlName(TDTRControl AValue) {
  return TableName(kDtrTexts, AValue);
}
std::string RtsControlName(TRTSControl AValue) {
  return TableName(kRtsTexts, AValue);
}

std::optional<TLineParams> ParseLineParams(const std::string& AText) {
  const auto Fields = SplitAtDash(AText);
  if (Fields.size() < 4)
    return std::nullopt;
  std::uint64_t Baud = 0, Bits = 0, Stop = 0;
  if (!ParseWhole(Fields[0], std::numeric_limits<std::uint32_t>::max(), Baud))
    return std::nullopt;
  if (!ParseWhole(Fields[1], 8, Bits) || Bits < 5)
    return std::nullopt;
  const int Parity = Fields[2].empty() ? -1 : ParityIndex(Fields[2][0]);
  if (Parity < 0)
    return std::nullopt;
  if (!ParseWhole(Fields[3], 2, Stop) || Stop < 1)
    return std::nullopt;
  return TLineParams{static_cast<std::uint32_t>(Baud), static_cast<TByteSize>(Bits),
                     static_cast<TParity>(Parity), Stop == 1 ? kOneStopBit : kTwoStopBits};
}

std::string LineParamsText(const TLineParams& AParams) {
  return std::to_string(AParams.BaudRate) + "-" + std::to_string(AParams.ByteSize) + "-" +
         ParityName(AParams.Parity) + "-" + StopBitsName(AParams.StopBits);
}

// ---- TMyDCB ----

TMyDCB::TMyDCB() {
  fDCB.DCBlength = sizeof(kiren::DCB);
  fDCB.BaudRate = 9600;
  fDCB.ByteSize = 8;
  fDCB.Parity = kParityNone;
  fDCB.StopBits = kOneStopBit;
  SetFlagBinary(true);
  SetFlagDtrControl(0);
  SetFlagRtsControl(0);
  fDCB.XonChar = 0;
}

void TMyDCB::SetParams(const TLineParams& AParams) {
  fDCB.BaudRate = AParams.BaudRate;
  fDCB.ByteSize = AParams.ByteSize;
  fDCB.Parity = AParams.Parity;
  fDCB.StopBits = AParams.StopBits;
}

std::string TMyDCB::Print() const {
  const std::string NL = "\r\n";
  std::string S = "DCB: " + NL;
  S += " BaudRate: " + std::to_string(BaudRate()) + NL;
  S += " ByteSize: " + std::to_string(ByteSize()) + NL;
  S += " Parity: " + ParityName(Parity()) + NL;
  S += " StopBits: " + StopBitsName(StopBits()) + NL;
  S += " Flags: 0x" + Hex(fDCB.flags, 8) + NL;
  S += "  fBinary: " + TrueFalse(FlagBinary()) + NL;
  S += "  fParity: " + TrueFalse(FlagParity()) + NL;
  S += "  fOutxCtsFlow: " + TrueFalse(FlagOutxCtsFlow()) + NL;
  S += "  fOutxDsrFlow: " + TrueFalse(FlagOutxDsrFlow()) + NL;
  S += "  fDtrControl: " + DtrControlName(FlagDtrControl()) + NL;
  S += "  fDsrSensitivity: " + TrueFalse(FlagDsrSensitivity()) + NL;
  S += "  fTXContinueOnXoff: " + TrueFalse(FlagTXContinueOnXoff()) + NL;
  S += "  fOutX: " + TrueFalse(FlagOutX()) + NL;
  S += "  fInX: " + TrueFalse(FlagInX()) + NL;
  S += "  fErrorChar: " + TrueFalse(FlagErrorChar()) + NL;
  S += "  fNull: " + TrueFalse(FlagNull()) + NL;
  S += "  fRtsControl: " + RtsControlName(FlagRtsControl()) + NL;
  S += "  fAbortOnError: " + TrueFalse(FlagAbortOnError()) + NL;
  S += " XonLim: " + std::to_string(XonLim()) + " (0x" + Hex(XonLim(), 2) + ")" + NL;
  S += " XoffLim: " + std::to_string(XoffLim()) + " (0x" + Hex(XoffLim(), 2) + ")" + NL;
  S += " XonChar: 0x" + CharHex(XonChar()) + NL;
  S += " XoffChar: 0x" + CharHex(XoffChar()) + NL;
  S += " ErrorChar: 0x" + CharHex(ErrorChar()) + NL;
  S += " EofChar: 0x" + CharHex(EofChar()) + NL;
  S += " EvtChar: 0x" + CharHex(EvtChar());
  return S;
}

}  // namespace kiren
