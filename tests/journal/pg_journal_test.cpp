// The PostgreSQL register against a real server (see pg_fixture.h).
#include "journal/pg_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "journal/journal_settings.h"
#include "journal_rows.h"
#include "pg_fixture.h"
#include "register_audit.h"

namespace kiren {
namespace {

using namespace std::chrono_literals;
using test::TPgTestDatabase;

std::unique_ptr<IJournal> Open(const std::string& AConnection,
                               std::vector<TPgMigration> AMigrations = {}) {
  auto journal = OpenPgJournal({.Connection = AConnection, .Migrations = std::move(AMigrations)});
  EXPECT_TRUE(journal.ok()) << journal.error().Message;
  return journal.ok() ? std::move(journal).value() : nullptr;
}

TJournalRecord CodeWrite(const std::string& AUid, const std::string& ACodeHex,
                         const std::string& AStation = "st1") {
  return test::CodeWriteRow(AUid, ACodeHex,
                            std::chrono::system_clock::time_point(1'765'000'000'123ms), AStation);
}

TJournalFilter Filter(std::string ACode, std::string AUid = {},
                      std::optional<std::chrono::system_clock::time_point> ASince = {},
                      std::optional<std::chrono::system_clock::time_point> AUntil = {},
                      std::size_t ALimit = 0) {
  TJournalFilter f;
  f.CodeHex = std::move(ACode);
  f.CardUid = std::move(AUid);
  f.Since = ASince;
  f.Until = AUntil;
  f.Limit = ALimit;
  return f;
}

std::string Hex(std::uint64_t ACode) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(ACode));
  return text;
}

class PgJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KIREN_REQUIRE_PG();
    fDb = std::make_unique<TPgTestDatabase>();
  }
  std::string Connection() const { return fDb->Connection(); }

  std::unique_ptr<TPgTestDatabase> fDb;
};

TEST_F(PgJournalTest, RowsOfEveryStationAreSeenByEveryStation) {
  auto station1 = Open(Connection());
  auto station2 = Open(Connection());
  ASSERT_TRUE(station1 && station2);

  TJournalRecord written = CodeWrite("04 a1 b2 c3", "0x00012C", "st1");
  written.Layout = "Формат 1";
  written.Emitent = 4000000000u;
  written.Emission = 7;
  const auto id = station1->Append(written);
  ASSERT_TRUE(id.ok()) << id.error().Message;
  TJournalRecord issue;
  issue.Station = "st2";
  issue.CardUid = "0455";
  issue.Operation = TJournalOperation::Issue;
  issue.ResultCode = 3;
  issue.ResultText = "Ошибка";
  issue.Verify = TVerifyOutcome::ReaderCannotRead;
  ASSERT_TRUE(station2->Append(issue).ok());

  const auto rows = station2->Query(Filter(""));
  ASSERT_TRUE(rows.ok()) << rows.error().Message;
  ASSERT_EQ(rows.value().size(), 2u);
  // Newest first: the issue row carries the current time.
  EXPECT_EQ(rows.value()[0].Operation, TJournalOperation::Issue);
  EXPECT_EQ(rows.value()[0].Station, "st2");
  EXPECT_FALSE(rows.value()[0].Block.has_value());
  EXPECT_EQ(rows.value()[0].Verify, TVerifyOutcome::ReaderCannotRead);

  TJournalRecord expected = written;
  expected.Id = id.value();
  expected.TimeUtc = IsoUtc(written.Time);
  expected.TimeLocal = IsoLocal(written.Time);
  expected.CardUid = "04A1B2C3";
  expected.CodeHex = "12C";
  expected.CodeDec = "300";
  EXPECT_EQ(rows.value()[1], expected);

  // The duplicate guard looks at every station's rows; the same card again is a repair.
  const auto other = station2->FindCodeOnOtherCard("12c", "04FFFFFF");
  ASSERT_TRUE(other.ok()) << other.error().Message;
  ASSERT_TRUE(other.value().has_value());
  EXPECT_EQ(other.value()->CardUid, "04A1B2C3");
  EXPECT_EQ(other.value()->Id, id.value());
  EXPECT_EQ(other.value()->TimeUtc, expected.TimeUtc);
  const auto repair = station2->FindCodeOnOtherCard("12C", "04a1b2c3");
  ASSERT_TRUE(repair.ok());
  EXPECT_FALSE(repair.value().has_value());
}

