#include "worker/th.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "serial/com_port.h"

namespace kiren {

namespace {

constexpr char kLineSettings[] = "115200-8-N-1";
// Write timeout: 1 ms per byte plus 1000 ms.
constexpr std::uint32_t kWriteTimeoutPerByte = 1;
constexpr std::uint32_t kWriteTimeoutConst = 1000;
constexpr std::int32_t kAnswerTimeoutMs = TExchange::kTimeoutMs;
constexpr std::int32_t kDefaultCodeSize = 5;
// First major version that has the configuration command, and the last one below the
// extended card read.
constexpr std::int32_t kConfigVersion = 5;
constexpr std::int32_t kExtendedReadVersion = 4;
// Result of a version answer that the version routine cannot take.
constexpr int kVersionUnusable = kResBadAnswer;

// Why the port did not open.
TEndReason OpenFailure(TPortCondition ACondition) {
  switch (ACondition) {
    case TPortCondition::Busy:
      return TEndReason::PortBusy;
    case TPortCondition::NotFound:
    case TPortCondition::Gone:
      return TEndReason::PortNotFound;
    default:
      return TEndReason::PortFailed;
  }
}

// The worker's serial port as the exchange uses it. A failed read counts as a failure only
// when the device is gone; otherwise it is a read that got nothing.
class TComPortLink : public IExchangePort {
 public:
  explicit TComPortLink(TMyComPort& APort) : FPort(APort) {}
  bool Purge() override { return FPort.ClearBuffers(); }
  std::int32_t Write(const Bytes& AFrame) override { return FPort.WriteStr(AFrame); }
  void WaitReadable(std::uint32_t AMs) override { FPort.WaitReadable(AMs); }
  std::int32_t Read(std::uint8_t* ABuffer, std::uint32_t ASize) override {
    std::int32_t got = 0;
    FPort.ReadBuffer(ABuffer, ASize, got);
    if (got < 0)
      return FPort.DeviceGone() ? -1 : 0;
    return got;
  }
  std::string LastErrorStr() const override { return FPort.LastErrorStr(); }

 private:
  TMyComPort& FPort;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

TActionQueue::TActionQueue(std::size_t ACapacity) : FCapacity(ACapacity) {}

TActionQueue::~TActionQueue() {
  Close();
  std::unique_lock<std::mutex> guard(FLock);
  FNoWaiters.wait(guard, [this] { return FWaiters == 0; });
}

bool TActionQueue::Push(std::unique_ptr<TThAction>& AAction) {
  std::unique_lock<std::mutex> guard(FLock);
  ++FWaiters;
  FNotFull.wait(guard, [this] { return FClosed || FItems.size() < FCapacity; });
  --FWaiters;
  const bool queued = !FClosed;
  if (queued) {
    FItems.push_back(std::move(AAction));
    FNotEmpty.notify_one();
  }
  if (FWaiters == 0)
    FNoWaiters.notify_all();
  return queued;
}

bool TActionQueue::TryPush(std::unique_ptr<TThAction>& AAction) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FClosed || FItems.size() >= FCapacity)
    return false;
  FItems.push_back(std::move(AAction));
  FNotEmpty.notify_one();
  return true;
}

std::unique_ptr<TThAction> TActionQueue::Pop() {
  std::unique_lock<std::mutex> guard(FLock);
  FNotEmpty.wait(guard, [this] { return FClosed || !FItems.empty(); });
  if (FItems.empty())
    return nullptr;
  auto action = std::move(FItems.front());
  FItems.pop_front();
  FNotFull.notify_one();
  return action;
}

std::unique_ptr<TThAction> TActionQueue::TryPop() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FItems.empty())
    return nullptr;
  auto action = std::move(FItems.front());
  FItems.pop_front();
  FNotFull.notify_one();
  return action;
}

std::size_t TActionQueue::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FItems.size();
}

void TActionQueue::Close() {
  std::lock_guard<std::mutex> guard(FLock);
  FClosed = true;
  FNotFull.notify_all();
  FNotEmpty.notify_all();
}

bool TActionQueue::Closed() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClosed;
}

// ---------------------------------------------------------------------------------------------

TTh* TTh::Create(const std::string& APort, bool AUsedWiegand, TOnTerminate AOnTerminate,
                 IDeviceView& AView, IMainThread& AMain) {
  auto* th = new TTh(APort, AUsedWiegand, std::move(AOnTerminate), AView, AMain);
  try {
    th->FThread = std::thread(&TTh::Run, th);
  } catch (...) {
    delete th;  // no thread: nobody else will destroy it
    throw;
  }
  return th;
}

