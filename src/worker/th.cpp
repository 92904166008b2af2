#include "worker/th.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "logging/dbg_logger.h"
#include "protocol/frame.h"
#include "serial/com_port.h"

namespace kiren {

namespace {

constexpr char kLineSettings[] = "115200-8-N-1";
// Write timeout: 1 ms per byte plus 1000 ms.
constexpr std::uint32_t kWriteTimeoutPerByte = 1;
constexpr std::uint32_t kWriteTimeoutConst = 1000;
constexpr std::int32_t kAnswerTimeoutMs = 2000;
constexpr std::int32_t kDefaultCodeSize = 5;
constexpr auto kCyclePause = std::chrono::milliseconds(800);
constexpr auto kReadTick = std::chrono::milliseconds(10);
constexpr std::size_t kRxBufferSize = 66;
constexpr int kAttempts = 2;
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

// Ticks of a 32-bit millisecond counter.
std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::uint32_t TicksElapsed(std::uint32_t AStart, std::uint32_t ANow) {
  if (ANow >= AStart)
    return ANow - AStart;
  return ANow + (0xFFFFFFFFu - AStart);
}

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
  FQueue.Push(AAction);
}

bool TTh::TryExec(std::unique_ptr<TThAction>& AAction) {
  if (FQueue.TryPush(AAction))
    return true;
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
  {
    std::lock_guard<std::mutex> guard(FPauseLock);
    FTerminated = true;
  }
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
  FPauseWake.wait_for(guard, kCyclePause, [this] { return Terminated(); });
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
  int result = kResBadAnswer;
  int attempts = kAttempts;
  AData.clear();
  auto logger = DbgLogger();
  bool frameFound = false;
  do {
    if (!FPort->ClearBuffers()) {
      NotePortFailure();
      return kResPortFailure;
    }
    const Bytes frame = TBuilder::Finalize(AReq);
    logger->AddEmptyLine();
    logger->AddHexData(frame, true, std::string());
    const std::int32_t written = FPort->WriteStr(frame);
    if (written < static_cast<std::int32_t>(frame.size())) {
      logger->AddStr("Ошибка записи в COM-порт [попытка %d]: %s", {attempts, FPort->LastErrorStr()},
                     true, "**");
      NotePortFailure();
      return kResPortFailure;
    }

    Bytes rx(kRxBufferSize);
    std::size_t received = 0;
    bool readFailed = false;
    const std::uint32_t t0 = TickCount();
    do {
      std::this_thread::sleep_for(kReadTick);
      while (!frameFound && received < rx.size()) {
        std::int32_t got = 0;
        FPort->ReadBuffer(rx.data() + received, static_cast<std::uint32_t>(rx.size() - received),
                          got);
        if (got < 0 && FPort->DeviceGone())
          readFailed = true;
        if (got <= 0)
          break;
        received += static_cast<std::size_t>(got);
        Bytes dataBlock;
        if (!TParser::CheckAnswer(rx, static_cast<int>(received), dataBlock))
          continue;
        frameFound = true;
        if (dataBlock.size() >= 3 && TParser::CheckCRC(dataBlock)) {
          ACmd = dataBlock.front();
          AData.assign(dataBlock.begin() + 1, dataBlock.end() - 2);
          result = kResOk;
          attempts = 0;
        }
      }
    } while (!frameFound && !readFailed &&
             TicksElapsed(t0, TickCount()) < static_cast<std::uint32_t>(FTimeout));
    rx.resize(received);
    logger->AddHexData(rx, false, std::string());

    if (readFailed) {
      NotePortFailure();
      return kResPortFailure;
    }
    if (!frameFound) {
      result = kResTimeout;
      attempts = received > 0 ? attempts - 1 : 0;
    }
  } while (!frameFound && attempts > 0);
  return result;
}

}  // namespace kiren