TEST_F(PgJournalTest, QueryFilters) {
  auto journal = Open(Connection());
  ASSERT_TRUE(journal);
  const auto t0 = std::chrono::system_clock::time_point(1'765'000'000'000ms);
  for (int i = 0; i < 6; ++i) {
    TJournalRecord r = CodeWrite(i % 2 ? "04AA" : "04BB", Hex(100 + i % 3));
    r.Time = t0 + std::chrono::hours(i);
    ASSERT_TRUE(journal->Append(r).ok());
  }
  struct TCase {
    const char* Name;
    TJournalFilter Filter;
    std::vector<int> Hours;  // of the rows expected, newest first
  };
  const TCase cases[] = {
      {"all", Filter(""), {5, 4, 3, 2, 1, 0}},
      {"code", Filter("0x0065"), {4, 1}},
      {"uid in any spelling", Filter("", "04 aa"), {5, 3, 1}},
      {"code and uid", Filter("64", "04BB"), {0}},
      {"since inclusive, until exclusive", Filter("", "", t0 + 2h, t0 + 4h), {3, 2}},
      {"limit", Filter("", "", {}, {}, 2), {5, 4}},
      {"nothing", Filter("FFFF"), {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto rows = journal->Query(c.Filter);
    ASSERT_TRUE(rows.ok()) << rows.error().Message;
    std::vector<int> hours;
    for (const TJournalRecord& r : rows.value())
      hours.push_back(static_cast<int>((r.Time - t0) / 1h));
    EXPECT_EQ(hours, c.Hours);
  }
  const auto bad = journal->Query(Filter("12G"));
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().Kind, TJournalErrorKind::BadInput);
}

// Four stations, each with its own connection from its own settings.ini, take 25 codes each
// from one series at once; some cards fail and their codes are marked spoiled, the others get
// a journal row.
TEST_F(PgJournalTest, ConcurrentAllocationHandsOutEveryCodeOnce) {
  constexpr int kStations = 4, kCards = 25;
  constexpr std::uint64_t kFirst = 300;
  const auto settings =
      ParseJournalSettings(IniSection(test::StationSettingsIni(Connection()), "Journal"));
  ASSERT_TRUE(settings.ok()) << settings.error().Message;
  ASSERT_EQ(settings.value().Backend, TJournalBackend::PostgreSql);
  const std::string connection = settings.value().Connection;
  {
    auto setup = Open(connection);
    ASSERT_TRUE(setup);
    ASSERT_TRUE(setup->OpenSeries("site-A", kFirst).ok());
  }
  std::vector<std::vector<std::uint64_t>> codes(kStations), spoiled(kStations);
  std::vector<std::string> errors(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      auto opened = OpenPgJournal({.Connection = connection});
      if (!opened.ok()) {
        errors[s] = opened.error().Message;
        return;
      }
      IJournal& journal = *opened.value();
      // Another station opening the series meanwhile leaves it as it is.
      if (auto series = journal.OpenSeries("site-A", 0); !series.ok())
        errors[s] = series.error().Message;
      for (int i = 0; i < kCards && errors[s].empty(); ++i) {
        const auto code = journal.AllocateCode("site-A");
        if (!code.ok()) {
          errors[s] = code.error().Message;
          break;
        }
        codes[s].push_back(code.value());
        if ((i + s) % 7 == 3) {
          spoiled[s].push_back(code.value());
          if (auto st = journal.MarkSpoiled("site-A", code.value(), "карта снята"); !st.ok())
            errors[s] = st.error().Message;
        } else {
          const std::string uid = "04" + std::to_string(s) + "0" + std::to_string(100 + i);
          if (auto row = journal.Append(CodeWrite(uid, Hex(code.value()))); !row.ok())
            errors[s] = row.error().Message;
        }
      }
    });
  for (auto& t : stations)
    t.join();
  for (int s = 0; s < kStations; ++s)
    ASSERT_EQ(errors[s], "") << "station " << s;

  std::set<std::uint64_t> all, allSpoiled;
  for (int s = 0; s < kStations; ++s) {
    EXPECT_TRUE(std::is_sorted(codes[s].begin(), codes[s].end()));
    all.insert(codes[s].begin(), codes[s].end());
    allSpoiled.insert(spoiled[s].begin(), spoiled[s].end());
  }
  ASSERT_EQ(all.size(), std::size_t{kStations * kCards});  // no code handed out twice
  EXPECT_EQ(*all.begin(), kFirst);
  EXPECT_EQ(*all.rbegin(), kFirst + kStations * kCards - 1);  // and no gap

  auto reader = Open(connection);
  ASSERT_TRUE(reader);
  const auto audit = test::AuditSeries(*reader, "site-A", kFirst);
  ASSERT_TRUE(audit.ok()) << audit.error().Message;
  EXPECT_TRUE(audit.value().Clean());
  EXPECT_EQ(audit.value().HandedOut(), std::size_t{kStations * kCards});
  EXPECT_EQ(audit.value().Rows + allSpoiled.size(), all.size());
  EXPECT_EQ(std::set<std::uint64_t>(audit.value().Spoiled.begin(), audit.value().Spoiled.end()),
            allSpoiled);
}

