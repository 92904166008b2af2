#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "logging/dbg_logger.h"
#include "protocol/frame.h"
#include "serial/com_port.h"
#include "sim/card.h"
#include "worker/actions.h"
#include "worker_fixture.h"

namespace kiren::test {
namespace {

using Clock = std::chrono::steady_clock;

// An action whose Execute runs a test body; counts runs, reports and releases.
struct TProbeCounters {
  std::atomic<int> Executed{0};
  std::atomic<int> Released{0};
  int Reported = 0;
};

class TProbe : public TThAction {
 public:
  TProbe(TProbeCounters& ACounters, std::function<int(TProtocol&)> ABody, TOnActionDone AOnDone)
      : TThAction(std::move(AOnDone)), FCounters(ACounters), FBody(std::move(ABody)) {}
  ~TProbe() override { ++FCounters.Released; }
  int Execute(TProtocol& AProto) override {
    ++FCounters.Executed;
    Started = Clock::now();
    FErrCode = FBody ? FBody(AProto) : kResOk;
    Finished = Clock::now();
    return FErrCode;
  }
  Clock::time_point Started, Finished;

 private:
  TProbeCounters& FCounters;
  std::function<int(TProtocol&)> FBody;
};

// Probe counters outlive the worker: the fixture's TearDown stops it first.
class TProbeTest : public TWorkerTest {
 protected:
  TProbeCounters Counters;
};

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string HexLine(const char* AMark, const Bytes& AData) {
  std::string line = std::string("T ") + AMark + " ";
  for (std::size_t i = 0; i < AData.size(); ++i) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (i > 0)
      line += ' ';
    line += kDigits[AData[i] >> 4];
    line += kDigits[AData[i] & 0x0F];
  }
  return line + "\r\n";
}

TEST(TicksElapsed, CountsAcrossTheWrapOfTheCounter) {
  struct {
    std::uint32_t Start, Now, Elapsed;
  } const cases[] = {
      {100, 2100, 2000},
      {0, 0, 0},
      {0xFFFFFFF0u, 0xFFFFFFFFu, 15},
      {0xFFFFFF00u, 0x10, 0x10 + 0xFF},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TicksElapsed(c.Start, c.Now), c.Elapsed) << c.Start;
}

// The log of a real session: request and answer lines, an empty line before every exchange
// but the first, and an answer line without bytes for a reader that stays silent.
TEST_F(TWorkerTest, LogsEveryExchangeOfARealSession) {
  const std::string logName = LogDir.Path() + "/session.txt";
  DbgLogger()->SetFileName(logName);
  sim::TFaults faults;
  faults.NoAnswer = true;
  faults.OnlyCmd = kCmdClearCard;
  Firmware.SetFaults(faults);
  sim::TFirmware reference;  // same settings, answers the same requests

  View.OnCard = [this](const TCardInfo&) { Th->Terminate(); };
  Start();
  int clearResult = -1;
  Th->Exec(std::make_unique<TAcClearCard>([&](TThAction& A) { clearResult = A.ErrCode(); }));
  ASSERT_TRUE(RunUntil([this] { return Ended; }, 30s));
  EXPECT_EQ(clearResult, kResTimeout);

  std::string expected;
  bool first = true;
  for (const Bytes& req : {Bytes{kCmdGetVerInfo}, Bytes{kCmdSetupMode, 2}, Bytes{kCmdGetConfig},
                           Bytes{kCmdClearCard}, Bytes{kCmdGetStatus}}) {
    const Bytes frame = TBuilder::Finalize(req);
    if (!first)
      expected += "\r\n";
    first = false;
    expected += HexLine(">>", frame);
    expected += req.front() == kCmdClearCard ? std::string("T << \r\n")
                                             : HexLine("<<", reference.Receive(frame));
  }
  const std::string log = ReadFile(logName);
  const std::regex stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ", std::regex::multiline);
  EXPECT_EQ(std::regex_replace(log, stamp, "T "), expected) << log;
}

// Exchange rules: a silent reader gets one send and 3 after the timeout; a partial answer
// followed by silence gets a second send; a damaged complete frame ends at once with 4.
TEST_F(TProbeTest, ExchangeRetriesOnlyAfterAPartialAnswer) {
  struct {
    const char* Name;
    sim::TFaults Faults;
    int Result;
    std::size_t Sends;
    std::chrono::milliseconds AtLeast;
  } cases[] = {
      {"silent", {}, kResTimeout, 1, 1900ms},
      {"half answer", {}, kResTimeout, 2, 3800ms},
      {"bad CRC", {}, kResBadAnswer, 1, 0ms},
  };
  cases[0].Faults.NoAnswer = true;
  cases[1].Faults.HalfAnswer = true;
  cases[2].Faults.BadCrc = true;

  Start();
  ASSERT_TRUE(RunUntil([this] { return !View.DevInfos.empty(); }));
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Faults.OnlyCmd = kCmdSetupMode;
    Firmware.SetFaults(c.Faults);
    Firmware.ClearHistory();
    int result = -1;
    Clock::duration took{};
    Th->Exec(std::make_unique<TProbe>(
        Counters,
        [](TProtocol& P) {
          std::uint8_t answer = 0;
          return P.SetupMode(2, answer);
        },
        [&](TThAction& A) {
          auto& probe = static_cast<TProbe&>(A);
          result = A.ErrCode();
          took = probe.Finished - probe.Started;
        }));
    ASSERT_TRUE(RunUntil([&] { return result >= 0; }));
    EXPECT_EQ(result, c.Result);
    EXPECT_EQ(RequestsOf(Firmware, kCmdSetupMode).size(), c.Sends);
    EXPECT_GE(took, c.AtLeast);
  }
  Firmware.SetFaults({});
}

