#include "sim_process.h"

#include <signal.h>

#include <stdexcept>

namespace kiren::test {

TSimProcess::TSimProcess(const std::vector<std::string>& AArgs, const std::string& ARuntimeDir,
                         const std::vector<std::string>& AEnv, std::chrono::milliseconds ATimeout) {
  std::vector<std::string> argv{ProgramPath()};
  argv.insert(argv.end(), AArgs.begin(), AArgs.end());
  std::vector<std::string> env{"XDG_RUNTIME_DIR=" + ARuntimeDir};
  env.insert(env.end(), AEnv.begin(), AEnv.end());
  FProcess = std::make_unique<TProcess>(argv, env, ARuntimeDir + "/kiren-sim.err");
  const auto line =
      FProcess->WaitFor("port: ", ATimeout) ? FProcess->ReadLine(ATimeout) : std::nullopt;
  if (!line || line->rfind("pts/", 0) != 0)
    throw std::runtime_error("kiren-sim printed no port line: " + FProcess->Output());
  FPortName = *line;
}

TSimProcess::~TSimProcess() {
  FProcess->CloseStdin();
  FProcess->Signal(SIGTERM);
}

const char* TSimProcess::ProgramPath() {
  return KIREN_SIM_PATH;
}

std::string TSimProcess::Command(const std::string& ALine, std::chrono::milliseconds ATimeout) {
  FProcess->Write(ALine + "\n");
  return FProcess->ReadLine(ATimeout).value_or("");
}

}  // namespace kiren::test
