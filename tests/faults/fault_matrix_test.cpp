// Fault matrix of the device path: the worker against the virtual reader over a real
// pseudo-terminal, with the reader's fault switches, an unplugged reader, a port taken by
// another program, an unwritable log folder and stops with work queued. Every row must end
// within its timeouts with the outcome an operator would see, and the debug log must stay
// readable.
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "logging/dbg_logger.h"
#include "serial/com_port.h"
#include "sim/card.h"
#include "worker/actions.h"
#include "worker_fixture.h"

namespace kiren::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kBlock = 4;
const TKey kFFKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::string ReadAll(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every line of the debug log is an exchange line, a marked error line or empty: the file is
// whole, not cut in the middle of a line.
void ExpectIntactLog(const std::string& ADir) {
  std::size_t files = 0;
  const std::regex line(
      "(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (>>|<<)( [0-9A-F]{2})* ?|.*\\*\\*.*|)\r");
  for (const auto& entry : std::filesystem::directory_iterator(ADir)) {
    ++files;
    std::istringstream text(ReadAll(entry.path().string()));
    std::string l;
    while (std::getline(text, l))
      EXPECT_TRUE(std::regex_match(l, line)) << entry.path() << ": " << l;
    EXPECT_TRUE(ReadAll(entry.path().string()).ends_with("\r\n")) << entry.path();
  }
  EXPECT_EQ(files, 1u) << "one log file per run";
}

class TFaultTest : public TWorkerTest {
 protected:
  // Connects to the reader with a card in the field and waits for the first card report.
  void Connect() {
    Firmware.PutCard(sim::NewClassic1K());
    Start();
    ASSERT_TRUE(WaitCards(1));
    ASSERT_TRUE(View.Cards.back().status.CardPresent());
  }

  // For conditions that no main-thread call announces (the reader's request history): the
  // loop checks them every 20 ms.
  bool PollUntil(const std::function<bool()>& APredicate,
                 std::chrono::milliseconds ATimeout = 15s) {
    const auto deadline = Clock::now() + ATimeout;
    while (Clock::now() < deadline)
      if (RunUntil(APredicate, 20ms))
        return true;
    return APredicate();
  }
  bool ReadBlockSent() { return !RequestsOf(Firmware, kCmdReadBlock).empty(); }

  struct TResult {
    int ErrCode = -1;
    std::string Text;  // what the status bar shows
    Clock::duration Took{};
  };

  // "Прочитать блок" as the window queues it; waits until it reported.
  TResult ReadBlock(std::chrono::milliseconds ATimeout = 20s) {
    TResult r;
    const auto t0 = Clock::now();
    Th->Exec(std::make_unique<TAcReadBlock>(kBlock, kKeyTypeA, kFFKey, [&](TThAction& A) {
      r.ErrCode = A.ErrCode();
      r.Text = ActionErrorText(A);
      r.Took = Clock::now() - t0;
    }));
    EXPECT_TRUE(RunUntil([&] { return r.ErrCode >= 0; }, ATimeout)) << "the action never reported";
    return r;
  }
};

// Faulty answers to one command. Rows: what the reader does, what the status bar shows, how
// often the request goes out, and the least time the exchange must take (its timeouts).
TEST_F(TFaultTest, FaultyAnswersEndTheActionAndPollingGoesOn) {
  struct TRow {
    const char* Name;
    void (*Set)(sim::TFaults&);
    int ErrCode;
    const char* Text;
    std::size_t Sends;
    std::chrono::milliseconds AtLeast;
  };
  const TRow rows[] = {
      {"silent reader", [](sim::TFaults& f) { f.NoAnswer = true; }, kResTimeout,
       "Ошибка 3 (Команда не выполнена)", 1, 1900ms},
      {"half a frame", [](sim::TFaults& f) { f.HalfAnswer = true; }, kResTimeout,
       "Ошибка 3 (Команда не выполнена)", 2, 3800ms},
      {"bad CRC", [](sim::TFaults& f) { f.BadCrc = true; }, kResBadAnswer,
       "Ошибка 4 (Команда не выполнена)", 1, 0ms},
      {"bytes after the frame", [](sim::TFaults& f) { f.TrailingBytes = true; }, kResBadAnswer,
       "Ошибка 4 (Команда не выполнена)", 1, 0ms},
      {"answer longer than 66 bytes", [](sim::TFaults& f) { f.LongAnswer = true; }, kResTimeout,
       "Ошибка 3 (Команда не выполнена)", 2, 3800ms},
      {"answer to another command", [](sim::TFaults& f) { f.WrongCommand = true; },
       kResWrongCommand, "Ошибка 1 (Команда не выполнена)", 1, 0ms},
      {"answer after the timeout", [](sim::TFaults& f) { f.DelayMs = 2600; }, kResTimeout,
       "Ошибка 3 (Команда не выполнена)", 1, 1900ms},
  };
  Connect();
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    sim::TFaults faults;
    row.Set(faults);
    faults.OnlyCmd = kCmdReadBlock;
    faults.Count = static_cast<int>(row.Sends);
    Firmware.SetFaults(faults);
    Firmware.ClearHistory();

    const TResult r = ReadBlock();
    EXPECT_EQ(r.ErrCode, row.ErrCode);
    EXPECT_EQ(r.Text, row.Text);
    EXPECT_EQ(RequestsOf(Firmware, kCmdReadBlock).size(), row.Sends);
    EXPECT_GE(r.Took, row.AtLeast);

    // The worker carries on: the card stays shown, and the next read works.
    ASSERT_TRUE(WaitCards(2));
    EXPECT_TRUE(View.Cards.back().status.CardPresent());
    Firmware.SetFaults({});
    EXPECT_EQ(ReadBlock().ErrCode, kResOk);
    EXPECT_FALSE(Ended);
  }
  Stop();
  ExpectIntactLog(LogDir.Path());
}

