// Runs the kiren-sim program as a process: port line, registration, exchanges over the
// pseudo-terminal, console commands, and a clean exit on SIGTERM or quit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "protocol/answer_reader.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

namespace {

namespace fs = std::filesystem;
using namespace kiren;

class KirenSimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kiren-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    FDir = tmpl;
  }
  void TearDown() override {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    if (FIn >= 0)
      ::close(FIn);
    if (FOut >= 0)
      ::close(FOut);
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }

  void Start(const std::vector<std::string>& AArgs) {
    int in[2], out[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    // Everything the child needs is prepared before fork().
    std::vector<std::string> env{"XDG_RUNTIME_DIR=" + FDir};
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0)
        env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{const_cast<char*>(KIREN_SIM_PATH)};
    for (const auto& a : AArgs)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    FPid = ::fork();
    ASSERT_GE(FPid, 0);
    if (FPid == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::execve(KIREN_SIM_PATH, argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    FIn = in[1];
    FOut = out[0];
  }

  // One line of the program's output, without the line break; empty after 10 s.
  std::string ReadLine() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FBuffered.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{FOut, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0)
        continue;
      char buf[256];
      const ssize_t n = ::read(FOut, buf, sizeof buf);
      if (n <= 0)
        break;
      FBuffered.append(buf, static_cast<std::size_t>(n));
    }
    const auto eol = FBuffered.find('\n');
    if (eol == std::string::npos)
      return {};
    std::string line = FBuffered.substr(0, eol);
    FBuffered.erase(0, eol + 1);
    return line;
  }

  void Command(const std::string& ALine) {
    const std::string text = ALine + "\n";
    ASSERT_EQ(::write(FIn, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Exit status after the process ended, -1 when it did not end within 10 s.
  int WaitExit() {
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  std::vector<fs::path> Entries() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FDir + "/kiren/readers", ec)) {
      if (e.path().extension() == ".reader")
        files.push_back(e.path());
    }
    return files;
  }

  std::string FDir;
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  std::string FBuffered;
};

// TProtocol over the program's pseudo-terminal.
struct TPortProtocol {
  int Fd;
  TProtocol Proto{[this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    const Bytes frame = TBuilder::Finalize(AReq);
    if (::write(Fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
      return 2;
    TAnswerReader reader;
    while (!reader.Done()) {
      pollfd p{Fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0)
        return 3;
      std::uint8_t buf[TAnswerReader::kBufferSize];
      const ssize_t n = ::read(Fd, buf, reader.Room());
      if (n <= 0)
        return 2;
      reader.Feed(buf, static_cast<std::size_t>(n));
    }
    if (reader.State() != TAnswerState::Answer)
      return reader.State() == TAnswerState::Damaged ? 4 : 3;
    ACmd = reader.Command();
    AData = reader.Payload();
    return 0;
  }};
};

TEST_F(KirenSimProcess, RegistersAnswersAndUnregistersOnSigterm) {
  Start({"--card", "new1k", "--uid", "0A0B0C0D", "--version", "Кирен-М1 v5.7", "--no-console"});
  const std::string line = ReadLine();
  ASSERT_EQ(line.rfind("port: pts/", 0), 0u) << line;
  const std::string port = line.substr(6);

  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  std::FILE* f = std::fopen(entries[0].c_str(), "r");
  ASSERT_NE(f, nullptr);
  char text[512] = {};
  std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  EXPECT_NE(std::string(text).find("Port=" + port + "\n"), std::string::npos) << text;
  EXPECT_NE(std::string(text).find("VID_0483&PID_5740"), std::string::npos) << text;
  EXPECT_NE(std::string(text).find("Кирен-М1 (виртуальный) (" + port + ")"), std::string::npos);

  const int fd = ::open(("/dev/" + port).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TPortProtocol link{fd};
  std::string ver;
  EXPECT_EQ(link.Proto.GetVer(ver), 0);
  EXPECT_EQ(ver, "Кирен-М1 v5.7");
  TCardInfo card;
  EXPECT_EQ(link.Proto.GetCardInfo(card), 0);
  EXPECT_EQ(card.CardType(), "Mifare Classic 1K");
  EXPECT_EQ(card.UIDStr(), "0A0B0C0D");

  // Stdin is ignored: closing it does not end the program.
  ::close(FIn);
  FIn = -1;
  EXPECT_EQ(link.Proto.GetVer(ver), 0);

  ASSERT_EQ(::kill(FPid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_TRUE(Entries().empty());
  ::close(fd);
}

TEST_F(KirenSimProcess, ConsoleCommandsReachTheReader) {
  Start({});
  const std::string line = ReadLine();
  ASSERT_EQ(line.rfind("port: pts/", 0), 0u) << line;
  const int fd = ::open(("/dev/" + line.substr(6)).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TPortProtocol link{fd};
  TStatus st;
  EXPECT_EQ(link.Proto.GetStatus(st), 0);
  EXPECT_FALSE(st.CardPresent());

  Command("desfire");
  EXPECT_EQ(ReadLine().rfind("ok: desfire card: DESFire", 0), 0u);
  TCardInfo card;
  EXPECT_EQ(link.Proto.GetCardInfo(card), 0);
  EXPECT_EQ(card.CardType(), "DESFire, -EV1, -ISO");

  Command("fault noanswer on");
  EXPECT_EQ(ReadLine(), "ok: fault noanswer on");
  EXPECT_EQ(link.Proto.GetStatus(st), 3);

  // Unplugging: the port hangs up and the registration goes away while the program runs.
  Command("hangup");
  EXPECT_EQ(ReadLine(), "ok: port closed");
  EXPECT_TRUE(Entries().empty());
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  ::close(fd);

  Command("quit");
  EXPECT_EQ(ReadLine(), "bye");
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(KirenSimProcess, EndOfConsoleInputEndsTheProgramAndBadOptionsAreRefused) {
  Start({"--card", "written"});
  ASSERT_EQ(ReadLine().rfind("port: pts/", 0), 0u);
  ASSERT_EQ(Entries().size(), 1u);
  ::close(FIn);
  FIn = -1;
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_TRUE(Entries().empty());

  ::close(FOut);
  FOut = -1;
  Start({"--card", "nosuch"});
  EXPECT_EQ(WaitExit(), 2);
  EXPECT_TRUE(Entries().empty());
}

}  // namespace
