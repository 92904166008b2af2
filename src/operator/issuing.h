// The issuing service: the one place that turns an operator's card command into a checked
// action, guards against writing a code that is already on another card, journals every
// attempt, and gives the final verdict the window and kiren-cli show.
//
// Sequence for a front end (all on its main thread):
//   1. Gate:    BeforeCardCodeWrite / BeforeOperation; stop when Go is false (Text says why).
//   2. Action:  WriteCardCode / Issue / Clear / WriteEmission give the action to queue on the
//               worker; its completion runs on the main thread, journals the row (committed
//               before anything is reported) and hands over the verdict.
//   3. Verdict: green Text only when the operation succeeded, every check passed and the row
//               is in the journal; otherwise red with what failed or differs.
// An action whose completion never comes (link lost, program stopped) is journaled by
// AbandonPending: the write may have reached the card, so the attempt is kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "journal/journal.h"
#include "operator/journal_open.h"
#include "operator/params.h"
#include "protocol/records.h"
#include "protocol/verification.h"
#include "worker/actions.h"
#include "worker/verify_actions.h"

namespace kiren::op {

// ---- Context of a journal row ----------------------------------------------------------------

struct TStationInfo {
  std::string Station;  // host name
  std::string Login;    // operator's login
};

// Host name and login of this process's user.
TStationInfo LocalStation();

// The connected reader.
struct TReaderInfo {
  std::string Port;      // as the operator chose it ("ttyACM0", "pts/4")
  std::string Firmware;  // version text the reader reported
};

// The card in the field when the command was given; empty when none was seen.
struct TCardSeen {
  std::string Uid;   // hexadecimal, as TCardInfo::UIDStr gives it
  std::string Type;  // as TCardInfo::CardType gives it

  bool operator==(const TCardSeen&) const = default;
};

TCardSeen CardSeen(const TCardInfo& ACard);

// ---- Verdict and journal row ------------------------------------------------------------------

// The journal's name for a check outcome (the one mapping between the two).
TVerifyOutcome JournalOutcome(TCheckOutcome AOutcome);

// Everything a finished operation is judged and journaled by. Holds no key.
struct TOperationFacts {
  TJournalOperation Operation = TJournalOperation::CardCodeWrite;
  std::chrono::system_clock::time_point Time{};
  TStationInfo Station{};
  TReaderInfo Reader{};
  TCardSeen Card{};
  std::optional<int> Block{}, Offset{}, Size{};  // card-code and emission-parameter writes
  Bytes Code{};                                  // card code written; user data of an issue
  std::optional<int> Layout{};                   // issues: 1 .. 5
  std::optional<std::uint32_t> Emitent{};        // issues
  std::optional<std::uint32_t> Emission{};       // issues
  int ErrCode = kResNotExecuted;                 // the action's result code
  std::string ErrText{};  // its text when it failed ("Ошибка 3", "Нет данных для удаления")
  TCheckResult Check{};  // the check after the operation (NotChecked for emission writes)
};

// The journal row of AFacts.
TJournalRecord JournalRow(const TOperationFacts& AFacts);

// The facts of a card-code write before it runs: what is written where, on which card.
TOperationFacts CardCodeWriteFacts(const TCardCodeParams& AParams, const TCardSeen& ACard);

// What became of the row.
enum class TJournaling {
  Journaled,  // committed
  Failed,     // the journal refused it: the operation counts as not journaled
  Off,        // no journal: the operator chose to go on without one
};

struct TVerdict {
  // Green: the operation succeeded, its checks passed (operations that have them) and the row
  // is committed (or the operator chose to work without a journal).
  bool Ok = false;
  // The message: kMsgOk, or red text saying what failed or differs (several lines possible).
  std::string Text;
  // The action's result code is 0 (the reader confirmed the operation).
  bool Done = false;
  // Card-code writes: the code field moves to the next code. It moves after the write's
  // success even when a check then fails, so that a code that may be on a card is never
  // offered again.
  bool CounterMoves = false;
  TCheckResult Check;
  // Done, but a check found a difference or could not run.
  bool CheckFailed = false;
  TJournaling Journaling = TJournaling::Off;
  std::int64_t JournalId = 0;  // the row's id when Journaled
  std::string JournalError;    // why the row is missing when Failed
};

// The verdict of AFacts once the row went as AJournaling says (AJournalError: the journal's
// message when Failed).
TVerdict MakeVerdict(const TOperationFacts& AFacts, TJournaling AJournaling,
                     std::int64_t AJournalId = 0, const std::string& AJournalError = {});

// ---- Questions ---------------------------------------------------------------------------------

// The operator's answers: the window asks with message boxes, kiren-cli answers from its
// options (--no-journal, --allow-duplicate). A missing function answers "no".
struct TIssuingQuestions {
  // The journal cannot take rows (AText says why and asks): go on without journaling?
  std::function<bool(const std::string& AText)> GoOnWithoutJournal;
  // The code is already on another card (AOther: that card and the row's time; AText: the
  // question): write it to this card as well?
  std::function<bool(const TCodeOnOtherCard& AOther, const std::string& AText)> WriteDuplicate;
};

// Question texts (also for kiren-cli's refusals).
std::string DuplicateQuestionText(const std::string& ACodeHex, const TCodeOnOtherCard& AOther);
std::string DuplicateRefusalText(const std::string& ACodeHex, const TCodeOnOtherCard& AOther);
std::string NoJournalQuestionText(const std::string& AJournalError);

// ---- Gate --------------------------------------------------------------------------------------

enum class TRefusal {
  None,
  NoJournal,  // the journal is unavailable and the operator did not agree to go on
  Duplicate,  // the code is on another card and the operator did not agree to write it
};

struct TGate {
  bool Go = false;
  TRefusal Refusal = TRefusal::None;
  std::string Text;  // why not, for the status line or stderr
};

// ---- Service -----------------------------------------------------------------------------------

// Lives on the front end's main thread and must outlive the actions it hands out.
class TIssuingService {
 public:
  template <class TAction>
  using TOnVerdict = std::function<void(const TVerdict& AVerdict, TAction& AAction)>;