TTh::TTh(const std::string& APort, bool AUsedWiegand, TOnTerminate AOnTerminate, IDeviceView& AView,
         IMainThread& AMain)
    : FQueue(kQueueDepth),
      FUsedWiegand(AUsedWiegand),
      FOnTerminate(std::move(AOnTerminate)),
      FView(AView),
      FMain(AMain) {
  FDevInfo.Clear();
  FPort = std::make_unique<TMyComPort>();
  FPort->SetPort(APort);
  FPort->SetParams(kLineSettings, false);
  FPort->SetTimeoutsSpec_ReadImmediatelyNoWait(kWriteTimeoutPerByte, kWriteTimeoutConst);
  FTimeout = kAnswerTimeoutMs;
  FLink = std::make_unique<TComPortLink>(*FPort);
  FExchange = std::make_unique<TExchange>(*FLink, FClock, FExchangeLog,
                                          static_cast<std::uint32_t>(FTimeout));
  FProto = std::make_unique<TProtocol>([this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    return WriteRead(AReq, ACmd, AData);
  });
  SetCodeSize(kDefaultCodeSize);
}

TTh::~TTh() {
  if (FThread.joinable())
    FThread.join();
}

void TTh::Exec(std::unique_ptr<TThAction> AAction) {
  // Refused only once the run has ended; the action is then released here.
  if (FQueue.Push(AAction))
    WakePause();
}

bool TTh::TryExec(std::unique_ptr<TThAction>& AAction) {
  if (FQueue.TryPush(AAction)) {
    WakePause();
    return true;
  }
  if (!FQueue.Closed())
    return false;
  AAction.reset();
  return true;
}

void TTh::UseWiegand(bool AIsUsed) {
  std::lock_guard<std::mutex> guard(FCS);
  FUsedWiegand = AIsUsed;
}

std::int32_t TTh::CodeSize() const {
  std::lock_guard<std::mutex> guard(FCS);
  return FCodeSize;
}

void TTh::SetCodeSize(std::int32_t AValue) {
  std::lock_guard<std::mutex> guard(FCS);
  FCodeSize = AValue;
}

std::uint8_t TTh::Mode() const {
  std::lock_guard<std::mutex> guard(FCS);
  return FDevInfo.mode;
}

void TTh::SetMode(std::uint8_t AValue) {
  std::lock_guard<std::mutex> guard(FCS);
  FDevInfo.mode = AValue;
}

std::uint8_t TTh::EmissionPrior() const {
  std::lock_guard<std::mutex> guard(FCS);
  return FDevInfo.EmissionPrior;
}

void TTh::SetEmissionPrior(std::uint8_t AValue) {
  std::lock_guard<std::mutex> guard(FCS);
  FDevInfo.EmissionPrior = AValue;
}

std::optional<TPercoPars> TTh::LastPercoPars() const {
  std::lock_guard<std::mutex> guard(FCS);
  return FLastPercoPars;
}

void TTh::Terminate() {
  FTerminated = true;
  WakePause();
}

void TTh::WakePause() {
  // Taking the lock orders the wake after the worker's look at its condition.
  { std::lock_guard<std::mutex> guard(FPauseLock); }
  FPauseWake.notify_all();
}

std::string TTh::PortErrorStr() const {
  return FPort->LastErrorStr();
}

// ---------------------------------------------------------------------------------------------

void TTh::Run() {
  // A stop requested before the thread got here skips the run; OnTerminate still comes.
  if (!Terminated())
    Execute();
  // Nothing takes actions from now on: a producer waiting for room (perhaps the main thread,
  // which must stay free to run OnTerminate) returns at once.
  FQueue.Close();
  FMain.Post([this] {
    try {
      if (FOnTerminate)
        FOnTerminate(this);
    } catch (...) {
      // The worker is destroyed whatever the handler did.
    }
    delete this;
  });
}

void TTh::Execute() {
  // No exception leaves the run: whatever fails ends it with the port closed.
  try {
    if (!GetDevInfo()) {
      if (!FPort->Opened())
        FEndReason = OpenFailure(FPort->LastCondition());
      else
        FEndReason = FPortGone ? TEndReason::DeviceGone : TEndReason::NoVersion;
      FPort->Close();
      return;
    }
    if (FDevInfo.verMajor >= kConfigVersion)
      GetConfigInfo();
    while (!Terminated()) {
      ProcessActions();
      PollCard(FUsedWiegand);
      FMain.Send([this] { FView.ShowCardInfo(FCardInfo); });
      Pause();
    }
  } catch (...) {
    FEndReason = FPortGone ? TEndReason::DeviceGone : TEndReason::Failure;
    FPort->Close();
  }
}

void TTh::Pause() {
  std::unique_lock<std::mutex> guard(FPauseLock);
  // While idle the card poll keeps its cadence; a queued action starts at once. A new poll
  // period counts from the start of the pause under way.
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const bool woken = FPauseWake.wait_until(guard, start + PollPeriod(), [this] {
      return Terminated() || FQueue.Count() > 0 || FPeriodChanged;
    });
    if (!woken || !FPeriodChanged)
      return;
    FPeriodChanged = false;
  }
}

void TTh::SetPollPeriod(std::chrono::milliseconds APeriod) {
  {
    std::lock_guard<std::mutex> guard(FPauseLock);
    FPollPeriod.store(APeriod);
    FPeriodChanged = true;
  }
  FPauseWake.notify_all();
}

