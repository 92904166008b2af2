#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace kiren::test {

// The kiren-sim program as a child process, its reader registry below ARuntimeDir
// (XDG_RUNTIME_DIR) and its console on a pipe; the constructor returns once it printed its
// "port: pts/N" line and throws when it did not within the timeout.
class TSimProcess {
 public:
  TSimProcess(const std::vector<std::string>& AArgs, const std::string& ARuntimeDir,
              const std::vector<std::string>& AEnv = {},
              std::chrono::milliseconds ATimeout = std::chrono::seconds(20));

  // Ends the program with SIGTERM (it unregisters itself) unless it has ended already.
  ~TSimProcess();
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  static const char* ProgramPath();

  const std::string& PortName() const { return FPortName; }  // "pts/N"
  std::string DevicePath() const { return "/dev/" + FPortName; }
  TProcess& Process() { return *FProcess; }

  // Sends one console line and returns the first line of its reply (empty on timeout).
  std::string Command(const std::string& ALine,
                      std::chrono::milliseconds ATimeout = std::chrono::seconds(5));

 private:
  std::unique_ptr<TProcess> FProcess;
  std::string FPortName;
};

}  // namespace kiren::test
