// kiren-cli: the reader's commands from a terminal or a script, through the device worker.
#include <algorithm>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "logging/dbg_logger.h"

namespace {

extern "C" void OnStopSignal(int) {
  kiren::cli::gInterrupted = true;
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kiren::cli;
  InstallSignalHandlers();
  const std::vector<std::string> words(argv + 1, argv + argc);
  // --json counts wherever it stands, also when the rest of the line cannot be parsed.
  const bool json = std::find(words.begin(), words.end(), "--json") != words.end();
  TArgs args;
  try {
    args = ParseArgs(words, Commands());
  } catch (const TUsageError& e) {
    return ReportUsageError(json, e.what());
  }
  if (args.Version) {
    std::cout << "kiren-cli " KIREN_VERSION "\n";
    return kExitOk;
  }
  kiren::SetMaskKeys(args.MaskKeys);
  if (args.Help) {
    std::cout << HelpText(args.Command);
    return kExitOk;
  }
  if (args.Command == nullptr) {
    if (json)
      return ReportUsageError(json, "не задана команда");
    std::cout << HelpText(nullptr);
    return kExitUsage;
  }
  if (args.Command->NeedsPort && args.Port.empty())
    return ReportUsageError(json, "не задан порт");
  return RunCommand(args);
}