// One status query per unchanged cycle while the card is shown every cycle; card identity and
// content are read once; taking the card away clears the record.
TEST_F(TWorkerTest, PollsTheCardAndClearsItWhenTakenAway) {
  Firmware.PutCard(sim::NewClassic1K());
  Start();
  ASSERT_TRUE(WaitCards(3));
  const TCardInfo& shown = View.Cards.back();
  EXPECT_TRUE(shown.status.CardPresent());
  EXPECT_EQ(shown.UIDStr(), BytesToHex(sim::DefaultUid(sim::TCardKind::Classic1K)));
  EXPECT_FALSE(shown.desc.empty());
  EXPECT_EQ(RequestsOf(Firmware, kCmdGetCardType).size(), 1u);
  EXPECT_EQ(RequestsOf(Firmware, kCmdGetKirenCard).size(), 1u);
  EXPECT_GE(RequestsOf(Firmware, kCmdGetStatus).size(), 3u);

  Firmware.RemoveCard();
  ASSERT_TRUE(RunUntil([this] { return !View.Cards.back().status.CardPresent(); }));
  TCardInfo cleared;
  cleared.Clear();
  const TCardInfo& gone = View.Cards.back();
  EXPECT_EQ(gone.status.data, 0);
  EXPECT_EQ(gone.UIDSize, 0);
  EXPECT_EQ(gone.UID, cleared.UID);
  EXPECT_EQ(gone.type_, 0);
  EXPECT_TRUE(gone.desc.empty());
}

// A shorter poll period (a batch run while armed) ends the 800 ms pause under way: forty polls
// come long before forty normal cycles (32 s) could; set back, the cycle slows down again.
TEST_F(TWorkerTest, PollPeriodSetDuringAPauseTakesEffectAtOnce) {
  Start();
  ASSERT_TRUE(WaitCards(1));
  EXPECT_EQ(Th->PollPeriod(), TTh::kNormalPollPeriod);
  Th->SetPollPeriod(std::chrono::milliseconds(10));
  EXPECT_TRUE(WaitCards(40, 10s));
  Th->SetPollPeriod(TTh::kNormalPollPeriod);
  ASSERT_TRUE(WaitCards(1));  // the pause under way ends by the normal period
  EXPECT_FALSE(WaitCards(4, 1500ms));
}

