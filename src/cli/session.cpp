#include "cli/session.h"

#include <utility>

namespace kiren::cli {

std::atomic<bool> gInterrupted{false};

namespace {

// How often a wait looks at the interrupt flag.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);

}  // namespace

TSession::TSession(std::string APort) : FPort(std::move(APort)) {
  FCard.Clear();
}

TSession::~TSession() {
  Close();
}

bool TSession::Connect(std::string& AError) {
  FStarted = true;
  FTh = TTh::Create(
      FPort, false,
      [this](TTh* ASender) {
        FPortError = ASender->PortErrorStr();
        FTh = nullptr;
        FEnded = true;
      },
      *this, FLoop);
  WaitFor([this] { return FCardCalls > 0; });
  if (FCardCalls > 0)
    return true;
  if (gInterrupted) {
    AError = "Прервано";
  } else if (!FHasDevInfo) {
    AError = "Не удалось открыть порт " + FPort + ": " + FPortError;
  } else if (FDevInfoError != kResOk) {
    AError = "Нет информации о версии (ошибка " + std::to_string(FDevInfoError) + ")";
  } else {
    AError = "Связь со считывателем потеряна";
  }
  return false;
}

bool TSession::WaitFor(const std::function<bool()>& APredicate, TMs ATimeout) {
  const auto start = std::chrono::steady_clock::now();
  while (!APredicate()) {
    if (FEnded || gInterrupted)
      return false;
    if (ATimeout != kForever && std::chrono::steady_clock::now() - start >= ATimeout)
      return false;
    FLoop.RunUntil([&] { return APredicate() || FEnded; }, kWaitSlice);
  }
  return true;
}

bool TSession::Run(std::unique_ptr<TThAction> AAction) {
  // The callback may come after this wait gave up (interrupt): it then only marks the end.
  struct TState {
    bool Done = false;
    bool Abandoned = false;
  };
  auto state = std::make_shared<TState>();
  AAction->SetOnDone([state, inner = AAction->OnDone()](TThAction& A) {
    if (!state->Abandoned && inner)
      inner(A);
    state->Done = true;
  });
  if (FTh == nullptr)
    return false;
  while (!FTh->TryExec(AAction)) {
    // Ten actions wait: let the worker take one (it may be waiting for this thread).
    if (!WaitFor([] { return false; }, kWaitSlice) && (FEnded || gInterrupted))
      return false;
    if (FTh == nullptr)
      return false;
  }
  const bool done = WaitFor([&] { return state->Done; });
  if (!done)
    state->Abandoned = true;
  return done;
}

bool TSession::Queue(std::unique_ptr<TThAction>& AAction) {
  return FTh != nullptr && !FEnded && FTh->TryExec(AAction) && !AAction;
}

void TSession::SetPollPeriod(TMs APeriod) {
  if (FTh != nullptr)
    FTh->SetPollPeriod(APeriod);
}

void TSession::Close() {
  OnCard = nullptr;  // it may refer to a command that has finished
  if (!FStarted)
    return;
  if (FTh != nullptr)
    FTh->Terminate();
  while (!FEnded)
    FLoop.RunUntil([this] { return FEnded; }, kWaitSlice);
}

void TSession::ShowDevInfo(const TDevInfo& ADevInfo, int AError) {
  FHasDevInfo = true;
  FDevInfo = ADevInfo;
  FDevInfoError = AError;
}

void TSession::ShowConfigInfo(const TConfig& AConfig) {
  FConfig = AConfig;
}

void TSession::ShowCardInfo(const TCardInfo& ACardInfo) {
  FCard = ACardInfo;
  ++FCardCalls;
  if (OnCard)
    OnCard(ACardInfo);
}

}  // namespace kiren::cli
