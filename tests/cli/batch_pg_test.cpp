// Batch runs of kiren-cli on a shared PostgreSQL register: several stations on one series, and
// the register going away in the middle of a run. Each station is a kiren-cli process with a
// kiren-sim of its own presenting a scripted card feed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../journal/pg_fixture.h"
#include "journal/pg_journal.h"
#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace kiren::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSeries = "shared";

class TBatchPgTest : public ::testing::Test {
 protected:
  std::vector<std::string> Env() const {
    return {"XDG_RUNTIME_DIR=" + FTmp.Path(), "KIREN_LOG_DIR=" + FTmp.Path() + "/logs",
            "LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + FTmp.Path() + "/data"};
  }
  std::unique_ptr<TSimProcess> Sim() {
    return std::make_unique<TSimProcess>(std::vector<std::string>{}, FTmp.Path(), Env());
  }
  // A station's batch: ACount cards of the shared series from code 1000 on the register.
  std::unique_ptr<TProcess> Station(const std::string& APort, const std::string& ARegister,
                                    int ACount, int AIndex) {
    return std::make_unique<TProcess>(
        std::vector<std::string>{KIREN_CLI_PATH, "--json", APort, "write-code", "--block", "4",
                                 "--size", "5", "--code", "1000", "--count", std::to_string(ACount),
                                 "--series", kSeries, "--wait", "20", "--register", ARegister},
        Env(), FTmp.Path() + "/cli" + std::to_string(AIndex) + ".err");
  }
  static std::vector<TJournalRecord> Rows(const std::string& ARegister) {
    auto journal = OpenPgJournal({.Connection = ARegister});
    EXPECT_TRUE(journal.ok()) << journal.error().Message;
    if (!journal.ok())
      return {};
    auto rows = journal.value()->Query({});
    EXPECT_TRUE(rows.ok()) << rows.error().Message;
    return rows.ok() ? rows.value() : std::vector<TJournalRecord>{};
  }
  static std::vector<std::uint64_t> Spoiled(const std::string& ARegister) {
    auto journal = OpenPgJournal({.Connection = ARegister});
    if (!journal.ok())
      return {};
    auto spoiled = journal.value()->SpoiledCodes(kSeries);
    return spoiled.ok() ? spoiled.value() : std::vector<std::uint64_t>{};
  }
  // Every code from 1000 up to the highest is on exactly one card or spoiled.
  static void ExpectNoGapsButSpoiled(const std::vector<TJournalRecord>& ARows,
                                     const std::vector<std::uint64_t>& ASpoiled) {
    std::map<std::uint64_t, int> uses;
    for (const auto& row : ARows)
      if (row.ResultCode == 0)
        ++uses[std::stoull(row.CodeDec)];
    for (const auto& [code, count] : uses)
      EXPECT_EQ(count, 1) << "code " << code << " on " << count << " cards";
    const std::set<std::uint64_t> spoiled(ASpoiled.begin(), ASpoiled.end());
    const std::uint64_t top = uses.empty() ? 999 : uses.rbegin()->first;
    for (std::uint64_t code = 1000; code <= top; ++code)
      EXPECT_TRUE(uses.count(code) != 0 || spoiled.count(code) != 0) << "gap at " << code;
  }

  TTempDir FTmp{"kiren-batch-pg"};
};

// Four stations, 25 cards each, one series: 100 distinct codes, 100 rows, no gaps other than
// spoiled codes.
TEST_F(TBatchPgTest, FourStationsShareOneSeries) {
  KIREN_REQUIRE_PG();
  TPgTestDatabase db;
  const std::string reg = db.Connection();
  constexpr int kStations = 4, kCards = 25;
  std::vector<std::unique_ptr<TSimProcess>> sims;
  std::vector<std::unique_ptr<TProcess>> clis;
  for (int i = 0; i < kStations; ++i) {
    sims.push_back(Sim());
    clis.push_back(Station(sims.back()->PortName(), reg, kCards, i));
  }
  std::this_thread::sleep_for(1500ms);  // the stations connect to their readers
  for (int i = 0; i < kStations; ++i) {
    // Distinct UIDs per station; a few spare cards in case one is taken away too early.
    const std::string uid = std::to_string(i + 2) + "0000001";
    ASSERT_EQ(sims[i]->Command("feed 30 uid " + uid + " dwell 600 gap 80").rfind("ok", 0), 0u);
  }
  for (int i = 0; i < kStations; ++i) {
    const auto status = clis[i]->Wait(90s);
    EXPECT_EQ(status, 0) << clis[i]->Output();
  }
  const auto rows = Rows(reg);
  std::set<std::string> codes, uids;
  for (const auto& row : rows) {
    if (row.Verify != TVerifyOutcome::Verified)
      continue;
    codes.insert(row.CodeDec);
    uids.insert(row.CardUid);
  }
  EXPECT_EQ(codes.size(), 100u);
  EXPECT_EQ(uids.size(), 100u);
  ExpectNoGapsButSpoiled(rows, Spoiled(reg));
}

// The register stops after two cards and returns: no card is written without its row, the run
// reports the register away (status 5) and goes on once it is back.
TEST_F(TBatchPgTest, RegisterAwayMidBatchThenBack) {
  const char* script = std::getenv("KIREN_TEST_PG_CLUSTER");
  if (script == nullptr || *script == '\0')
    GTEST_SKIP() << "KIREN_TEST_PG_CLUSTER is not set: no script to start a PostgreSQL test "
                    "server (run under 'scripts/pg-test-cluster run ...' or scripts/test)";
  // A folder of its own under /tmp: the server's user cannot enter this test's private folder.
  char dirName[] = "/tmp/kiren-pgb.XXXXXX";
  ASSERT_NE(mkdtemp(dirName), nullptr);
  const std::string dir = dirName;
  auto cluster = [&](const std::string& ACommand) {
    return std::system((std::string(script) + " " + ACommand + " " + dir + " >/dev/null").c_str());
  };
  ASSERT_EQ(cluster("start"), 0);
  const std::string reg = "host=" + dir + " port=5432 dbname=kiren_test user=postgres";

  auto sim = Sim();
  auto cli = Station(sim->PortName(), reg, 6, 0);
  std::this_thread::sleep_for(1500ms);
  ASSERT_EQ(sim->Command("feed 16 uid 60000001 dwell 500 gap 100").rfind("ok", 0), 0u);
  ASSERT_TRUE(cli->WaitFor("\"journal_id\":2", 30s)) << cli->Output();
  ASSERT_EQ(cluster("stop"), 0);
  std::this_thread::sleep_for(2500ms);  // cards pass while the register is away
  ASSERT_EQ(cluster("start"), 0);
  const auto status = cli->Wait(60s);
  const auto rows = Rows(reg);
  cluster("remove");
  EXPECT_EQ(status, 5) << cli->Output();
  const std::string& out = cli->Output();
  EXPECT_NE(out.find("\"written\":6"), std::string::npos) << out;
  EXPECT_NE(out.find("недоступен"), std::string::npos) << out;

  // Every card the run wrote (a trailer went to it) has its row.
  std::set<std::string> journaled;
  for (const auto& row : rows)
    journaled.insert(row.CardUid);
  for (auto pos = out.find("\"trailer\":\"FF"); pos != std::string::npos;
       pos = out.find("\"trailer\":\"FF", pos + 1)) {
    const auto uidAt = out.rfind("\"uid\":\"", pos) + 7;
    const std::string uid = out.substr(uidAt, out.find('"', uidAt) - uidAt);
    EXPECT_TRUE(journaled.count(uid) != 0) << uid << " written without its row";
  }
}

}  // namespace
}  // namespace kiren::test