// The major version decides the card-content command and whether the configuration is read.
TEST_F(TWorkerTest, VersionChoosesReadMethodAndConfiguration) {
  struct {
    const char* Version;
    bool PassedWiegand;
    std::uint8_t ContentCmd;
    bool ConfigShown;
  } const cases[] = {
      {"Kiren-M1 v3.9", false, kCmdReadKirenCard, false},
      {"Kiren-M1 v4.0", true, kCmdGetKirenCard, false},
      {"Kiren-M1 v5.3", false, kCmdGetKirenCard, true},
  };
  Firmware.PutCard(sim::NewClassic1K());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Version);
    Firmware.SetVersion(c.Version);
    Firmware.ClearHistory();
    View = TRecordingView();
    Start(c.PassedWiegand);
    ASSERT_TRUE(WaitCards(1));
    Stop();
    EXPECT_EQ(EndReason, TEndReason::Requested);
    ASSERT_EQ(View.DevInfos.size(), 1u);
    EXPECT_EQ(View.DevInfos[0].Error, kResOk);
    EXPECT_EQ(View.DevInfos[0].DevInfo.verInfo, c.Version);
    EXPECT_EQ(RequestsOf(Firmware, c.ContentCmd).size(), 1u);
    EXPECT_EQ(View.Configs.size(), c.ConfigShown ? 1u : 0u);
    EXPECT_EQ(RequestsOf(Firmware, kCmdGetConfig).empty(), !c.ConfigShown);
  }
}

// The action in progress completes and reports; the ones still queued are released unrun.
TEST_F(TProbeTest, StopDropsQueuedActionsWithoutRunningThem) {
  Start();
  ASSERT_TRUE(RunUntil([this] { return !View.DevInfos.empty(); }));
  auto report = [&](TThAction&) {
    ++Counters.Reported;
    Th->Terminate();
  };
  for (int i = 0; i < 3; ++i)
    Th->Exec(std::make_unique<TProbe>(Counters, nullptr, report));
  ASSERT_TRUE(RunUntil([this] { return Ended; }, 30s));
  EXPECT_EQ(Counters.Executed, 1);
  EXPECT_EQ(Counters.Reported, 1);
  EXPECT_EQ(Counters.Released, 3);
}

// Ten waiting actions fill the queue: TryExec refuses the eleventh, Exec waits for room.
TEST_F(TProbeTest, EleventhExecWaitsUntilTheWorkerTakesOne) {
  Start();  // the worker soon waits for this thread to show the device information
  for (int i = 0; i < 10; ++i) {
    std::unique_ptr<TThAction> action = std::make_unique<TProbe>(Counters, nullptr, nullptr);
    ASSERT_TRUE(Th->TryExec(action));
  }
  std::unique_ptr<TThAction> extra = std::make_unique<TProbe>(Counters, nullptr, nullptr);
  EXPECT_FALSE(Th->TryExec(extra));
  ASSERT_NE(extra, nullptr);

  std::atomic<bool> queued{false};
  TTh* th = Th;
  std::thread producer([&] {
    th->Exec(std::move(extra));
    queued = true;
  });
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(queued);
  EXPECT_TRUE(RunUntil([&] { return queued.load(); }));
  producer.join();
  EXPECT_TRUE(RunUntil([&] { return Counters.Executed == 11; }));
}

// Once the run has ended nobody waits for room in the queue (the main thread must stay free
// to run OnTerminate): Exec and TryExec release the action unrun at once.
TEST_F(TProbeTest, ExecAfterTheRunEndedDoesNotWait) {
  Start(false, "pts/999999");  // the port does not open: the run ends at once
  TTh* th = Th;                // OnTerminate stays pending: this thread runs no loop yet
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int i = 0; i < 12; ++i)
      th->Exec(std::make_unique<TProbe>(Counters, nullptr, nullptr));
    done = true;
  });
  const auto deadline = Clock::now() + 20s;
  while (!done && Clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(done);
  if (done) {
    std::unique_ptr<TThAction> late = std::make_unique<TProbe>(Counters, nullptr, nullptr);
    EXPECT_TRUE(th->TryExec(late));
    EXPECT_EQ(late, nullptr);
  }
  ASSERT_TRUE(RunUntil([this] { return Ended; }));
  producer.join();
  EXPECT_EQ(Counters.Executed, 0);
  EXPECT_EQ(Counters.Released, done ? 13 : 12);
}

// A stop while another thread waits in Exec for room: the producer returns with its action
// released, nothing queued runs, and the worker still ends and destroys itself.
TEST_F(TProbeTest, StopWhileAProducerWaitsForRoom) {
  Start();  // the worker soon waits for this thread to show the device information
  TTh* th = Th;
  for (int i = 0; i < 10; ++i)
    th->Exec(std::make_unique<TProbe>(Counters, nullptr, nullptr));
  std::thread producer([&] { th->Exec(std::make_unique<TProbe>(Counters, nullptr, nullptr)); });
  std::this_thread::sleep_for(100ms);
  th->Terminate();
  ASSERT_TRUE(RunUntil([this] { return Ended; }, 30s));
  producer.join();
  EXPECT_EQ(Counters.Executed, 0);
  EXPECT_EQ(Counters.Released, 11);
}

