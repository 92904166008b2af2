#include "operator/issuing.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "operator/reader.h"
#include "operator/texts.h"

namespace kiren::op {

namespace {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

std::string LoginName() {
  if (const passwd* pw = getpwuid(geteuid()); pw != nullptr && pw->pw_name != nullptr)
    return pw->pw_name;
  for (const char* var : {"LOGNAME", "USER"})
    if (const char* value = std::getenv(var); value != nullptr && *value != '\0')
      return value;
  return std::to_string(geteuid());
}

// The first line of a verdict whose operation succeeded but whose check did not pass.
std::string CheckFailedHeading(const TOperationFacts& AFacts) {
  std::string done;
  switch (AFacts.Operation) {
    case TJournalOperation::CardCodeWrite:
      done = "Код записан";
      break;
    case TJournalOperation::Issue:
      done = "Карта эмитирована";
      break;
    case TJournalOperation::Clear:
      done = "Карта очищена";
      break;
    case TJournalOperation::EmissionWrite:
      done = "Параметры записаны";
      break;
  }
  return done + ", но проверка не пройдена: " + CheckOutcomeCaption(AFacts.Check.Outcome);
}

// "2026-12-11 17:53:09" of an ISO time text ("2026-12-11T17:53:09.123+03:00").
std::string ShortTime(const std::string& AIso) {
  std::string text = AIso.substr(0, 19);
  if (text.size() > 10 && text[10] == 'T')
    text[10] = ' ';
  return text;
}

std::string CodeForOperator(const std::string& ACodeHex) {
  return ACodeHex + " (" + CodeHexToDecimal(ACodeHex) + ")";
}

bool Ask(const std::function<bool(const std::string&)>& AQuestion, const std::string& AText) {
  return AQuestion && AQuestion(AText);
}

}  // namespace

TStationInfo LocalStation() {
  return {HostName(), LoginName()};
}

TCardSeen CardSeen(const TCardInfo& ACard) {
  if (!ACard.status.CardPresent())
    return {};
  return {ACard.UIDStr(), ACard.CardType()};
}

TVerifyOutcome JournalOutcome(TCheckOutcome AOutcome) {
  switch (AOutcome) {
    case TCheckOutcome::Verified:
      return TVerifyOutcome::Verified;
    case TCheckOutcome::ReadBackDiffers:
      return TVerifyOutcome::ReadBackDiffers;
    case TCheckOutcome::ReaderReportsOtherCode:
      return TVerifyOutcome::ReaderReportsOther;
    case TCheckOutcome::ReaderCannotRead:
      return TVerifyOutcome::ReaderCannotRead;
    case TCheckOutcome::NotChecked:
      return TVerifyOutcome::NotChecked;
  }
  return TVerifyOutcome::NotChecked;
}

TJournalRecord JournalRow(const TOperationFacts& AFacts) {
  TJournalRecord row;
  row.Time = AFacts.Time;
  row.Station = AFacts.Station.Station;
  row.Login = AFacts.Station.Login;
  row.ReaderPort = AFacts.Reader.Port;
  row.Firmware = AFacts.Reader.Firmware;
  row.CardUid = AFacts.Card.Uid;
  row.CardType = AFacts.Card.Type;
  row.Operation = AFacts.Operation;
  row.Block = AFacts.Block;
  row.Offset = AFacts.Offset;
  row.Size = AFacts.Size;
  row.CodeHex = BytesToHex(AFacts.Code);
  if (AFacts.Layout)
    row.Layout = IssueLayoutCaption(*AFacts.Layout);
  row.Emitent = AFacts.Emitent;
  row.Emission = AFacts.Emission;
  row.ResultCode = AFacts.ErrCode;
  row.ResultText = AFacts.ErrCode == kResOk ? kMsgOk
                   : AFacts.ErrText.empty() ? kMsgNotDone
                                            : AFacts.ErrText;
  row.Verify = JournalOutcome(AFacts.Check.Outcome);
  return row;
}

TVerdict MakeVerdict(const TOperationFacts& AFacts, TJournaling AJournaling,
                     std::int64_t AJournalId, const std::string& AJournalError) {
  TVerdict verdict;
  verdict.Done = AFacts.ErrCode == kResOk;
  verdict.Check = AFacts.Check;
  const bool checked = AFacts.Operation != TJournalOperation::EmissionWrite;
  verdict.CheckFailed = verdict.Done && checked && !AFacts.Check.Verified();
  verdict.CounterMoves = verdict.Done && AFacts.Operation == TJournalOperation::CardCodeWrite;
  verdict.Journaling = AJournaling;
  if (AJournaling == TJournaling::Journaled)
    verdict.JournalId = AJournalId;
  if (AJournaling == TJournaling::Failed)
    verdict.JournalError = AJournalError;

  if (!verdict.Done)
    verdict.Text = AFacts.ErrText.empty() ? kMsgNotDone : AFacts.ErrText;
  else if (verdict.CheckFailed)
    verdict.Text = CheckFailedHeading(AFacts) +
                   (AFacts.Check.Message.empty() ? "" : "\n" + AFacts.Check.Message);
  else
    verdict.Text = kMsgOk;

  if (AJournaling == TJournaling::Failed)
    verdict.Text += "\n" + kMsgNotJournaled + (AJournalError.empty() ? "" : ": " + AJournalError);
  else if (AJournaling == TJournaling::Off)
    verdict.Text += "\n" + kMsgJournalOff;
  verdict.Ok = verdict.Done && !verdict.CheckFailed && AJournaling != TJournaling::Failed;
  return verdict;
}

std::string DuplicateQuestionText(const std::string& ACodeHex, const TCodeOnOtherCard& AOther) {
  return "Код " + CodeForOperator(ACodeHex) + " уже записывался на карту UID " + AOther.CardUid +
         " (" + ShortTime(AOther.TimeLocal) + ").\nЗаписать этот код и на эту карту?";
}

std::string DuplicateRefusalText(const std::string& ACodeHex, const TCodeOnOtherCard& AOther) {
  return "Код " + CodeForOperator(ACodeHex) + " уже записывался на карту UID " + AOther.CardUid +
         " (" + ShortTime(AOther.TimeLocal) + "); запись не выполнена";
}

std::string NoJournalQuestionText(const std::string& AJournalError) {
  return AJournalError + "\nПродолжить без записи операций в журнал выдачи?";
}

// ---- Service ------------------------------------------------------------------------------------

TIssuingService::TIssuingService(TJournalOpening AJournal, TStationInfo AStation,
                                 TIssuingQuestions AQuestions)
    : FJournal(std::move(AJournal)),
      FStation(std::move(AStation)),
      FQuestions(std::move(AQuestions)) {}

TIssuingService::~TIssuingService() = default;

void TIssuingService::SetJournal(TJournalOpening AJournal) {
  FJournal = std::move(AJournal);
  FWithoutJournal = false;
}

void TIssuingService::SetReader(const TReaderInfo& AReader) {
  FReader = AReader;
}

bool TIssuingService::JournalUsable() {
  if (FJournal.Journal || FWithoutJournal)
    return true;
  FWithoutJournal = Ask(FQuestions.GoOnWithoutJournal, NoJournalQuestionText(FJournal.Error));
  return FWithoutJournal;
}

TGate TIssuingService::BeforeOperation(TJournalOperation) {
  if (JournalUsable())
    return {true, TRefusal::None, {}};
  return {false, TRefusal::NoJournal, FJournal.Error};
}

TGate TIssuingService::BeforeCardCodeWrite(const TCardCodeParams& AParams, const TCardSeen& ACard) {
  TGate gate = BeforeOperation(TJournalOperation::CardCodeWrite);
  if (!gate.Go || !FJournal.Journal)
    return gate;
  const std::string codeHex = BytesToHex(AParams.Code);
  const auto found = FJournal.Journal->FindCodeOnOtherCard(codeHex, ACard.Uid);
  if (!found.ok()) {
    // The guard cannot run: the same question as for a missing journal.
    const std::string text =
        "Проверка повтора кода по журналу не удалась: " + found.error().Message;
    if (Ask(FQuestions.GoOnWithoutJournal, NoJournalQuestionText(text)))
      return gate;
    return {false, TRefusal::NoJournal, text};
  }
  if (!found.value())
    return gate;
  const TCodeOnOtherCard& other = *found.value();
  if (FQuestions.WriteDuplicate &&
      FQuestions.WriteDuplicate(other, DuplicateQuestionText(codeHex, other)))
    return gate;
  return {false, TRefusal::Duplicate, DuplicateRefusalText(codeHex, other)};
}

std::optional<TOperationFacts> TIssuingService::TakePending(std::uint64_t AId) {
  const auto it = FPending.find(AId);
  if (it == FPending.end())
    return std::nullopt;
  TOperationFacts facts = std::move(it->second);
  FPending.erase(it);
  std::erase_if(FPendingIds, [AId](const auto& AEntry) { return AEntry.second == AId; });
  return facts;
}

void TIssuingService::Withdraw(const TThAction& AAction) {
  const auto it = FPendingIds.find(&AAction);
  if (it == FPendingIds.end())
    return;
  FPending.erase(it->second);
  FPendingIds.erase(it);
}

TVerdict TIssuingService::Complete(TOperationFacts AFacts) {
  if (AFacts.Time == std::chrono::system_clock::time_point{})
    AFacts.Time = std::chrono::system_clock::now();
  if (AFacts.Station.Station.empty() && AFacts.Station.Login.empty())
    AFacts.Station = FStation;
  if (AFacts.Reader.Port.empty() && AFacts.Reader.Firmware.empty())
    AFacts.Reader = FReader;
  if (!FJournal.Journal) {
    if (FWithoutJournal)
      return MakeVerdict(AFacts, TJournaling::Off);
    return MakeVerdict(AFacts, TJournaling::Failed, 0, FJournal.Error);
  }
  const auto appended = FJournal.Journal->Append(JournalRow(AFacts));
  if (!appended.ok())
    return MakeVerdict(AFacts, TJournaling::Failed, 0, appended.error().Message);
  return MakeVerdict(AFacts, TJournaling::Journaled, appended.value());
}

namespace {

// What a checked action adds to its facts: its result and its check.
template <class TAction>
void CheckedOutcome(const TAction& AAction, TOperationFacts& AFacts) {
  AFacts.ErrCode = AAction.ErrCode();
  AFacts.ErrText = ActionErrorText(AAction);
  AFacts.Check = AAction.Check();
}

// A clear that did not succeed is worded as the clear command's own outcome.
void ClearOutcomeOf(const TAcClearCardChecked& AAction, TOperationFacts& AFacts) {
  AFacts.ErrCode = AAction.ErrCode();
  if (AAction.ErrCode() != kResOk)
    AFacts.ErrText = ClearOutcome(AAction.ErrCode()).Text;
  AFacts.Check = AAction.Check();
}

// Emission parameters go to the reader; there is no card to check.
void EmissionOutcome(const TAcPercoStt& AAction, TOperationFacts& AFacts) {
  AFacts.ErrCode = AAction.ErrCode();
  AFacts.ErrText = ActionErrorText(AAction);
  AFacts.Check = {TCheckOutcome::NotChecked, {}};
}

}  // namespace

template <class TAction, class TMake>
std::unique_ptr<TThAction> TIssuingService::HandOut(TOperationFacts AFacts, TMake AMake,
                                                    TOnVerdict<TAction> AOnVerdict,
                                                    void (*AOutcome)(const TAction&,
                                                                     TOperationFacts&)) {
  const std::uint64_t id = FNextId++;
  auto action = AMake([this, id, AOnVerdict = std::move(AOnVerdict), AOutcome](TThAction& A) {
    auto& done = static_cast<TAction&>(A);
    std::optional<TOperationFacts> facts = TakePending(id);
    if (!facts)
      return;
    AOutcome(done, *facts);
    const TVerdict verdict = Complete(std::move(*facts));
    if (AOnVerdict)
      AOnVerdict(verdict, done);
  });
  AFacts.Station = FStation;
  AFacts.Reader = FReader;
  FPending.emplace(id, std::move(AFacts));
  FPendingIds[action.get()] = id;
  return action;
}

TOperationFacts CardCodeWriteFacts(const TCardCodeParams& AParams, const TCardSeen& ACard) {
  TOperationFacts facts;
  facts.Operation = TJournalOperation::CardCodeWrite;
  facts.Card = ACard;
  facts.Block = AParams.BlockNo;
  facts.Offset = AParams.Offset;
  facts.Size = AParams.Size;
  facts.Code = AParams.Code;
  return facts;
}

std::unique_ptr<TThAction> TIssuingService::WriteCardCode(
    const TCardCodeParams& AParams, const TCardSeen& ACard, std::optional<TPercoPars> AKnownPars,
    TOnVerdict<TAcWriteCardCodeChecked> AOnVerdict) {
  return HandOut(
      CardCodeWriteFacts(AParams, ACard),
      [&](TOnActionDone ADone) {
        return std::make_unique<TAcWriteCardCodeChecked>(AParams.BlockNo, AParams.Offset,
                                                         AParams.Code, AParams.Keys,
                                                         std::move(ADone), std::move(AKnownPars));
      },
      std::move(AOnVerdict), CheckedOutcome<TAcWriteCardCodeChecked>);
}

std::unique_ptr<TThAction> TIssuingService::Issue(const TIssueParams& AParams,
                                                  const TCardSeen& ACard,
                                                  TOnVerdict<TAcIssueCardChecked> AOnVerdict) {
  TOperationFacts facts;
  facts.Operation = TJournalOperation::Issue;
  facts.Card = ACard;
  facts.Layout = AParams.Variant;
  if (const auto issued =
          IssuedCardOf(AParams.Variant, AParams.Emitent, AParams.Emission, AParams.UserData)) {
    facts.Emitent = issued->Emitent;
    facts.Emission = issued->Emission;
    if (AParams.Variant >= 4)
      facts.Code = issued->UserData;
  }
  return HandOut(
      std::move(facts),
      [&](TOnActionDone ADone) {
        return std::make_unique<TAcIssueCardChecked>(AParams.Variant, AParams.Emitent,
                                                     AParams.Emission, AParams.FactoryKey,
                                                     AParams.UserData, std::move(ADone));
      },
      std::move(AOnVerdict), CheckedOutcome<TAcIssueCardChecked>);
}

std::unique_ptr<TThAction> TIssuingService::Clear(const TCardSeen& ACard,
                                                  TOnVerdict<TAcClearCardChecked> AOnVerdict) {
  TOperationFacts facts;
  facts.Operation = TJournalOperation::Clear;
  facts.Card = ACard;
  return HandOut(
      std::move(facts),
      [](TOnActionDone ADone) { return std::make_unique<TAcClearCardChecked>(std::move(ADone)); },
      std::move(AOnVerdict), ClearOutcomeOf);
}

std::unique_ptr<TThAction> TIssuingService::WriteEmission(const TPercoPars& APars,
                                                          const TCardSeen& ACard,
                                                          TOnVerdict<TAcPercoStt> AOnVerdict) {
  TOperationFacts facts;
  facts.Operation = TJournalOperation::EmissionWrite;
  facts.Card = ACard;
  facts.Block = APars.blockNo;
  facts.Offset = APars.offset;
  facts.Size = APars.size;
  return HandOut(
      std::move(facts),
      [&](TOnActionDone ADone) { return std::make_unique<TAcPercoStt>(APars, std::move(ADone)); },
      std::move(AOnVerdict), EmissionOutcome);
}

std::vector<TVerdict> TIssuingService::AbandonPending(const std::string& AReason) {
  std::vector<TVerdict> verdicts;
  std::map<std::uint64_t, TOperationFacts> pending;
  pending.swap(FPending);
  FPendingIds.clear();
  for (auto& [id, facts] : pending) {
    facts.ErrCode = kResNotExecuted;
    facts.ErrText = AReason + ": результат операции неизвестен";
    facts.Check = {TCheckOutcome::NotChecked, "Проверка не проводилась"};
    verdicts.push_back(Complete(std::move(facts)));
  }
  return verdicts;
}

}  // namespace kiren::op