// A reader that stays silent at connect: the version query times out once, the window gets
// the failed version ("Нет информации о версии") and the run ends.
TEST_F(TFaultTest, SilentReaderAtConnect) {
  sim::TFaults faults;
  faults.NoAnswer = true;
  Firmware.SetFaults(faults);
  const auto t0 = Clock::now();
  Start();
  ASSERT_TRUE(RunUntil([this] { return Ended; }, 20s));
  EXPECT_GE(Clock::now() - t0, 1900ms);
  ASSERT_EQ(View.DevInfos.size(), 1u);
  EXPECT_EQ(View.DevInfos[0].Error, kResTimeout);
  EXPECT_TRUE(View.Cards.empty());
  EXPECT_EQ(CommandsOf(Firmware), std::vector<std::uint8_t>{kCmdGetVerInfo});
  EXPECT_EQ(EndReason, TEndReason::NoVersion);
  ExpectIntactLog(LogDir.Path());
}

// Unplugged while polling: the run ends (the window returns to its closed state).
TEST_F(TFaultTest, UnpluggedWhilePollingEndsTheRun) {
  Connect();
  Host->Hangup();
  EXPECT_TRUE(RunUntil([this] { return Ended; }, 20s));
  EXPECT_EQ(EndReason, TEndReason::DeviceGone);
  ExpectIntactLog(LogDir.Path());
}

// Unplugged in the middle of an action's exchange: the action reports a port failure, the
// run ends, nothing hangs.
TEST_F(TFaultTest, UnpluggedDuringAnActionReportsPortFailure) {
  Connect();
  sim::TFaults faults;
  faults.DelayMs = 1500;
  faults.OnlyCmd = kCmdReadBlock;
  Firmware.SetFaults(faults);
  Firmware.ClearHistory();
  TResult r;
  Th->Exec(std::make_unique<TAcReadBlock>(kBlock, kKeyTypeA, kFFKey, [&](TThAction& A) {
    r.ErrCode = A.ErrCode();
    r.Text = ActionErrorText(A);
  }));
  ASSERT_TRUE(PollUntil([&] { return ReadBlockSent(); }));
  Host->Hangup();
  ASSERT_TRUE(RunUntil([&] { return r.ErrCode >= 0; }, 20s));
  EXPECT_EQ(r.ErrCode, kResPortFailure);
  EXPECT_EQ(r.Text, "Ошибка 2 (Команда не выполнена)");
  EXPECT_TRUE(RunUntil([this] { return Ended; }, 20s));
  EXPECT_EQ(EndReason, TEndReason::DeviceGone);
  ExpectIntactLog(LogDir.Path());
}