// A parameter write that succeeds sets the code size; one that fails leaves it.
TEST_F(TWorkerTest, SuccessfulParameterWriteSetsCodeSize) {
  Start();
  ASSERT_TRUE(RunUntil([this] { return !View.DevInfos.empty(); }));
  EXPECT_EQ(Th->CodeSize(), 5);

  sim::TFaults faults;
  faults.WrongCommand = true;
  faults.OnlyCmd = kCmdSetupPerco;
  faults.Count = 1;
  Firmware.SetFaults(faults);
  TPercoPars pars;
  pars.key = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  pars.blockNo = 4;
  std::vector<int> results;
  for (std::uint8_t size : {9, 7}) {
    pars.size = size;
    Th->Exec(
        std::make_unique<TAcPercoStt>(pars, [&](TThAction& A) { results.push_back(A.ErrCode()); }));
  }
  ASSERT_TRUE(RunUntil([&] { return results.size() == 2; }));
  EXPECT_EQ(results, (std::vector<int>{kResWrongCommand, kResOk}));
  ASSERT_TRUE(WaitCards(1));  // the size is taken right after the callback returned
  EXPECT_EQ(Th->CodeSize(), 7);
}

// An action that raises gets 6 and is still reported; issuing clears the card first.
TEST_F(TWorkerTest, RaisingActionReportsSixAfterTheCardWasCleared) {
  Firmware.PutCard(sim::NewClassic1K());
  Start();
  ASSERT_TRUE(WaitCards(1));
  Firmware.ClearHistory();
  int result = -1;
  Th->Exec(std::make_unique<TAcIssueCard>(1, "100", "7", "FF FF FF FF FF FF", "ZZ",
                                          [&](TThAction& A) { result = A.ErrCode(); }));
  ASSERT_TRUE(RunUntil([&] { return result >= 0; }));
  EXPECT_EQ(result, kResRefused);
  EXPECT_EQ(RequestsOf(Firmware, kCmdClearCard).size(), 1u);
  EXPECT_TRUE(RequestsOf(Firmware, kCmdIssueCard).empty());
  EXPECT_TRUE(WaitCards(1)) << "the worker goes on after the failed action";
}

// A reader that stays silent is polled on quietly; unplugging it ends the run instead of
// polling a dead port for ever.
TEST_F(TWorkerTest, HangUpEndsTheRunButSilenceDoesNot) {
  Firmware.PutCard(sim::NewClassic1K());
  Start();
  ASSERT_TRUE(WaitCards(1));
  sim::TFaults faults;
  faults.NoAnswer = true;
  faults.OnlyCmd = kCmdGetStatus;
  faults.Count = 1;
  Firmware.SetFaults(faults);
  ASSERT_TRUE(RunUntil([this] { return Firmware.Faults().Count == 0; }));
  ASSERT_TRUE(WaitCards(2));
  EXPECT_FALSE(Ended);
  EXPECT_TRUE(View.Cards.back().status.CardPresent());
  Host->Hangup();
  EXPECT_TRUE(RunUntil([this] { return Ended; }, 20s));
  EXPECT_EQ(EndReason, TEndReason::DeviceGone);
}

// Connection failures: a port that does not open ends the run without device information;
// a version whose numbers do not fit 32 bits is reported as a failed version query.
TEST_F(TWorkerTest, ConnectFailuresEndTheRun) {
  Start(false, "pts/999999");
  ASSERT_TRUE(RunUntil([this] { return Ended; }));
  EXPECT_TRUE(View.DevInfos.empty());
  EXPECT_EQ(EndReason, TEndReason::PortNotFound);

  Firmware.SetVersion("Kiren-M1 v99999999999.1");
  Start();
  ASSERT_TRUE(RunUntil([this] { return Ended; }));
  ASSERT_EQ(View.DevInfos.size(), 1u);
  EXPECT_NE(View.DevInfos[0].Error, kResOk);
  EXPECT_TRUE(View.Cards.empty());
  EXPECT_EQ(EndReason, TEndReason::NoVersion);
}

}  // namespace
}  // namespace kiren::test
