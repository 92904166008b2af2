#include "serial/com_port.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

#include "serial/posix_tty.h"

namespace kiren {

namespace {

constexpr std::uint32_t kMaxTimeout = std::numeric_limits<std::uint32_t>::max();
// Largest byte count a signed 32-bit result can report.
constexpr std::uint32_t kMaxCount = std::numeric_limits<std::int32_t>::max();
const std::string kDevPrefix = "/dev/";

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

// Deadline of a transfer of ACount bytes: AMul x ACount + AConst ms; none when both are 0.
tty::Deadline TotalDeadline(std::uint32_t AMul, std::uint32_t AConst, std::uint64_t ACount) {
  if (AMul == 0 && AConst == 0)
    return std::nullopt;
  // Beyond about a year the wait is as good as endless (and the sum could overflow).
  constexpr std::uint64_t kEndless = 1ull << 35;
  if (ACount != 0 && AMul > kEndless / ACount)
    return std::nullopt;
  const std::uint64_t Ms = static_cast<std::uint64_t>(AMul) * ACount + AConst;
  if (Ms > kEndless)
    return std::nullopt;
  return tty::Clock::now() + std::chrono::milliseconds(Ms);
}

// strerror_r comes in a GNU and an XSI flavour; both are handled here.
[[maybe_unused]] const char* ErrnoText(const char* AGnu, char*) {
  return AGnu;
}
[[maybe_unused]] const char* ErrnoText(int AXsi, char* ABuf) {
  return AXsi == 0 ? ABuf : "";
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

std::string ComErrorText(std::uint32_t ACode) {
  if (ACode == kErrPortNotFound)
    return "COM-порт не найден";
  if (ACode == kErrPortClosed)
    return "COM-порт закрыт";
  char Buf[256] = {};
  std::string Text = ErrnoText(strerror_r(static_cast<int>(ACode), Buf, sizeof Buf), Buf);
  while (!Text.empty() &&
         (Text.back() == ' ' || Text.back() == '\r' || Text.back() == '\n' || Text.back() == '.'))
    Text.pop_back();
  return Text;
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

// ---- port listing helpers ----

std::int32_t PortNumber(const std::string& AName) {
  std::string Digits;
  for (const char C : AName)
    if (C >= '0' && C <= '9')
      Digits += C;
  std::uint64_t V = 0;
  if (!ParseWhole(Digits, std::numeric_limits<std::int32_t>::max(), V))
    return 1000;
  return static_cast<std::int32_t>(V);
}

void SortPorts(TPortArray& APorts) {
  for (auto& P : APorts)
    P.num = PortNumber(P.name);
  std::stable_sort(APorts.begin(), APorts.end(),
                   [](const TPortInfo& A, const TPortInfo& B) { return A.num < B.num; });
}

bool TMyComPort::EnumComPorts(std::string& APorts, const std::string& ADevRoot) {
  APorts.clear();
  DIR* Dir = opendir(ADevRoot.c_str());
  if (Dir == nullptr)
    return false;
  std::vector<std::string> Names;
  while (const dirent* Entry = readdir(Dir)) {
    const std::string Name = Entry->d_name;
    for (const char* Prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
      const std::size_t Len = std::strlen(Prefix);
      if (Name.size() > Len && Name.compare(0, Len, Prefix) == 0 &&
          Name.find_first_not_of("0123456789", Len) == std::string::npos)
        Names.push_back(Name);
    }
  }
  closedir(Dir);
  std::sort(Names.begin(), Names.end());  // a fixed order for equal numbers
  TPortArray Ports;
  for (auto& N : Names)
    Ports.push_back({N, 0});
  SortPorts(Ports);
  for (const auto& P : Ports)
    APorts += P.name + "\r\n";
  return true;
}

// ---- TMyComPort ----

TMyComPort::TMyComPort() : fDCB(std::make_unique<TMyDCB>()) {
  fCTO.WriteTotalTimeoutMultiplier = 1;
  fCTO.WriteTotalTimeoutConstant = 1000;
  fCTO.ReadIntervalTimeout = 1000;
  fBuffer.InputSize = 1200;
  fBuffer.OutputSize = 1200;
}

TMyComPort::~TMyComPort() {
  Close();
}

bool TMyComPort::Fail(int AErrno) {
  // ENXIO is "no device behind this node"; its number would otherwise read as "closed".
  fLastErrCode = AErrno == ENXIO ? kErrPortNotFound : static_cast<std::uint32_t>(AErrno);
  return false;
}

bool TMyComPort::CheckOpen() {
  if (Opened())
    return true;
  fLastErrCode = kErrPortClosed;
  return false;
}

void TMyComPort::Notify(const TNotifyEvent& AHook, TMyComPort& ASender) {
  if (AHook)
    AHook(ASender);
}

void TMyComPort::Log(const std::string& AText) {
  if (FLogEvent)
    FLogEvent(*this, AText);
}

bool TMyComPort::OpenDevice(const std::string& AComPort, bool AForQuery) {
  std::string Path;
  if (AComPort.compare(0, kDevPrefix.size(), kDevPrefix) == 0) {
    fPort = AComPort.substr(kDevPrefix.size());
    Path = AComPort;
  } else {
    fPort = AComPort;
    Path = kDevPrefix + AComPort;
  }
  if (fPort.empty()) {
    fLastErrCode = kErrPortNotFound;
    return false;
  }
  int Fd = -1;
  if (const int Err = tty::OpenTty(Path, !AForQuery, Fd)) {
    return Fail(Err == ENOENT || Err == ENODEV ? static_cast<int>(kErrPortNotFound) : Err);
  }
  hFile = Fd;
  fExclusive = !AForQuery;
  fEchoCnt = 0;
  return true;
}

bool TMyComPort::Open(const std::string& AComPort, bool AAutoApply) {
  const std::string Name = AComPort;  // AComPort may be Port itself
  if (Opened())
    Close();  // never leak the previous descriptor
  if (!OpenDevice(Name, false))
    return false;
  if (AAutoApply && !ApplyConfig()) {
    const std::uint32_t Code = fLastErrCode;
    Close();
    fLastErrCode = Code;
    return false;
  }
  Notify(FOnAfterOpen, *this);
  Log("Open " + Name);
  return true;
}

bool TMyComPort::Open(std::int32_t APortNo) {
  if (APortNo < 1)
    return Fail(static_cast<int>(kErrPortNotFound));
  return Open("ttyS" + std::to_string(APortNo - 1), true);
}

bool TMyComPort::Open(bool AAutoApply) {
  if (fPort.empty())
    return Fail(static_cast<int>(kErrPortNotFound));
  return Open(std::string(fPort), AAutoApply);
}

bool TMyComPort::OpenForQuery(const std::string& AComPort) {
  if (Opened())
    Close();
  return OpenDevice(AComPort, true);
}

bool TMyComPort::Close() {
  if (!Opened())
    return true;
  ClearBuffers();
  const int Err = tty::CloseTty(hFile, fExclusive);
  // The descriptor is gone even when close reports an error; keeping it would close a
  // reused descriptor later.
  hFile = -1;
  fEchoCnt = 0;
  Notify(FOnBeforeClose, *this);
  Log("Close " + fPort);
  return Err == 0 || Fail(Err);
}

// ---- settings ----

void TMyComPort::SetParams(std::uint32_t ABaudRate, TByteSize ADataBits, TParity AParity,
                           TStopBits AStopBits, bool AAutoApply) {
  fDCB->SetBaudRate(ABaudRate);
  fDCB->SetByteSize(ADataBits);
  fDCB->SetParity(AParity);
  fDCB->SetStopBits(AStopBits);
  if (AAutoApply && Opened())
    ApplyParams();
}

bool TMyComPort::SetParams(const std::string& AStr, bool AAutoApply) {
  const auto Fields = SplitAtDash(AStr);
  if (Fields.size() < 4)
    return false;
  std::uint64_t Baud = 0, Bits = 0, Stop = 0;
  if (!ParseWhole(Fields[0], std::numeric_limits<std::uint32_t>::max(), Baud))
    return false;
  if (!ParseWhole(Fields[1], 8, Bits) || Bits < 5)
    return false;
  const int Parity = Fields[2].empty() ? -1 : ParityIndex(Fields[2][0]);
  if (Parity < 0)
    return false;
  if (!ParseWhole(Fields[3], 2, Stop) || Stop < 1)
    return false;
  SetParams(static_cast<std::uint32_t>(Baud), static_cast<TByteSize>(Bits),
            static_cast<TParity>(Parity), Stop == 1 ? kOneStopBit : kTwoStopBits, AAutoApply);
  return true;
}

void TMyComPort::SetTimeouts(std::uint32_t AWTM, std::uint32_t AWTC, std::uint32_t ARTI,
                             std::uint32_t ARTM, std::uint32_t ARTC) {
  fCTO.WriteTotalTimeoutMultiplier = AWTM;
  fCTO.WriteTotalTimeoutConstant = AWTC;
  fCTO.ReadIntervalTimeout = ARTI;
  fCTO.ReadTotalTimeoutMultiplier = ARTM;
  fCTO.ReadTotalTimeoutConstant = ARTC;
}

void TMyComPort::SetTimeoutsSpec_ReadImmediatelyNoWait(std::uint32_t AWTM, std::uint32_t AWTC) {
  SetTimeouts(AWTM, AWTC, kMaxTimeout, 0, 0);
}

void TMyComPort::SetTimeoutsSpec_ReadImmediatelyWaitForFirst(std::uint32_t AWTM, std::uint32_t AWTC,
                                                             std::uint32_t ARTC) {
  SetTimeouts(AWTM, AWTC, kMaxTimeout, kMaxTimeout, ARTC);
}

bool TMyComPort::ReadConfig() {
  if (!CheckOpen())
    return false;
  kiren::DCB D = fDCB->DCB();
  if (const int Err = tty::ReadDcb(hFile, D))
    return Fail(Err);
  fDCB->SetDCB(D);
  return true;
}

// A Linux tty has fixed queues; the sizes are kept and the step only checks the port.
bool TMyComPort::ApplyBuffers() {
  if (!CheckOpen())
    return false;
  ReportSettings();
  return true;
}

bool TMyComPort::ApplyParams() {
  if (!CheckOpen())
    return false;
  if (const int Err = tty::ApplyDcb(hFile, fDCB->DCB()))
    return Fail(Err);
  ReportSettings();
  return true;
}

// Reads and writes take the timeouts from Timeouts at each call.
bool TMyComPort::ApplyTimeouts() {
  if (!CheckOpen())
    return false;
  ReportSettings();
  return true;
}

bool TMyComPort::ApplyConfig() {
  return ApplyBuffers() && ApplyParams() && ApplyTimeouts();
}

void TMyComPort::ReportSettings() {
  if ((!FLogEvent && !FOnPortSttChange) || !Opened())
    return;
  const std::string P = ParamsAsString();
  const std::string T = TimeoutsAsString();
  std::string Text;
  if (P != FLastParams) {
    FLastParams = P;
    Text = P;
  }
  if (T != FLastTimeouts) {
    FLastTimeouts = T;
    Text = Text.empty() ? T : Text + "  (" + T + ")";
  }
  if (Text.empty())
    return;
  Log(Text);
  Notify(FOnPortSttChange, *this);
}

// ---- data ----

std::int32_t TMyComPort::ReadRaw(std::uint8_t* ABuffer, std::uint32_t ASize) {
  if (!CheckOpen())
    return -1;
  if (ASize == 0)
    return 0;
  ASize = std::min(ASize, kMaxCount);  // the count must fit the signed result
  const TCommTimeouts T = fCTO;
  const bool Immediate = T.ReadIntervalTimeout == kMaxTimeout &&
                         T.ReadTotalTimeoutMultiplier == 0 && T.ReadTotalTimeoutConstant == 0;
  const bool WaitForFirst =
      T.ReadIntervalTimeout == kMaxTimeout && T.ReadTotalTimeoutMultiplier == kMaxTimeout &&
      T.ReadTotalTimeoutConstant != 0 && T.ReadTotalTimeoutConstant != kMaxTimeout;
  tty::Deadline Total;
  if (Immediate) {
    Total = tty::Clock::now();
  } else if (WaitForFirst) {
    Total = tty::Clock::now() + std::chrono::milliseconds(T.ReadTotalTimeoutConstant);
  } else {
    Total = TotalDeadline(T.ReadTotalTimeoutMultiplier, T.ReadTotalTimeoutConstant, ASize);
  }
  const bool OnePass = Immediate || WaitForFirst;
  std::size_t Got = 0;
  tty::Clock::time_point LastByte{};
  while (Got < ASize) {
    tty::Deadline Wait = Total;
    if (Got > 0 && !OnePass && T.ReadIntervalTimeout != 0) {
      const auto Gap = LastByte + std::chrono::milliseconds(T.ReadIntervalTimeout);
      Wait = Wait ? std::min(*Wait, Gap) : Gap;
    }
    bool Ready = false;
    std::size_t N = 0;
    int Err = tty::WaitReadable(hFile, Wait, Ready);
    if (Err == 0 && Ready)
      Err = tty::ReadSome(hFile, ABuffer + Got, ASize - Got, N);
    // Bytes that came before a failure are delivered; the next read reports it.
    if (Err != 0)
      return Got > 0 ? static_cast<std::int32_t>(Got) : (Fail(Err), -1);
    if (!Ready)
      break;
    Got += N;
    if (N > 0)
      LastByte = tty::Clock::now();
    if (OnePass)
      break;
  }
  return static_cast<std::int32_t>(Got);
}

std::int32_t TMyComPort::ReadBuffer(void* ABuffer, std::uint32_t ASize) {
  auto* Out = static_cast<std::uint8_t*>(ABuffer);
  if (!fEcho || fEchoCnt <= 0)
    return ReadRaw(Out, ASize);
  const auto Pending = static_cast<std::uint32_t>(fEchoCnt);
  ASize = std::min(ASize, kMaxCount - Pending);  // echo and data together fit the count
  std::vector<std::uint8_t> Scratch(static_cast<std::size_t>(Pending) + ASize);
  const std::int32_t R = ReadRaw(Scratch.data(), static_cast<std::uint32_t>(Scratch.size()));
  if (R < 0)
    return R;
  const auto Received = static_cast<std::uint32_t>(R);
  if (Received <= Pending) {
    fEchoCnt = static_cast<std::int32_t>(Pending - Received);
    return 0;
  }
  const std::uint32_t Count = std::min(Received - Pending, ASize);
  std::copy_n(Scratch.begin() + Pending, Count, Out);
  fEchoCnt = 0;
  return static_cast<std::int32_t>(Count);
}

bool TMyComPort::ReadBuffer(void* ABuffer, std::uint32_t ASize, std::int32_t& rSize) {
  rSize = ReadBuffer(ABuffer, ASize);
  return rSize > 0;
}

std::int32_t TMyComPort::ReadStr(std::string& AStr, std::int32_t ACount) {
  AStr.assign(static_cast<std::size_t>(std::max(ACount, 0)), '\0');
  const std::int32_t R = ReadBuffer(AStr.data(), static_cast<std::uint32_t>(AStr.size()));
  AStr.resize(static_cast<std::size_t>(std::max(R, 0)));
  return R;
}

std::int32_t TMyComPort::ReadStr(Bytes& AStr, std::int32_t ACount) {
  AStr.assign(static_cast<std::size_t>(std::max(ACount, 0)), 0);
  const std::int32_t R = ReadBuffer(AStr.data(), static_cast<std::uint32_t>(AStr.size()));
  AStr.resize(static_cast<std::size_t>(std::max(R, 0)));
  return R;
}

std::int32_t TMyComPort::WriteBuffer(const void* ABuffer, std::uint32_t ASize) {
  if (!CheckOpen())
    return 0;
  ASize = std::min(ASize, kMaxCount);  // the count must fit the signed result
  std::size_t Written = 0;
  const int Err = tty::WriteAll(
      hFile, static_cast<const std::uint8_t*>(ABuffer), ASize,
      TotalDeadline(fCTO.WriteTotalTimeoutMultiplier, fCTO.WriteTotalTimeoutConstant, ASize),
      Written);
  if (Err != 0)
    Fail(Err);
  if (Err != 0 && (Err != ETIMEDOUT || Written == 0))
    return 0;
  if (fEcho)
    fEchoCnt = static_cast<std::int32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(fEchoCnt) + Written, kMaxCount));
  Notify(FOnDataSent, *this);
  return static_cast<std::int32_t>(Written);
}

std::int32_t TMyComPort::WriteStr(const std::string& AStr) {
  return WriteBuffer(AStr.data(), static_cast<std::uint32_t>(AStr.size()));
}

std::int32_t TMyComPort::WriteStr(const Bytes& AStr) {
  return WriteBuffer(AStr.data(), static_cast<std::uint32_t>(AStr.size()));
}

std::int32_t TMyComPort::InputCount() {
  if (!CheckOpen())
    return -1;
  int Count = 0;
  if (const int Err = tty::QueuedBytes(hFile, tty::TQueue::Input, Count))
    return Fail(Err), -1;
  return Count;
}

// ---- purging and modem lines ----

bool TMyComPort::ClearBuffers() {
  if (!CheckOpen())
    return false;
  fEchoCnt = 0;
  const int Err = tty::Flush(hFile, tty::TQueue::Both);
  return Err == 0 || Fail(Err);
}

bool TMyComPort::ClearRxBuffer() {
  if (!CheckOpen())
    return false;
  fEchoCnt = 0;
  const int Err = tty::Flush(hFile, tty::TQueue::Input);
  return Err == 0 || Fail(Err);
}

bool TMyComPort::ClearTxBuffer() {
  if (!CheckOpen())
    return false;
  const int Err = tty::Flush(hFile, tty::TQueue::Output);
  return Err == 0 || Fail(Err);
}

bool TMyComPort::SetModemLine(bool ARts, bool AOn) {
  if (!CheckOpen())
    return false;
  const int Err = tty::SetModemLine(hFile, ARts ? tty::TLine::Rts : tty::TLine::Dtr, AOn);
  return Err == 0 || Fail(Err);
}

bool TMyComPort::SetRTS() {
  return SetModemLine(true, true);
}
bool TMyComPort::ClearRTS() {
  return SetModemLine(true, false);
}
bool TMyComPort::SetDTR() {
  return SetModemLine(false, true);
}
bool TMyComPort::ClearDTR() {
  return SetModemLine(false, false);
}

bool TMyComPort::SwitchToRead() {
  const bool Rts = ClearRTS();
  const bool Dtr = SetDTR();
  return Rts && Dtr;
}

bool TMyComPort::SwitchToWrite() {
  const bool Dtr = ClearDTR();
  const bool Rts = SetRTS();
  return Dtr && Rts;
}

// ---- waiting and texts ----

void TMyComPort::WaitTimeout(std::int32_t ADelay) {
  if (ADelay > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(ADelay));
}

double TMyComPort::CharLen() const {
  if (fDCB->BaudRate() == 0)
    return 0.0;
  int Bits = fDCB->ByteSize() + fDCB->StopBits() + 1;
  if (fDCB->Parity() != kParityNone)
    ++Bits;
  return Bits * 1000.0 / fDCB->BaudRate();
}

void TMyComPort::WaitChars(std::int32_t ACount) {
  const double Ms = std::ceil(CharLen() * ACount);  // whole part, plus one for a fraction
  if (Ms <= 0)
    return;
  // A slow rate times a large count can exceed the sleep's range: wait the longest it takes.
  WaitTimeout(Ms >= kMaxCount ? static_cast<std::int32_t>(kMaxCount)
                              : static_cast<std::int32_t>(Ms));
}

bool TMyComPort::WaitTxEmpty() {
  if (!CheckOpen())
    return false;
  int Queued = 0;
  if (const int Err = tty::QueuedBytes(hFile, tty::TQueue::Output, Queued))
    return Fail(Err);
  const auto Deadline = TotalDeadline(fCTO.WriteTotalTimeoutMultiplier,
                                      fCTO.WriteTotalTimeoutConstant, std::max(Queued, 0));
  while (Queued > 0) {
    if (Deadline && tty::Clock::now() >= *Deadline)
      return Fail(ETIMEDOUT);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (const int Err = tty::QueuedBytes(hFile, tty::TQueue::Output, Queued))
      return Fail(Err);
  }
  return true;
}

std::string TMyComPort::ParamsAsString() const {
  return std::to_string(fDCB->BaudRate()) + "-" + std::to_string(fDCB->ByteSize()) + "-" +
         ParityName(fDCB->Parity()) + "-" + StopBitsName(fDCB->StopBits());
}

std::string TMyComPort::TimeoutsAsString() const {
  char Buf[128];
  std::snprintf(Buf, sizeof Buf, "RI:%d RM:%d RC:%d WM:%d WC:%d",
                static_cast<std::int32_t>(fCTO.ReadIntervalTimeout),
                static_cast<std::int32_t>(fCTO.ReadTotalTimeoutMultiplier),
                static_cast<std::int32_t>(fCTO.ReadTotalTimeoutConstant),
                static_cast<std::int32_t>(fCTO.WriteTotalTimeoutMultiplier),
                static_cast<std::int32_t>(fCTO.WriteTotalTimeoutConstant));
  return Buf;
}

std::string TMyComPort::PrintConfig() const {
  return fDCB->Print() + "\r\n\r\n" + "Timeouts: " + "\r\n" +
         " WTM: " + std::to_string(fCTO.WriteTotalTimeoutMultiplier) + "\r\n" +
         " WTC: " + std::to_string(fCTO.WriteTotalTimeoutConstant) + "\r\n" +
         " RTI: " + std::to_string(fCTO.ReadIntervalTimeout) + "\r\n" +
         " RTM: " + std::to_string(fCTO.ReadTotalTimeoutMultiplier) + "\r\n" +
         " RTC: " + std::to_string(fCTO.ReadTotalTimeoutConstant);
}

void TMyComPort::raiseLastError(const std::string& APrefix) const {
  throw std::runtime_error(APrefix + LastErrorStr());
}

}  // namespace kiren
