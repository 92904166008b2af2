#include "serial/com_port.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "serial/posix_tty.h"

namespace kiren {

namespace {

// Largest byte count a signed 32-bit result can report.
constexpr std::uint32_t kMaxCount = std::numeric_limits<std::int32_t>::max();
const std::string kDevPrefix = "/dev/";

tty::Deadline DeadlineIn(const std::optional<std::uint64_t>& AMs) {
  if (!AMs)
    return std::nullopt;
  return tty::Clock::now() + std::chrono::milliseconds(*AMs);
}

}  // namespace

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
  fLastError = PortErrorOf(AErrno, Opened());
  return false;
}

bool TMyComPort::Fail(TPortCondition ACondition) {
  fLastError = PortError(ACondition);
  return false;
}

bool TMyComPort::CheckOpen() {
  return Opened() || Fail(TPortCondition::Closed);
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
  if (fPort.empty())
    return Fail(TPortCondition::NotFound);
  int Fd = -1;
  if (const int Err = tty::OpenTty(Path, !AForQuery, Fd))
    return Fail(Err);
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
    const TPortError Error = fLastError;
    Close();
    fLastError = Error;
    return false;
  }
  Notify(FOnAfterOpen, *this);
  Log("Open " + Name);
  return true;
}

bool TMyComPort::Open(std::int32_t APortNo) {
  if (APortNo < 1)
    return Fail(TPortCondition::NotFound);
  return Open("ttyS" + std::to_string(APortNo - 1), true);
}

bool TMyComPort::Open(bool AAutoApply) {
  if (fPort.empty())
    return Fail(TPortCondition::NotFound);
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
  const auto Params = ParseLineParams(AStr);
  if (!Params)
    return false;
  SetParams(Params->BaudRate, Params->ByteSize, Params->Parity, Params->StopBits, AAutoApply);
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
  const TReadPlan Plan = PlanRead(fCTO, ASize);
  const tty::Deadline Total = DeadlineIn(Plan.TotalMs);
  std::size_t Got = 0;
  tty::Clock::time_point LastByte{};
  while (Got < ASize) {
    tty::Deadline Wait = Total;
    if (Got > 0 && !Plan.OnePass && Plan.GapMs) {
      const auto Gap = LastByte + std::chrono::milliseconds(*Plan.GapMs);
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
    if (Plan.OnePass)
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
  const int Err = tty::WriteAll(hFile, static_cast<const std::uint8_t*>(ABuffer), ASize,
                                DeadlineIn(PlanWrite(fCTO, ASize)), Written);
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
  const auto Deadline =
      DeadlineIn(PlanWrite(fCTO, static_cast<std::uint64_t>(std::max(Queued, 0))));
  while (Queued > 0) {
    if (Deadline && tty::Clock::now() >= *Deadline)
      return Fail(TPortCondition::TimedOut);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (const int Err = tty::QueuedBytes(hFile, tty::TQueue::Output, Queued))
      return Fail(Err);
  }
  return true;
}

std::string TMyComPort::ParamsAsString() const {
  return LineParamsText(fDCB->Params());
}

std::string TMyComPort::TimeoutsAsString() const {
  return TimeoutsText(fCTO);
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