  TIssuingService(TJournalOpening AJournal, TStationInfo AStation, TIssuingQuestions AQuestions);
  ~TIssuingService();
  TIssuingService(const TIssuingService&) = delete;
  TIssuingService& operator=(const TIssuingService&) = delete;

  // The journal (null when there is none), where it is, and why it is missing.
  IJournal* Journal() const { return FJournal.Journal.get(); }
  const std::string& JournalLocation() const { return FJournal.Location; }
  const std::string& JournalError() const { return FJournal.Error; }
  // Replaces the journal (reopened, another back end); a "go on without" answer is forgotten.
  void SetJournal(TJournalOpening AJournal);
  // The connected reader, for the rows that follow.
  void SetReader(const TReaderInfo& AReader);
  const TReaderInfo& Reader() const { return FReader; }

  // Before a card-code write: the journal question when there is no journal, then the
  // duplicate guard (the same card again is a repair and passes).
  TGate BeforeCardCodeWrite(const TCardCodeParams& AParams, const TCardSeen& ACard);
  // Before an issue, a clear or an emission-parameter write: the journal question.
  TGate BeforeOperation(TJournalOperation AOperation);

  // The actions to queue. AOnVerdict runs on the main thread after the row was journaled.
  // AKnownPars: emission parameters the reader is known to hold (saved after the last
  // successful write), for the reader-report check when the reader cannot tell them itself.
  std::unique_ptr<TThAction> WriteCardCode(const TCardCodeParams& AParams, const TCardSeen& ACard,
                                           std::optional<TPercoPars> AKnownPars,
                                           TOnVerdict<TAcWriteCardCodeChecked> AOnVerdict);
  std::unique_ptr<TThAction> Issue(const TIssueParams& AParams, const TCardSeen& ACard,
                                   TOnVerdict<TAcIssueCardChecked> AOnVerdict);
  std::unique_ptr<TThAction> Clear(const TCardSeen& ACard,
                                   TOnVerdict<TAcClearCardChecked> AOnVerdict);
  // ACard may be empty: the parameters go to the reader, not to a card.
  std::unique_ptr<TThAction> WriteEmission(const TPercoPars& APars, const TCardSeen& ACard,
                                           TOnVerdict<TAcPercoStt> AOnVerdict);

  // Journals the actions handed out whose completion has not come (AReason: why, e.g. the
  // link was lost) and returns their verdicts; they are then forgotten.
  std::vector<TVerdict> AbandonPending(const std::string& AReason);
  std::size_t PendingCount() const { return FPending.size(); }
  // An action handed out that could not be queued: nothing reached the reader, so it is
  // forgotten without a row.
  void Withdraw(const TThAction& AAction);

  // Journals AFacts (time, station, login and reader filled in) and gives the verdict; what
  // the actions' completions use.
  TVerdict Complete(TOperationFacts AFacts);

 private:
  bool JournalUsable();
  std::optional<TOperationFacts> TakePending(std::uint64_t AId);
  // Hands out the action AMake builds around its completion; AFacts stay pending until that
  // completion adds the action's result and check (AOutcome), journals them and passes the
  // verdict to AOnVerdict.
  template <class TAction, class TMake>
  std::unique_ptr<TThAction> HandOut(TOperationFacts AFacts, TMake AMake,
                                     TOnVerdict<TAction> AOnVerdict,
                                     void (*AOutcome)(const TAction&, TOperationFacts&));

  TJournalOpening FJournal;
  TStationInfo FStation;
  TIssuingQuestions FQuestions;
  TReaderInfo FReader;
  bool FWithoutJournal = false;  // the operator agreed to go on without a journal
  std::uint64_t FNextId = 1;
  std::map<std::uint64_t, TOperationFacts> FPending;
  std::map<const TThAction*, std::uint64_t> FPendingIds;  // the same actions by address
};

}  // namespace kiren::op
