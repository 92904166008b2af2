// The register going away in the middle of a run: each test starts a cluster of its own through
// the script named in KIREN_TEST_PG_CLUSTER, so stopping it disturbs no other test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "journal/journal_open.h"
#include "journal/pg_journal.h"

namespace kiren {
namespace {

class PgOutageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* script = std::getenv("KIREN_TEST_PG_CLUSTER");
    if (!script || !*script)
      GTEST_SKIP() << "KIREN_TEST_PG_CLUSTER is not set: no script to start a PostgreSQL test "
                      "server (run under 'scripts/pg-test-cluster run ...' or scripts/test)";
    fScript = script;
    char dir[] = "/tmp/kiren-pgo.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    fDir = dir;
    ASSERT_TRUE(Cluster("start"));
  }
  void TearDown() override {
    if (!fDir.empty())
      Cluster("remove");
  }

  bool Cluster(const std::string& ACommand) const {
    const std::string line = fScript + " " + ACommand + " " + fDir + " >/dev/null";
    return std::system(line.c_str()) == 0;
  }
  std::string Connection() const {
    return "host=" + fDir + " port=5432 dbname=kiren_test user=postgres";
  }

  std::string fScript, fDir;
};

TJournalRecord Row(std::uint64_t ACode) {
  TJournalRecord r;
  r.Station = "st1";
  r.CardUid = "04" + std::to_string(1000 + ACode);
  r.CodeHex = CodeDecimalToHex(std::to_string(ACode)).value_or("");
  r.Verify = TVerifyOutcome::Verified;
  return r;
}

void ExpectUnavailable(const TJournalError& AError, const char* AMessagePart) {
  EXPECT_EQ(AError.Kind, TJournalErrorKind::Unavailable) << AError.Message;
  EXPECT_NE(AError.Message.find(AMessagePart), std::string::npos) << AError.Message;
}

// A batch: allocate, write, journal. The server stops after three cards and returns later.
TEST_F(PgOutageTest, AllocationFailsWhileTheServerIsAwayAndTheBatchResumesAfter) {
  auto opened = OpenPgJournal({.Connection = Connection()});
  ASSERT_TRUE(opened.ok()) << opened.error().Message;
  IJournal& journal = *opened.value();
  ASSERT_TRUE(journal.OpenSeries("batch", 500).ok());
  const auto card = [&](std::uint64_t AExpected) {
    const auto code = journal.AllocateCode("batch");
    ASSERT_TRUE(code.ok()) << code.error().Message;
    EXPECT_EQ(code.value(), AExpected);
    const auto row = journal.Append(Row(code.value()));
    ASSERT_TRUE(row.ok()) << row.error().Message;
  };
  for (std::uint64_t c = 500; c < 503; ++c)
    card(c);

  ASSERT_TRUE(Cluster("stop"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    const auto code = journal.AllocateCode("batch");
    ASSERT_FALSE(code.ok());
    ExpectUnavailable(code.error(), "Код карты не выделен, карта не записана");
    ASSERT_FALSE(journal.Append(Row(999)).ok());
    ASSERT_FALSE(journal.Query({}).ok());
  }

  ASSERT_TRUE(Cluster("start"));
  card(503);
  // Restarted between two calls: the first call after it finds the connection broken and
  // carries on over a new one, without skipping a code.
  ASSERT_TRUE(Cluster("stop"));
  ASSERT_TRUE(Cluster("start"));
  card(504);

  const auto rows = journal.Query({});
  ASSERT_TRUE(rows.ok()) << rows.error().Message;
  std::vector<std::string> codes;
  for (const TJournalRecord& r : rows.value())
    codes.push_back(r.CodeDec);
  EXPECT_EQ(codes, (std::vector<std::string>{"504", "503", "502", "501", "500"}));
}

TEST_F(PgOutageTest, JournalOpenedWhileTheServerIsAwayConnectsWhenItReturns) {
  ASSERT_TRUE(Cluster("stop"));
  const auto strict = OpenPgJournal({.Connection = Connection()});
  ASSERT_FALSE(strict.ok());
  ExpectUnavailable(strict.error(), "Нет связи с журналом");

  auto opened = OpenPgJournal({.Connection = Connection(), .AllowServerAway = true});
  ASSERT_TRUE(opened.ok()) << opened.error().Message;
  IJournal& journal = *opened.value();
  ASSERT_FALSE(journal.OpenSeries("s", 1).ok());

  ASSERT_TRUE(Cluster("start"));
  ASSERT_TRUE(journal.OpenSeries("s", 1).ok());
  EXPECT_EQ(journal.AllocateCode("s").value(), 1u);
}

// The settings' choice: a station whose register is away still gets its journal object, and
// the object connects once the server answers.
TEST_F(PgOutageTest, ConfiguredRegisterOpensWhileAwayAndConnectsLater) {
  ASSERT_TRUE(Cluster("stop"));
  auto opened = OpenConfiguredJournal({TJournalBackend::PostgreSql, Connection()}, "");
  ASSERT_TRUE(opened.ok()) << opened.error().Message;
  const auto away = opened.value()->Query({});
  ASSERT_FALSE(away.ok());
  ExpectUnavailable(away.error(), "Нет связи с журналом");
  ASSERT_TRUE(Cluster("start"));
  EXPECT_TRUE(opened.value()->Query({}).ok());

  const auto refused =
      OpenConfiguredJournal({TJournalBackend::PostgreSql, Connection() + " password=x"}, "");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().Kind, TJournalErrorKind::BadInput);
}

}  // namespace
}  // namespace kiren