// The same with stations as processes of their own, as kiren-cli runs them.
TEST_F(PgJournalTest, StationProcessesShareOneSeries) {
  constexpr int kStations = 4, kCards = 25;
  {
    auto setup = Open(Connection());
    ASSERT_TRUE(setup);
    ASSERT_TRUE(setup->OpenSeries("site-B", 1).ok());
  }
  std::vector<pid_t> children;
  for (int s = 0; s < kStations; ++s) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The child's exit status says how far it got: 0 is all cards done.
      auto opened = OpenPgJournal({.Connection = Connection()});
      if (!opened.ok())
        _exit(100);
      for (int i = 0; i < kCards; ++i) {
        const auto code = opened.value()->AllocateCode("site-B");
        if (!code.ok())
          _exit(101);
        const bool done =
            i % 10 == 9
                ? opened.value()->MarkSpoiled("site-B", code.value(), "карта снята").ok()
                : opened.value()
                      ->Append(CodeWrite("05" + std::to_string(s * 100 + i), Hex(code.value())))
                      .ok();
        if (!done)
          _exit(102);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  auto reader = Open(Connection());
  ASSERT_TRUE(reader);
  const auto audit = test::AuditSeries(*reader, "site-B", 1);
  ASSERT_TRUE(audit.ok()) << audit.error().Message;
  EXPECT_TRUE(audit.value().Clean());
  EXPECT_EQ(audit.value().HandedOut(), std::size_t{kStations * kCards});
  EXPECT_EQ(audit.value().Spoiled.size(), std::size_t{kStations * 2});
  EXPECT_EQ(audit.value().Rows, std::size_t{kStations * (kCards - 2)});
}

// The audit the station tests rely on sees each kind of fault.
TEST_F(PgJournalTest, SeriesAuditFindsEachFault) {
  auto journal = Open(Connection());
  ASSERT_TRUE(journal);
  ASSERT_TRUE(journal->OpenSeries("a", 10).ok());
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(journal->AllocateCode("a").ok());
  // 10: fine, 11: on two cards, 12: spoiled and written (twice to one card: a repair),
  // 13: nowhere, 14: spoiled.
  for (const auto& [uid, code] : std::vector<std::pair<std::string, std::string>>{
           {"01", "A"}, {"02", "B"}, {"03", "B"}, {"04", "C"}, {"04", "C"}})
    ASSERT_TRUE(journal->Append(CodeWrite(uid, code)).ok());
  ASSERT_TRUE(journal->MarkSpoiled("a", 12, "x").ok());
  ASSERT_TRUE(journal->MarkSpoiled("a", 14, "x").ok());
  const auto audit = test::AuditSeries(*journal, "a", 10);
  ASSERT_TRUE(audit.ok());
  EXPECT_FALSE(audit.value().Clean());
  EXPECT_EQ(audit.value().OnTwoCards, std::vector<std::uint64_t>{11});
  EXPECT_EQ(audit.value().WrittenSpoiled, std::vector<std::uint64_t>{12});
  EXPECT_EQ(audit.value().Missing, std::vector<std::uint64_t>{13});
  EXPECT_EQ(audit.value().Rows, 5u);
}

TEST_F(PgJournalTest, SeriesErrors) {
  auto journal = Open(Connection());
  ASSERT_TRUE(journal);
  const auto missing = journal->AllocateCode("no-such-series");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().Kind, TJournalErrorKind::NotFound);
  EXPECT_NE(missing.error().Message.find("no-such-series"), std::string::npos);

  EXPECT_EQ(journal->MarkSpoiled("no-such-series", 1, "x").error().Kind,
            TJournalErrorKind::NotFound);
  ASSERT_TRUE(journal->OpenSeries("s", 10).ok());
  const auto notYet = journal->MarkSpoiled("s", 10, "x");
  ASSERT_FALSE(notYet.ok());
  EXPECT_EQ(notYet.error().Kind, TJournalErrorKind::BadInput);

  // A series at the top of the range is used up, not wrapped round.
  ASSERT_TRUE(journal->OpenSeries("top", 9223372036854775806u).ok());
  ASSERT_TRUE(journal->AllocateCode("top").ok());
  const auto spent = journal->AllocateCode("top");
  ASSERT_FALSE(spent.ok());
  EXPECT_NE(spent.error().Message.find("исчерпаны"), std::string::npos);
  EXPECT_EQ(journal->OpenSeries("big", 9223372036854775808u).error().Kind,
            TJournalErrorKind::BadInput);

  // Marking twice keeps the first reason and time.
  const auto code = journal->AllocateCode("s");
  ASSERT_TRUE(code.ok());
  EXPECT_TRUE(journal->MarkSpoiled("s", code.value(), "снята").ok());
  EXPECT_TRUE(journal->MarkSpoiled("s", code.value(), "снова").ok());
  // A code below the series' start may be on a card made before: it is recorded too.
  EXPECT_TRUE(journal->MarkSpoiled("s", 3, "старая карта").ok());
  EXPECT_EQ(journal->SpoiledCodes("s").value(), (std::vector<std::uint64_t>{3, 10}));
  EXPECT_EQ(journal->AllocateCode("s").value(), 11u);
}