// A port that another program holds does not open: the run ends without device information,
// with the reason kept for the window; once released it connects.
TEST_F(TFaultTest, PortHeldByAnotherProgram) {
  TMyComPort other;
  ASSERT_TRUE(other.Open(Host->PortName(), true));
  std::string reason;
  TEndReason why = TEndReason::Requested;
  bool ended = false;
  TTh::Create(
      Host->PortName(), false,
      [&](TTh* ASender) {
        reason = ASender->PortErrorStr();
        why = ASender->EndReason();
        ended = true;
      },
      View, Loop);
  ASSERT_TRUE(RunUntil([&] { return ended; }, 20s));
  EXPECT_TRUE(View.DevInfos.empty());
  EXPECT_EQ(reason, "Device or resource busy");
  EXPECT_EQ(why, TEndReason::PortBusy);

  ASSERT_TRUE(other.Close());
  Connect();
  EXPECT_EQ(View.DevInfos.back().Error, kResOk);
}

// An unwritable log folder costs the log, not the connection.
TEST_F(TFaultTest, UnwritableLogFolderDoesNotStopTheWork) {
  const std::string blocker = LogDir.Path() + "/not-a-folder";
  std::ofstream(blocker) << "x";
  DbgLogger()->Close();
  DbgLogger()->SetDir(blocker + "/Logs");
  Connect();
  EXPECT_EQ(ReadBlock().ErrCode, kResOk);
  ASSERT_TRUE(WaitCards(1));
  Stop();
  EXPECT_TRUE(Ended);
  EXPECT_EQ(ReadAll(blocker), "x");
}

// Stop while one action is in its exchange and nine wait: the running one reports, the
// waiting ones are dropped unreported, and the run ends within the exchange's timeout.
TEST_F(TFaultTest, StopWithActionsQueued) {
  Connect();
  sim::TFaults faults;
  faults.NoAnswer = true;
  faults.OnlyCmd = kCmdReadBlock;
  Firmware.SetFaults(faults);
  Firmware.ClearHistory();
  std::vector<int> reported;
  for (int i = 0; i < 10; ++i)
    Th->Exec(std::make_unique<TAcReadBlock>(
        kBlock, kKeyTypeA, kFFKey, [&](TThAction& A) { reported.push_back(A.ErrCode()); }));
  ASSERT_TRUE(PollUntil([&] { return ReadBlockSent(); }));
  const auto t0 = Clock::now();
  Th->Terminate();
  ASSERT_TRUE(RunUntil([this] { return Ended; }, 20s));
  EXPECT_LT(Clock::now() - t0, 10s);
  EXPECT_EQ(reported, std::vector<int>{kResTimeout});
  EXPECT_EQ(RequestsOf(Firmware, kCmdReadBlock).size(), 1u);
  ExpectIntactLog(LogDir.Path());
}

// A full queue refuses the next action at once (the window shows an error instead of
// blocking); the queued ones all run.
TEST_F(TFaultTest, FullQueueRefusesWithoutBlocking) {
  Connect();
  sim::TFaults faults;
  faults.DelayMs = 300;
  faults.OnlyCmd = kCmdReadBlock;
  Firmware.SetFaults(faults);
  int done = 0;
  const auto count = [&](TThAction& A) { done += A.ErrCode() == kResOk; };
  for (int i = 0; i < 11; ++i) {
    std::unique_ptr<TThAction> a = std::make_unique<TAcReadBlock>(kBlock, kKeyTypeA, kFFKey, count);
    if (!Th->TryExec(a)) {
      EXPECT_NE(a, nullptr) << "a refused action stays with the caller";
      break;
    }
  }
  ASSERT_TRUE(RunUntil([&] { return done >= 10; }, 30s));
  EXPECT_GE(done, 10);
  EXPECT_FALSE(Ended);
}

}  // namespace
}  // namespace kiren::test
