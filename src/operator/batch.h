// A batch run of card-code writes: the operator arms it and then only places cards. Each new
// card in the field (a UID not seen in this run) gets the next code of a journal series,
// written and checked through the issuing service. One type for the window and kiren-cli.
//
// Codes come from the journal's series (AllocateCode), so stations sharing one register never
// get the same code. A code handed out for a card that was not made (taken away mid-write,
// refused, check failed) is marked spoiled and never offered again. A card the journal already
// knows with a code is shown and skipped. When the register cannot be reached no card is
// written: the run says why and tries again on the next poll.
//
// Everything runs on the front end's main thread: OnCard from the worker's card display, the
// verdicts from the actions' completions.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "operator/issuing.h"
#include "operator/params.h"
#include "protocol/records.h"
#include "worker/actions.h"

namespace kiren::op {

// The card poll while a run is armed: a card placed is found within this time instead of the
// normal cycle's 800 ms.
constexpr std::chrono::milliseconds kBatchPollPeriod{50};

struct TBatchOptions {
  TCardCodeParams Params;       // block, offset, size and keys; Code is ignored
  std::string Series;           // journal series the codes come from
  std::uint64_t FirstCode = 0;  // where a new series starts
  std::int64_t Count = 0;       // cards to write; 0: until stopped
};

// What happened to one card.
enum class TBatchCardResult {
  Written,       // written, checked and journaled
  Skipped,       // the journal already has a code on this card
  Failed,        // not written, or written but not checked or not journaled
  RegisterAway,  // no code could be allocated or the journal could not be asked: not written
};

struct TBatchCardEvent {
  TBatchCardResult Result = TBatchCardResult::Failed;
  std::string Uid;
  std::string CodeHex;   // the code written or tried; for a skipped card the code it holds
  std::string Text;      // the verdict or the reason (Russian)
  bool Spoiled = false;  // the code was marked spoiled
  // Card placed (first seen by the run) to verdict; zero for skipped cards.
  std::chrono::milliseconds Elapsed{0};
  // Cards that were written or tried: the verdict, the action's result code, the trailer
  // written and the code the reader reported afterwards.
  std::optional<TVerdict> Verdict{};
  int ErrCode = kResNotExecuted;
  std::string TrailerHex{};
  std::string ReportedCode{};
};

struct TBatchProgress {
  bool Armed = false;
  std::int64_t Count = 0;  // 0: until stopped
  std::int64_t Written = 0;
  std::int64_t Skipped = 0;
  std::int64_t Failed = 0;
  std::string LastUid;
  std::string LastCodeHex;
  bool Busy = false;    // a write is on its way
  std::string Problem;  // the register cannot be reached (red), empty otherwise
};

// "Записано 12 из 50", "Записано 12" (until stopped), with skipped and failed counts.
std::string BatchProgressText(const TBatchProgress& AProgress);

class TBatchRun {
 public:
  // Queues an action on the worker without waiting (the front end's TTh::TryExec); false when
  // it could not be queued.
  using TQueue = std::function<bool(std::unique_ptr<TThAction>&)>;
  using TOnEvent = std::function<void(const TBatchCardEvent&)>;

  TBatchRun(TIssuingService& AService, TQueue AQueue, TOnEvent AOnEvent = nullptr);
  ~TBatchRun();
  TBatchRun(const TBatchRun&) = delete;
  TBatchRun& operator=(const TBatchRun&) = delete;

  // Arms a run: the series is opened (created at FirstCode when new). False with the reason
  // (Russian) when there is no journal or the register cannot be reached; nothing is armed.
  bool Start(const TBatchOptions& AOptions, std::string& AError);
  // Disarms; a write on its way still ends with its verdict and row.
  void Stop();

  // The card in the field, at every poll. Writes a new card, skips a known one.
  void OnCard(const TCardInfo& ACard);

  const TBatchProgress& Progress() const { return FProgress; }
  bool Armed() const { return FProgress.Armed; }
  // All cards of a counted run are written and nothing is on its way.
  bool Done() const;
  // The next code the series hands out as far as this run knows.
  std::uint64_t Allocated() const { return FAllocated; }

 private:
  void HandleNewCard(const TCardInfo& ACard);
  void OnVerdict(const std::string& AUid, std::uint64_t ACode, const TVerdict& AVerdict,
                 TAcWriteCardCodeChecked& AAction);
  bool RetryUnjournaled();
  void ReportRegisterAway(const std::string& AUid, const std::string& AMessage);
  void Emit(TBatchCardEvent AEvent);
  void Spoil(std::uint64_t ACode, const std::string& AReason, TBatchCardEvent& AEvent);
  std::optional<std::string> CodeOnCard(const std::string& AUid, std::string& AProblem);

  TIssuingService& FService;
  TQueue FQueue;
  TOnEvent FOnEvent;
  TBatchOptions FOptions;
  TBatchProgress FProgress;
  std::set<std::string> FSeen;
  // A card whose write failed may be tried again once it has left the field.
  std::string FRetryWhenGone;
  std::uint64_t FAllocated = 0;
  std::chrono::steady_clock::time_point FPlaced{};
  // Rows the journal refused (register away): appended again before any further card is
  // written, so that no card stays without its row.
  std::vector<TOperationFacts> FUnjournaled;
  // Spoiled codes whose mark the register refused.
  std::vector<std::pair<std::uint64_t, std::string>> FUnmarked;
  std::string FPlacedUid;
  // Outlives this object in the completion of a write on its way.
  std::shared_ptr<bool> FAlive;
};

}  // namespace kiren::op