// ---- Schema versions -------------------------------------------------------------------------

std::vector<TPgMigration> With(std::vector<TPgMigration> AExtra) {
  std::vector<TPgMigration> out = PgJournalMigrations();
  out.insert(out.end(), AExtra.begin(), AExtra.end());
  return out;
}

TPgSchemaVersion Current() {
  return PgJournalMigrations().back().To;
}

TEST_F(PgJournalTest, NewerToolMigratesAnOlderSchemaAndKeepsItsRows) {
  auto older = Open(Connection());
  ASSERT_TRUE(older);
  ASSERT_TRUE(older->Append(CodeWrite("04AA", "2A")).ok());
  EXPECT_EQ(PgStoredSchemaVersion(Connection()).value(), Current());
  older.reset();

  const TPgSchemaVersion next{Current().Major + 1, 0};
  auto newer =
      Open(Connection(), With({{next, {"ALTER TABLE kiren_journal ADD COLUMN batch text"}}}));
  ASSERT_TRUE(newer);
  EXPECT_EQ(PgStoredSchemaVersion(Connection()).value(), next);
  const auto rows = newer->Query(Filter(""));
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows.value().size(), 1u);
  EXPECT_EQ(rows.value()[0].CodeHex, "2A");
  EXPECT_EQ(test::AdminExec("SELECT batch FROM kiren_journal", fDb->Name()), "");
}

TEST_F(PgJournalTest, OlderToolRefusesANewerMajorAndLeavesItAlone) {
  const TPgSchemaVersion next{Current().Major + 1, 0};
  ASSERT_TRUE(Open(Connection(), With({{next, {"CREATE TABLE kiren_future (x int)"}}})));

  const auto older = OpenPgJournal({.Connection = Connection()});
  ASSERT_FALSE(older.ok());
  EXPECT_EQ(older.error().Kind, TJournalErrorKind::NewerSchema);
  EXPECT_NE(older.error().Message.find(VersionText(next)), std::string::npos)
      << older.error().Message;
  EXPECT_NE(older.error().Message.find("обновите программу"), std::string::npos);
  EXPECT_EQ(PgStoredSchemaVersion(Connection()).value(), next);
}

