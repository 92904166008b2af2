// kiren-cli and the issuance journal: opening it for the card commands, and the journal
// command that lists it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "cli/args.h"
#include "operator/issuing.h"

namespace kiren::cli {

// The journal is unavailable and --no-journal was not given: nothing touched the card.
class TJournalRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The journal options of AArgs (--journal PATH, else the usual place beside the program).
op::TJournalOptions JournalOptions(const TArgs& AArgs);

// The issuing service of a card command: the journal opened, the questions answered by
// --no-journal and --allow-duplicate. Throws TJournalRefused when the journal cannot be
// opened and --no-journal is absent; with it, AWarn gets the journal's message.
std::shared_ptr<op::TIssuingService> MakeIssuingService(
    const TArgs& AArgs, const std::function<void(const std::string&)>& AWarn);

// The journal filter of --since, --until, --uid and --code; throws TUsageError for values that
// cannot be used.
TJournalFilter JournalFilterOf(const TArgs& AArgs);

// The journal command: rows newest first as text lines, CSV (--csv) or JSON lines (--json).
// Returns the exit status.
int RunJournalCommand(const TArgs& AArgs);

}  // namespace kiren::cli
