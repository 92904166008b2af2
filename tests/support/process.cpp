#include "process.h"

#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kiren::test {

TProcess::TProcess(const std::vector<std::string>& AArgv, const std::vector<std::string>& AEnv,
                   const std::string& AStderrPath) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                   AStderrPath.empty() ? "/dev/null" : AStderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<std::string> env = AEnv;
  auto overridden = [&AEnv](const char* AEntry) {
    for (const auto& e : AEnv) {
      const auto eq = e.find('=');
      if (eq != std::string::npos && std::strncmp(AEntry, e.c_str(), eq + 1) == 0)
        return true;
    }
    return false;
  };
  for (char** e = environ; *e != nullptr; ++e) {
    if (!overridden(*e))
      env.emplace_back(*e);
  }
  std::vector<char*> argv, envp;
  for (const auto& a : AArgv)
    argv.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  FStdin = in[1];
  FStdout = out[0];
  if (rc != 0)
    throw std::runtime_error("cannot start " + AArgv[0]);
}

TProcess::~TProcess() {
  CloseStdin();
  if (!Wait(std::chrono::seconds(3))) {
    kill(FPid, SIGTERM);
    if (!Wait(std::chrono::seconds(10))) {
      kill(FPid, SIGKILL);
      Wait(std::chrono::seconds(10));
    }
  }
  if (FStdout >= 0)
    close(FStdout);
}

void TProcess::Write(const std::string& AText) {
  if (FStdin >= 0 && write(FStdin, AText.data(), AText.size()) < 0)
    throw std::runtime_error("write to child failed");
}

void TProcess::CloseStdin() {
  if (FStdin >= 0)
    close(FStdin);
  FStdin = -1;
}

bool TProcess::ReadSome(int ATimeoutMs) {
  if (FStdout < 0)
    return false;
  pollfd fd{FStdout, POLLIN, 0};
  if (poll(&fd, 1, ATimeoutMs) <= 0)
    return false;
  char buf[4096];
  const ssize_t n = read(FStdout, buf, sizeof buf);
  if (n <= 0) {
    close(FStdout);
    FStdout = -1;
    return false;
  }
  FOutput.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool TProcess::WaitFor(const std::string& AText, std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    const auto pos = FOutput.find(AText, FConsumed);
    if (pos != std::string::npos) {
      FConsumed = pos + AText.size();
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline || FStdout < 0)
      return false;
    ReadSome(50);
  }
}

std::optional<std::string> TProcess::ReadLine(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    const auto eol = FOutput.find('\n', FConsumed);
    if (eol != std::string::npos) {
      std::string line = FOutput.substr(FConsumed, eol - FConsumed);
      FConsumed = eol + 1;
      return line;
    }
    if (std::chrono::steady_clock::now() >= deadline || FStdout < 0)
      return std::nullopt;
    ReadSome(50);
  }
}

const std::string& TProcess::Output() {
  if (FStatus)
    while (ReadSome(0)) {
    }
  return FOutput;
}

void TProcess::Signal(int ASignal) {
  if (!FStatus)
    kill(FPid, ASignal);
}

std::optional<int> TProcess::Wait(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!FStatus) {
    ReadSome(0);  // a full pipe must not hold the child up
    int status = 0;
    const pid_t done = waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return FStatus;
}

}  // namespace kiren::test