bool TTh::GetDevInfo() {
  if (!FPort->Open(true))
    return false;
  {
    std::lock_guard<std::mutex> guard(FCS);
    FDevInfo.Clear();
  }
  std::string verInfo;
  int err = FProto->GetVer(verInfo);
  if (err == kResOk) {
    try {
      FDevInfo.UpdateFromVerInfo(verInfo);
    } catch (const std::exception&) {
      // Version numbers beyond 32 bits: the answer is unusable, as if the query had failed.
      std::lock_guard<std::mutex> guard(FCS);
      FDevInfo.Clear();
      err = kVersionUnusable;
    }
  }
  if (err == kResOk) {
    std::uint8_t mode = 0;
    FProto->SetupMode(kModeQuery, mode);
    SetMode(mode);
    FUsedWiegand = FDevInfo.verMajor < kExtendedReadVersion;
  }
  FMain.Send([this, err] { FView.ShowDevInfo(FDevInfo, err); });
  return err == kResOk;
}

void TTh::GetConfigInfo() {
  if (!FPort->Opened())
    return;
  TConfig config;
  int err = kResNotExecuted;
  try {
    err = FProto->GetConfig(config);
  } catch (const std::exception&) {
    // A malformed configuration text is a failed read; it is not reported.
  }
  if (err == kResOk)
    FMain.Send([this, &config] { FView.ShowConfigInfo(config); });
}

void TTh::ProcessActions() {
  while (!Terminated()) {
    std::unique_ptr<TThAction> action = FQueue.TryPop();
    if (!action)
      return;
    auto* check = dynamic_cast<TCardCheck*>(action.get());
    if (check != nullptr)
      check->TakeReaderState(ReaderState());
    try {
      action->Execute(*FProto);
    } catch (...) {
      action->SetErrCode(kResRefused);
    }
    NoteActionResult(*action, check);
    if (action->OnDone()) {
      try {
        FMain.Send([&action] { action->OnDone()(*action); });
      } catch (...) {
        // A failing completion handler does not stop the worker.
      }
    }
    if (action->ErrCode() == kResOk) {
      if (auto* perco = dynamic_cast<TAcPercoStt*>(action.get()))
        SetCodeSize(perco->Pars().size);
    }
  }
}

void TTh::NoteActionResult(const TThAction& AAction, const TCardCheck* ACheck) {
  // A checked action read the card again: the card panel shows what the reader now reports.
  if (ACheck != nullptr && ACheck->Reported() && FCardInfo.status.CardPresent())
    FCardInfo.desc = ACheck->Reported()->Text;
  // Later checks judge the reader's answers by the parameters it took last.
  if (AAction.ErrCode() == kResOk) {
    if (const auto* perco = dynamic_cast<const TAcPercoStt*>(&AAction)) {
      std::lock_guard<std::mutex> guard(FCS);
      FLastPercoPars = perco->Pars();
    }
  }
}

TReaderState TTh::ReaderState() const {
  TReaderState state;
  std::lock_guard<std::mutex> guard(FCS);
  state.DevInfo = FDevInfo;
  state.UsedWiegand = FUsedWiegand;
  state.CodeSize = FCodeSize;
  state.LastPars = FLastPercoPars;
  return state;
}

void TTh::PollCard(bool AUseWiegand) {
  TStatus st;
  const int err = FProto->GetStatus(st);
  if (FPortGone)
    throw std::runtime_error("Ошибка COM-порта");
  if (err != kResOk)
    return;
  if (st == FCardInfo.status)
    return;
  if (!st.CardPresent()) {
    if (FCardInfo.status.CardPresent())
      FCardInfo.Clear();
    return;
  }
  TCardInfo ci;
  const int ciErr = FProto->GetCardInfo(ci);
  if (ciErr == kResPortFailure)
    throw std::runtime_error("Ошибка COM-порта");
  if (ciErr != kResOk || ci == FCardInfo)
    return;
  FCardInfo = ci;
  if (FCardInfo.status.CardPresent())
    ReadCardContent(AUseWiegand);
}

void TTh::ReadCardContent(bool AUseWiegand) {
  FCardInfo.desc.clear();
  if (AUseWiegand) {
    TKirenCard card;
    if (FProto->GetKirenCard(card) == kResOk) {
      TCardType cardType = TCardType::Unknown;
      FCardInfo.desc = card.Info(CodeSize(), cardType);
    }
  } else {
    TKirenCardEx card;
    if (FProto->GetKirenCard(card) == kResOk)
      FCardInfo.desc = card.Info();
  }
}

void TTh::NotePortFailure() {
  if (FPort->DeviceGone())
    FPortGone = true;
}

int TTh::WriteRead(const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  const int result = FExchange->Run(AReq, ACmd, AData);
  if (result == kResPortFailure)
    NotePortFailure();
  return result;
}

}  // namespace kiren