TEST_F(PgJournalTest, SameMajorWithANewerMinorIsReadByTheOlderTool) {
  const TPgSchemaVersion minor{Current().Major, Current().Minor + 1};
  ASSERT_TRUE(
      Open(Connection(),
           With({{minor, {"CREATE INDEX kiren_journal_station ON kiren_journal (station)"}}})));
  auto older = Open(Connection());
  ASSERT_TRUE(older);
  EXPECT_TRUE(older->Append(CodeWrite("04AA", "1")).ok());
  EXPECT_EQ(PgStoredSchemaVersion(Connection()).value(), minor);  // not taken back
}

TEST_F(PgJournalTest, StationsStartingTogetherCreateTheSchemaOnce) {
  constexpr int kStations = 4;
  std::vector<std::string> errors(kStations);
  std::vector<std::thread> threads;
  for (int s = 0; s < kStations; ++s)
    threads.emplace_back([&, s] {
      auto journal = OpenPgJournal({.Connection = Connection()});
      if (!journal.ok())
        errors[s] = journal.error().Message;
    });
  for (auto& t : threads)
    t.join();
  for (const std::string& e : errors)
    EXPECT_EQ(e, "");
  EXPECT_EQ(PgStoredSchemaVersion(Connection()).value(), Current());
}

// ---- Roles and passwords ----------------------------------------------------------------------

TEST(PgJournalSecretsTest, PasswordInTheConnectionStringIsRefusedBeforeConnecting) {
  // No server is needed: the string is refused as it is read.
  const auto journal = OpenPgJournal({.Connection = "host=/nonexistent user=x password=hunter2"});
  ASSERT_FALSE(journal.ok());
  EXPECT_EQ(journal.error().Kind, TJournalErrorKind::BadInput);
  EXPECT_NE(journal.error().Message.find("PGPASSFILE"), std::string::npos);
  EXPECT_EQ(journal.error().Message.find("hunter2"), std::string::npos);
}

// The throwaway cluster asks role kiren_pwtest for its password (scripts/pg-test-cluster).
TEST(PgJournalSecretsTest, PasswordComesFromThePasswordFile) {
  KIREN_REQUIRE_PG();
  const std::string password = "pw-" + test::UniqueName("x");
  ASSERT_EQ(test::AdminExec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname ="
                            " 'kiren_pwtest') THEN CREATE ROLE kiren_pwtest LOGIN; END IF; END $$"),
            "");
  ASSERT_EQ(test::AdminExec("ALTER ROLE kiren_pwtest PASSWORD '" + password + "'"), "");
  TPgTestDatabase db("kiren_pwtest");

  const std::string dir = testing::TempDir() + test::UniqueName("pgpass");
  std::filesystem::create_directories(dir);
  const std::string passfile = dir + "/pgpass";
  std::ofstream(passfile) << "*:*:" << db.Name() << ":kiren_pwtest:" << password << "\n";
  ::chmod(passfile.c_str(), 0600);

  const std::string withFile = db.Connection("kiren_pwtest") + " passfile=" + passfile;
  auto journal = OpenPgJournal({.Connection = withFile});
  ASSERT_TRUE(journal.ok()) << journal.error().Message;
  EXPECT_TRUE(journal.value()->Append(CodeWrite("04AA", "1")).ok());
  EXPECT_EQ(journal.value()->Location().find(password), std::string::npos);

  const auto without =
      OpenPgJournal({.Connection = db.Connection("kiren_pwtest") + " passfile=" + dir + "/none"});
  ASSERT_FALSE(without.ok());
  EXPECT_EQ(without.error().Kind, TJournalErrorKind::Unavailable);
  std::filesystem::remove_all(dir);
}

