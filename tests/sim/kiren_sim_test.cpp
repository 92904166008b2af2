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
#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace kiren;
using test::TProcess;
using test::TSimProcess;
using test::TTempDir;

class KirenSimProcess : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& AArgs) {
    std::vector<std::string> argv{TSimProcess::ProgramPath()};
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    FProcess.reset();
    FProcess = std::make_unique<TProcess>(argv, std::vector<std::string>{"XDG_RUNTIME_DIR=" + FDir},
                                          FDir + "/kiren-sim.err");
  }

  // One line of the program's output, without the line break; empty after 10 s.
  std::string ReadLine() { return FProcess->ReadLine(std::chrono::seconds(10)).value_or(""); }

  void Command(const std::string& ALine) { FProcess->Write(ALine + "\n"); }

  // Exit status after the process ended, -1 when it did not end within 10 s.
  int WaitExit() { return FProcess->Wait(std::chrono::seconds(10)).value_or(-1); }

  std::vector<fs::path> Entries() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FDir + "/kiren/readers", ec)) {
      if (e.path().extension() == ".reader")
        files.push_back(e.path());
    }
    return files;
  }

  TTempDir FTmp{"kiren-sim-test"};
  const std::string FDir = FTmp.Path();
  std::unique_ptr<TProcess> FProcess;
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
  FProcess->CloseStdin();
  EXPECT_EQ(link.Proto.GetVer(ver), 0);

  FProcess->Signal(SIGTERM);
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

// A scripted feed from the command line: the tool sees three new cards one after another.
TEST_F(KirenSimProcess, FeedOptionPresentsNewCards) {
  Start({"--feed", "3 dwell 300 gap 100 uid 0B000001", "--no-console"});
  const std::string line = ReadLine();
  ASSERT_EQ(line.rfind("port: pts/", 0), 0u) << line;
  const int fd = ::open(("/dev/" + line.substr(6)).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TPortProtocol link{fd};
  std::vector<std::string> seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (seen.size() < 3 && std::chrono::steady_clock::now() < end) {
    TCardInfo card;
    ASSERT_EQ(link.Proto.GetCardInfo(card), 0);
    if (card.status.CardPresent() && (seen.empty() || seen.back() != card.UIDStr()))
      seen.push_back(card.UIDStr());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0B000001", "0B000002", "0B000003"}));
  ::close(fd);
}

TEST_F(KirenSimProcess, EndOfConsoleInputEndsTheProgramAndBadOptionsAreRefused) {
  Start({"--card", "written"});
  ASSERT_EQ(ReadLine().rfind("port: pts/", 0), 0u);
  ASSERT_EQ(Entries().size(), 1u);
  FProcess->CloseStdin();
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_TRUE(Entries().empty());

  Start({"--card", "nosuch"});
  EXPECT_EQ(WaitExit(), 2);
  Start({"--feed", "3 dwell soon"});
  EXPECT_EQ(WaitExit(), 2);
  EXPECT_TRUE(Entries().empty());
}

}  // namespace
