#include "operator/batch.h"

#include <utility>

#include "base/text_utils.h"
#include "operator/input.h"

namespace kiren::op {

namespace {

using TClock = std::chrono::steady_clock;

std::string FirstLine(const std::string& AText) {
  return AText.substr(0, AText.find('\n'));
}

std::string RegisterAwayText(const std::string& AMessage) {
  return "Журнал выдачи недоступен, карты не записываются: " + AMessage;
}

}  // namespace

std::string BatchProgressText(const TBatchProgress& AProgress) {
  std::string text = "Записано " + std::to_string(AProgress.Written);
  if (AProgress.Count > 0)
    text += " из " + std::to_string(AProgress.Count);
  if (AProgress.Skipped > 0)
    text += ", пропущено " + std::to_string(AProgress.Skipped);
  if (AProgress.Failed > 0)
    text += ", не записано " + std::to_string(AProgress.Failed);
  return text;
}

TBatchRun::TBatchRun(TIssuingService& AService, TQueue AQueue, TOnEvent AOnEvent)
    : FService(AService),
      FQueue(std::move(AQueue)),
      FOnEvent(std::move(AOnEvent)),
      FAlive(std::make_shared<bool>(true)) {}

TBatchRun::~TBatchRun() = default;

bool TBatchRun::Start(const TBatchOptions& AOptions, std::string& AError) {
  IJournal* journal = FService.Journal();
  if (journal == nullptr) {
    AError = "Серия не запущена: нет журнала выдачи, коды серии не могут быть выделены" +
             (FService.JournalError().empty() ? "" : "\n" + FService.JournalError());
    return false;
  }
  const auto series = journal->OpenSeries(AOptions.Series, AOptions.FirstCode);
  if (!series.ok()) {
    AError = "Серия не запущена: " + series.error().Message;
    return false;
  }
  FOptions = AOptions;
  FProgress = {};
  FProgress.Armed = true;
  FProgress.Count = AOptions.Count > 0 ? AOptions.Count : 0;
  FSeen.clear();
  FRetryWhenGone.clear();
  FAllocated = series.value().NextCode;
  return true;
}

void TBatchRun::Stop() {
  FProgress.Armed = false;
}

bool TBatchRun::Done() const {
  return !FProgress.Busy && FProgress.Count > 0 && FProgress.Written >= FProgress.Count;
}

void TBatchRun::Emit(TBatchCardEvent AEvent) {
  if (!AEvent.Uid.empty())
    FProgress.LastUid = AEvent.Uid;
  if (!AEvent.CodeHex.empty())
    FProgress.LastCodeHex = AEvent.CodeHex;
  switch (AEvent.Result) {
    case TBatchCardResult::Written:
      ++FProgress.Written;
      break;
    case TBatchCardResult::Skipped:
      ++FProgress.Skipped;
      break;
    case TBatchCardResult::Failed:
      ++FProgress.Failed;
      break;
    case TBatchCardResult::RegisterAway:
      break;
  }
  if (FProgress.Count > 0 && FProgress.Written >= FProgress.Count)
    FProgress.Armed = false;
  if (FOnEvent)
    FOnEvent(AEvent);
}

void TBatchRun::Spoil(std::uint64_t ACode, const std::string& AReason, TBatchCardEvent& AEvent) {
  // A code whose mark did not reach the register is still never handed out again (the series
  // has moved past it); the mark is tried again with the rows below.
  IJournal* journal = FService.Journal();
  AEvent.Spoiled = journal != nullptr && journal->MarkSpoiled(FOptions.Series, ACode, AReason).ok();
  if (!AEvent.Spoiled)
    FUnmarked.emplace_back(ACode, AReason);
}

bool TBatchRun::RetryUnjournaled() {
  while (!FUnjournaled.empty()) {
    const TVerdict verdict = FService.Complete(FUnjournaled.front());
    if (verdict.Journaling != TJournaling::Journaled) {
      FProgress.Problem = RegisterAwayText(verdict.JournalError);
      return false;
    }
    FUnjournaled.erase(FUnjournaled.begin());
  }
  while (!FUnmarked.empty()) {
    const auto& [code, reason] = FUnmarked.front();
    const auto marked = FService.Journal()->MarkSpoiled(FOptions.Series, code, reason);
    if (!marked.ok()) {
      FProgress.Problem = RegisterAwayText(marked.error().Message);
      return false;
    }
    FUnmarked.erase(FUnmarked.begin());
  }
  return true;
}

std::optional<std::string> TBatchRun::CodeOnCard(const std::string& AUid, std::string& AProblem) {
  TJournalFilter filter;
  filter.CardUid = AUid;
  const auto rows = FService.Journal()->Query(filter);
  if (!rows.ok()) {
    AProblem = rows.error().Message;
    return std::nullopt;
  }
  for (const TJournalRecord& row : rows.value())
    if (row.Operation == TJournalOperation::CardCodeWrite && row.ResultCode == kResOk &&
        !row.CodeHex.empty())
      return row.CodeHex;
  return std::string();
}

void TBatchRun::ReportRegisterAway(const std::string& AUid, const std::string& AMessage) {
  // Reported once per outage, not at every poll.
  const std::string text = RegisterAwayText(AMessage);
  if (FProgress.Problem == text)
    return;
  FProgress.Problem = text;
  Emit({TBatchCardResult::RegisterAway, AUid, {}, text});
}

void TBatchRun::OnCard(const TCardInfo& ACard) {
  const bool present = ACard.status.CardPresent();
  const std::string uid = present ? ACard.UIDStr() : std::string();
  if (!FRetryWhenGone.empty() && uid != FRetryWhenGone) {
    FSeen.erase(FRetryWhenGone);
    FRetryWhenGone.clear();
  }
  if (!FProgress.Armed || FProgress.Busy)
    return;
  if (!RetryUnjournaled())
    return;
  if (!present || FSeen.count(uid) != 0)
    return;
  HandleNewCard(ACard);
}

void TBatchRun::HandleNewCard(const TCardInfo& ACard) {
  const TCardSeen card = CardSeen(ACard);
  if (FPlacedUid != card.Uid) {
    FPlacedUid = card.Uid;
    FPlaced = TClock::now();
  }

  std::string problem;
  const auto known = CodeOnCard(card.Uid, problem);
  if (!known) {
    ReportRegisterAway(card.Uid, problem);
    return;
  }
  if (!known->empty()) {
    FSeen.insert(card.Uid);
    FProgress.Problem.clear();
    Emit({TBatchCardResult::Skipped, card.Uid, *known,
          "Карта уже записана: код " + *known + " (" + CodeHexToDecimal(*known) + "), пропущена"});
    return;
  }

  const auto allocated = FService.Journal()->AllocateCode(FOptions.Series);
  if (!allocated.ok()) {
    ReportRegisterAway(card.Uid, allocated.error().Message);
    return;
  }
  FProgress.Problem.clear();
  FSeen.insert(card.Uid);
  const std::uint64_t code = allocated.value();
  FAllocated = code + 1;

  TCardCodeParams params = FOptions.Params;
  TBatchCardEvent event{TBatchCardResult::Failed, card.Uid, {}, {}};
  try {
    params.Code = NextCodeBytes(params, TCardCodeText{std::to_string(code), false});
  } catch (const TInputError& e) {
    event.Text = e.what();
    Spoil(code, event.Text, event);
    FSeen.erase(card.Uid);
    Stop();  // every further code is larger: none fits
    Emit(std::move(event));
    return;
  }
  event.CodeHex = BytesToHex(params.Code);

  const TGate gate = FService.BeforeCardCodeWrite(params, card);
  if (!gate.Go) {
    // The code is on another card already (written outside the series): it is spoiled, and
    // the card gets the next code when it is placed again.
    event.Text = gate.Text;
    Spoil(code, FirstLine(gate.Text), event);
    FRetryWhenGone = card.Uid;
    Emit(std::move(event));
    return;
  }

  FProgress.Busy = true;
  FProgress.LastUid = card.Uid;
  FProgress.LastCodeHex = event.CodeHex;
  std::weak_ptr<bool> alive = FAlive;
  TOperationFacts facts = CardCodeWriteFacts(params, card);
  auto action = FService.WriteCardCode(
      params, card, std::nullopt,
      [this, alive, facts, code](const TVerdict& AVerdict, TAcWriteCardCodeChecked& A) mutable {
        if (alive.expired())
          return;
        const std::string uid = facts.Card.Uid;
        if (AVerdict.Journaling == TJournaling::Failed) {
          facts.Time = std::chrono::system_clock::now();
          facts.ErrCode = A.ErrCode();
          facts.ErrText = ActionErrorText(A);
          facts.Check = A.Check();
          FUnjournaled.push_back(std::move(facts));
        }
        OnVerdict(uid, code, AVerdict, A);
      });
  if (!FQueue(action)) {
    if (action)
      FService.Withdraw(*action);
    FProgress.Busy = false;
    event.Text = "Действие не поставлено в очередь считывателя";
    Spoil(code, event.Text, event);
    FRetryWhenGone = card.Uid;
    Emit(std::move(event));
  }
}

void TBatchRun::OnVerdict(const std::string& AUid, std::uint64_t ACode, const TVerdict& AVerdict,
                          TAcWriteCardCodeChecked& AAction) {
  FProgress.Busy = false;
  TBatchCardEvent event;
  event.Uid = AUid;
  event.CodeHex = FProgress.LastCodeHex;
  event.Text = AVerdict.Text;
  event.Verdict = AVerdict;
  event.ErrCode = AAction.ErrCode();
  if (AVerdict.Done)
    event.TrailerHex = BytesToHexStr(AAction.BlockData().data(), AAction.BlockData().size());
  if (AVerdict.Done && AAction.Reported())
    event.ReportedCode = AAction.Reported()->Code;
  event.Elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FPlaced);
  if (AVerdict.Ok) {
    event.Result = TBatchCardResult::Written;
  } else {
    event.Result = TBatchCardResult::Failed;
    // A verified card whose row the register refused keeps its code: the row follows once the
    // register is back. Otherwise the code may be on the card (the check failed) or the write
    // never finished: it is marked spoiled.
    const bool madeButNotJournaled = AVerdict.Done && !AVerdict.CheckFailed;
    if (!madeButNotJournaled)
      Spoil(ACode, FirstLine(AVerdict.Text), event);
    if (AVerdict.Journaling == TJournaling::Failed)
      FProgress.Problem = RegisterAwayText(AVerdict.JournalError);
    if (!AVerdict.Done)
      FRetryWhenGone = AUid;
  }
  Emit(std::move(event));
}

}  // namespace kiren::op
