// kiren-cli: the reader's commands from a terminal or a script, through the device worker.
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
  TArgs args;
  try {
    args = ParseArgs(std::vector<std::string>(argv + 1, argv + argc), Commands());
  } catch (const TUsageError& e) {
    std::cerr << "kiren-cli: " << e.what() << "\nСправка: kiren-cli --help" << std::endl;
    return kExitUsage;
  }
  if (args.Version) {
    std::cout << "kiren-cli " KIREN_VERSION "\n";
    return kExitOk;
  }
  kiren::SetMaskKeys(args.MaskKeys);
  if (args.Help || args.Command == nullptr) {
    std::cout << HelpText(args.Command);
    return args.Help ? kExitOk : kExitUsage;
  }
  if (args.Command->NeedsPort && args.Port.empty()) {
    std::cerr << "kiren-cli: не задан порт\nСправка: kiren-cli --help" << std::endl;
    return kExitUsage;
  }
  return RunCommand(args);
}
