#pragma once

#include <string>
#include <vector>

#include "cli/args.h"

namespace kiren::cli {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the reader or the card refused or failed the operation
constexpr int kExitUsage = 2;       // wrong command line or input value
constexpr int kExitConnection = 3;  // the port did not open, no version, or the link was lost
// The reader confirmed the card operation, but the check afterwards found a difference or
// could not run (the card may not work as intended). Wins over kExitNotJournaled.
constexpr int kExitCheckFailed = 4;
// The operation is not in the issuance journal: the journal is unavailable (and --no-journal
// was not given), or its row could not be written.
constexpr int kExitNotJournaled = 5;

// The commands with their options, for parsing and help.
const std::vector<TCommandSpec>& Commands();

// Help text: the overview without a command, else the command's own.
std::string HelpText(const TCommandSpec* ACommand);

// Reports a wrong command line (a JSON object on stdout with AJson, else a line and a pointer to
// --help on stderr); returns kExitUsage.
int ReportUsageError(bool AJson, const std::string& AText);

// Runs a parsed command line; returns the exit status. Every value is checked before the port
// is opened.
int RunCommand(const TArgs& AArgs);

}  // namespace kiren::cli
