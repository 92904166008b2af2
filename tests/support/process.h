#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiren::test {

// A child program with a pipe to its stdin and one from its stdout; stderr goes to a file.
// The destructor closes stdin and ends the program (SIGTERM, then SIGKILL) if it lingers.
class TProcess {
 public:
  // AEnv: "NAME=value" entries added to the environment (replacing inherited ones of the same
  // name). AStderrPath: file stderr is appended to (empty: /dev/null).
  TProcess(const std::vector<std::string>& AArgv, const std::vector<std::string>& AEnv,
           const std::string& AStderrPath);
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  void Write(const std::string& AText);
  void CloseStdin();
  // Reads stdout until it holds AText (after what earlier waits consumed) or ATimeout passed.
  bool WaitFor(const std::string& AText, std::chrono::milliseconds ATimeout);
  // The next line of stdout after what earlier waits consumed, without its line break;
  // nothing when no whole line came within ATimeout.
  std::optional<std::string> ReadLine(std::chrono::milliseconds ATimeout);
  // Everything read from stdout so far (reading the rest once the program has ended).
  const std::string& Output();
  void Signal(int ASignal);
  // The exit status, or nothing when the program is still running after ATimeout.
  std::optional<int> Wait(std::chrono::milliseconds ATimeout);

 private:
  bool ReadSome(int ATimeoutMs);

  pid_t FPid = -1;
  int FStdin = -1;
  int FStdout = -1;
  std::string FOutput;
  std::size_t FConsumed = 0;
  std::optional<int> FStatus;
};

}  // namespace kiren::test