// Stations log in as roles of their own that are members of the role owning the database: the
// tables then belong to that role, and every station may use them.
TEST(PgJournalSecretsTest, StationRolesShareTheOwnersTables) {
  KIREN_REQUIRE_PG();
  const std::string owner = test::UniqueName("kiren_owner");
  const std::string st1 = test::UniqueName("kiren_st"), st2 = test::UniqueName("kiren_st");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + owner + " NOLOGIN"), "");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + st1 + " LOGIN IN ROLE " + owner), "");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + st2 + " LOGIN IN ROLE " + owner), "");
  {
    TPgTestDatabase db(owner);
    auto first = Open(db.Connection(st1));
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->OpenSeries("s", 1).ok());
    auto second = Open(db.Connection(st2));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->AllocateCode("s").value(), 1u);
    EXPECT_EQ(first->AllocateCode("s").value(), 2u);
    EXPECT_EQ(db.Exec("DO $$ BEGIN IF (SELECT tableowner FROM pg_tables WHERE tablename ="
                      " 'kiren_series') <> '" +
                      owner + "' THEN RAISE 'owner'; END IF; END $$"),
              "");
  }
  for (const std::string& role : {st1, st2, owner})
    test::AdminExec("DROP ROLE " + role);
}

// The stricter setup: the tables made by an administrator, stations with row rights only.
TEST(PgJournalSecretsTest, StationWithRowRightsOnlyTakesCodesAndAddsRows) {
  KIREN_REQUIRE_PG();
  const std::string owner = test::UniqueName("kiren_owner");
  const std::string admin = test::UniqueName("kiren_admin");
  const std::string group = test::UniqueName("kiren_station");
  const std::string station = test::UniqueName("kiren_st");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + owner + " NOLOGIN"), "");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + admin + " LOGIN IN ROLE " + owner), "");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + group + " NOLOGIN"), "");
  ASSERT_EQ(test::AdminExec("CREATE ROLE " + station + " LOGIN IN ROLE " + group), "");
  {
    TPgTestDatabase db(owner);
    ASSERT_EQ(db.Exec("REVOKE CREATE ON SCHEMA public FROM PUBLIC"), "");
    // A station cannot make the tables.
    const auto early = OpenPgJournal({.Connection = db.Connection(station)});
    ASSERT_FALSE(early.ok());
    EXPECT_NE(early.error().Message.find("схема не создана"), std::string::npos)
        << early.error().Message;

    auto administrator = Open(db.Connection(admin));
    ASSERT_TRUE(administrator);
    ASSERT_TRUE(administrator->OpenSeries("s", 1).ok());
    // The grants of the README.
    for (const std::string& sql : {
             "GRANT SELECT ON kiren_schema_version TO " + group,
             "GRANT SELECT, INSERT, UPDATE (request) ON kiren_journal TO " + group,
             "GRANT USAGE ON SEQUENCE kiren_journal_id_seq TO " + group,
             "GRANT SELECT, INSERT, UPDATE (next_code) ON kiren_series TO " + group,
             "GRANT SELECT, INSERT, UPDATE (spoiled_at, spoiled_reason) ON"
             " kiren_code_allocation TO " +
                 group,
         })
      ASSERT_EQ(db.Exec(sql), "") << sql;

    auto st = Open(db.Connection(station));
    ASSERT_TRUE(st);
    EXPECT_TRUE(st->OpenSeries("t", 100).ok());
    const auto code = st->AllocateCode("s");
    ASSERT_TRUE(code.ok()) << code.error().Message;
    EXPECT_TRUE(st->Append(CodeWrite("04AA", Hex(code.value()))).ok());
    EXPECT_TRUE(st->MarkSpoiled("t", 100, "x").error().Kind == TJournalErrorKind::BadInput);
    const auto second = st->AllocateCode("t");
    ASSERT_TRUE(second.ok()) << second.error().Message;
    const auto spoiled = st->MarkSpoiled("t", second.value(), "снята");
    EXPECT_TRUE(spoiled.ok()) << spoiled.error().Message;
    EXPECT_EQ(administrator->Query(Filter("")).value().size(), 1u);

    // Nor can it change or remove a row.
    const std::string asStation = "SET ROLE " + station + "; ";
    EXPECT_NE(db.Exec(asStation + "UPDATE kiren_journal SET card_uid = 'FF'"), "");
    EXPECT_NE(db.Exec(asStation + "DELETE FROM kiren_journal"), "");
  }
  for (const std::string& role : {station, group, admin, owner})
    test::AdminExec("DROP ROLE " + role);
}

}  // namespace
}  // namespace kiren
