#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>

#include "journal_fixture.h"

namespace kiren::test {
namespace {

using SqliteJournal = JournalFixture;

TEST_F(SqliteJournal, AppendedRowReadsBackWithEveryField) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  TJournalRecord issued = CodeWrite("04 11 22 33 44 55 66", "", 5);
  issued.Operation = TJournalOperation::Issue;
  issued.Block = issued.Offset = issued.Size = std::nullopt;
  issued.Layout = "Sorvel";
  issued.Emitent = 0x01020304;
  issued.Emission = 0xFFFF;
  issued.ResultCode = 3;
  issued.ResultText = "Ошибка; \"карта\"\r\nубрана";
  issued.Verify = TVerifyOutcome::ReaderCannotRead;

  const auto id = journal->Append(issued);
  ASSERT_TRUE(id) << id.error().Message;
  const auto rows = journal->Query({});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows.value().size(), 1u);

  TJournalRecord expected = issued;
  expected.Id = id.value();
  expected.TimeUtc = "2026-12-11T10:05:00.000Z";
  expected.TimeLocal = IsoLocal(At(5));
  expected.CardUid = "04112233445566";
  EXPECT_EQ(rows.value()[0], expected);

  // The code is kept in one normal form, with its decimal value.
  ASSERT_TRUE(journal->Append(CodeWrite("A1", "0x00012c", 6)));
  const auto written = journal->Query({.CodeHex = "12C"});
  ASSERT_TRUE(written);
  ASSERT_EQ(written.value().size(), 1u);
  EXPECT_EQ(written.value()[0].CodeHex, "12C");
  EXPECT_EQ(written.value()[0].CodeDec, "300");
  EXPECT_EQ(written.value()[0].Block, 4);
}

TEST_F(SqliteJournal, RowWithoutTimeGetsTheCurrentOne) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  TJournalRecord r = CodeWrite("A1", "1", 0);
  r.Time = {};
  const auto before = std::chrono::system_clock::now();
  ASSERT_TRUE(journal->Append(r));
  const auto rows = journal->Query({});
  ASSERT_TRUE(rows);
  EXPECT_GE(rows.value()[0].Time, before - 1s);
  EXPECT_LE(rows.value()[0].Time, std::chrono::system_clock::now() + 1s);
}

TEST_F(SqliteJournal, QueryIsNewestFirstAndFilters) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  // Appended out of time order: the query orders by time, then by row.
  const TJournalRecord rows[] = {
      CodeWrite("AA01", "10", 30), CodeWrite("AA02", "11", 10), CodeWrite("AA01", "12", 20),
      CodeWrite("AA03", "10", 40), CodeWrite("AA02", "13", 20),
  };
  std::vector<std::int64_t> ids;
  for (const auto& r : rows)
    ids.push_back(journal->Append(r).value());

  const struct {
    const char* name;
    TJournalFilter filter;
    std::vector<int> expected;  // indexes into rows, in result order
  } cases[] = {
      {"all", {}, {3, 0, 4, 2, 1}},
      {"code", {.CodeHex = "0x0010"}, {3, 0}},
      {"uid", {.CardUid = "aa 02"}, {4, 1}},
      {"code and uid", {.CodeHex = "10", .CardUid = "AA01"}, {0}},
      {"since inclusive", {.Since = At(20)}, {3, 0, 4, 2}},
      {"until exclusive", {.Until = At(20)}, {1}},
      {"range", {.Since = At(20), .Until = At(31)}, {0, 4, 2}},
      {"limit", {.Limit = 2}, {3, 0}},
      {"no match", {.CodeHex = "FF"}, {}},
  };
  for (const auto& c : cases) {
    const auto found = journal->Query(c.filter);
    ASSERT_TRUE(found) << c.name;
    std::vector<std::int64_t> got, want;
    for (const auto& r : found.value())
      got.push_back(r.Id);
    for (const int i : c.expected)
      want.push_back(ids[i]);
    EXPECT_EQ(got, want) << c.name;
  }
  const auto bad = journal->Query({.CodeHex = "xyz"});
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().Kind, TJournalErrorKind::BadInput);
}

TEST_F(SqliteJournal, DuplicateGuardFindsTheNewestOtherCard) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  ASSERT_TRUE(journal->Append(CodeWrite("AA01", "12C", 10)));
  const auto newest = journal->Append(CodeWrite("AA02", "12C", 20));
  ASSERT_TRUE(newest);
  TJournalRecord failed = CodeWrite("AA03", "500", 30);
  failed.ResultCode = 4;  // a failed write may still have reached the card
  ASSERT_TRUE(journal->Append(failed));

  const struct {
    const char* name;
    const char* code;
    const char* uid;
    std::optional<std::string> otherUid;
  } cases[] = {
      {"on two other cards: the newest", "12C", "BB01", "AA02"},
      {"written form does not matter", "0x00012c", "bb01", "AA02"},
      {"the same card again is a repair, but another card has it too", "12C", "AA02", "AA01"},
      {"only on this card", "500", "aa03", std::nullopt},
      {"failed attempt counts", "500", "BB01", "AA03"},
      {"unknown code", "12D", "BB01", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto found = journal->FindCodeOnOtherCard(c.code, c.uid);
    ASSERT_TRUE(found) << c.name << ": " << found.error().Message;
    ASSERT_EQ(found.value().has_value(), c.otherUid.has_value()) << c.name;
    if (c.otherUid) {
      EXPECT_EQ(found.value()->CardUid, *c.otherUid) << c.name;
    }
  }
  const auto hit = journal->FindCodeOnOtherCard("12C", "BB01").value();
  EXPECT_EQ(hit->Id, newest.value());
  EXPECT_EQ(hit->TimeUtc, "2026-12-11T10:20:00.000Z");
  EXPECT_EQ(hit->TimeLocal, IsoLocal(At(20)));

  const auto bad = journal->FindCodeOnOtherCard("12 C?", "BB01");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().Kind, TJournalErrorKind::BadInput);
}

TEST_F(SqliteJournal, BadCodeIsRefusedAndNothingStored) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  const auto id = journal->Append(CodeWrite("AA01", "12Z", 0));
  ASSERT_FALSE(id);
  EXPECT_EQ(id.error().Kind, TJournalErrorKind::BadInput);
  EXPECT_NE(id.error().Message.find("12Z"), std::string::npos);
  EXPECT_TRUE(journal->Query({}).value().empty());
}

TEST_F(SqliteJournal, SeriesHandOutEachCodeOnce) {
  auto first = Open();
  auto second = Open();
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->OpenSeries("site", 1000).value().NextCode, 1000u);
  // An existing series stays as it is.
  ASSERT_EQ(second->OpenSeries("site", 5).value().NextCode, 1000u);

  // Two connections allocating at once never get the same code.
  std::vector<std::uint64_t> a, b;
  auto run = [](IJournal* AJournal, std::vector<std::uint64_t>* ACodes) {
    for (int i = 0; i < 40; ++i) {
      const auto code = AJournal->AllocateCode("site");
      ASSERT_TRUE(code) << code.error().Message;
      ACodes->push_back(code.value());
    }
  };
  std::thread ta(run, first.get(), &a), tb(run, second.get(), &b);
  ta.join();
  tb.join();
  std::set<std::uint64_t> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  ASSERT_EQ(all.size(), 80u);
  EXPECT_EQ(*all.begin(), 1000u);
  EXPECT_EQ(*all.rbegin(), 1079u);

  ASSERT_TRUE(first->MarkSpoiled("site", 1005, "карта убрана во время записи"));
  ASSERT_TRUE(second->MarkSpoiled("site", 1005, "again"));  // once is enough
  EXPECT_EQ(first->SpoiledCodes("site").value(), (std::vector<std::uint64_t>{1005}));
  EXPECT_EQ(first->MarkSpoiled("site", 1080, "").error().Kind, TJournalErrorKind::BadInput);
  EXPECT_EQ(first->AllocateCode("other").error().Kind, TJournalErrorKind::NotFound);
  EXPECT_EQ(first->MarkSpoiled("other", 1, "").error().Kind, TJournalErrorKind::NotFound);
  EXPECT_EQ(first->OpenSeries("", 1).error().Kind, TJournalErrorKind::BadInput);
  EXPECT_EQ(first->AllocateCode("site").value(), 1080u);
}

// What a journal file of schema version 1 looks like (frozen: never edit).
constexpr const char* kVersion1 =
    "CREATE TABLE journal (id INTEGER PRIMARY KEY AUTOINCREMENT, time_ms INTEGER NOT NULL,"
    " time_utc TEXT NOT NULL, time_local TEXT NOT NULL, station TEXT NOT NULL, login TEXT NOT NULL,"
    " reader_port TEXT NOT NULL, firmware TEXT NOT NULL, card_uid TEXT NOT NULL,"
    " card_type TEXT NOT NULL, operation TEXT NOT NULL, block_no INTEGER, code_offset INTEGER,"
    " code_size INTEGER, code_hex TEXT NOT NULL, code_dec TEXT NOT NULL, layout TEXT NOT NULL,"
    " emitent INTEGER, emission INTEGER, result_code INTEGER NOT NULL, result_text TEXT NOT NULL,"
    " verify TEXT NOT NULL);"
    "CREATE INDEX journal_code ON journal(code_hex);"
    "CREATE INDEX journal_uid ON journal(card_uid);"
    "CREATE INDEX journal_time ON journal(time_ms);"
    "INSERT INTO journal VALUES (7, 1796983200000, '2026-12-11T10:00:00.000Z',"
    " '2026-12-11T13:00:00.000+03:00', 'desk-1', 'operator', '/dev/ttyACM0', '4.2', 'AA01',"
    " 'Mifare 1K', 'card_code_write', 4, 0, 5, '12C', '300', '', NULL, NULL, 0, 'ok',"
    " 'verified');"
    "PRAGMA user_version = 1;";

TEST_F(SqliteJournal, VersionOneFileIsMigratedWithItsRows) {
  RawSql(fPath, kVersion1);
  ::chmod(fPath.c_str(), 0600);
  auto journal = Open();
  ASSERT_TRUE(journal);
  const auto rows = journal->Query({});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows.value().size(), 1u);
  EXPECT_EQ(rows.value()[0].Id, 7);
  EXPECT_EQ(rows.value()[0].CodeDec, "300");
  EXPECT_EQ(rows.value()[0].Verify, TVerifyOutcome::Verified);
  EXPECT_TRUE(journal->OpenSeries("site", 1));  // added by the migration
  EXPECT_EQ(journal->Append(CodeWrite("AA02", "12D", 1)).value(), 8);
  journal.reset();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(fPath.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), SqliteJournalSchemaVersion());
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(SqliteJournal, NewerOrForeignFileIsRefusedUntouched) {
  const struct {
    const char* name;
    std::string sql;
    TJournalErrorKind kind;
    const char* words;
  } cases[] = {
      {"newer schema",
       std::string(kVersion1) +
           "PRAGMA user_version = " + std::to_string(SqliteJournalSchemaVersion() + 1) + ";",
       TJournalErrorKind::NewerSchema, "более новой версией"},
      {"another database", "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('x');",
       TJournalErrorKind::Corrupt, "не является журналом"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(fPath);
    RawSql(fPath, c.sql);
    const std::string before = ReadFile(fPath);
    const auto journal = OpenSqliteJournal(fPath);
    ASSERT_FALSE(journal) << c.name;
    EXPECT_EQ(journal.error().Kind, c.kind) << c.name;
    EXPECT_NE(journal.error().Message.find(c.words), std::string::npos) << journal.error().Message;
    EXPECT_EQ(ReadFile(fPath), before) << c.name;
    EXPECT_FALSE(std::filesystem::exists(fPath + "-wal")) << c.name;
  }
}

// A process killed while it appends leaves every row it reported as committed.
TEST_F(SqliteJournal, KillDuringAppendsKeepsEveryCommittedRow) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    auto journal = OpenSqliteJournal(fPath);
    if (!journal)
      ::_exit(2);
    for (int i = 0;; ++i) {
      TJournalRecord r = CodeWrite("AA" + std::to_string(i), std::to_string(i), i);
      const auto id = journal.value()->Append(r);
      if (!id)
        ::_exit(3);
      const std::int64_t value = id.value();
      if (::write(fds[1], &value, sizeof value) != sizeof value)
        ::_exit(4);
    }
  }
  ::close(fds[1]);
  std::vector<std::int64_t> reported;
  std::int64_t id = 0;
  while (reported.size() < 60 && ::read(fds[0], &id, sizeof id) == sizeof id)
    reported.push_back(id);
  ::kill(child, SIGKILL);
  // Rows the child reported between our last read and the kill count too.
  while (::read(fds[0], &id, sizeof id) == sizeof id)
    reported.push_back(id);
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself with " << WEXITSTATUS(status);
  ASSERT_GE(reported.size(), 60u);

  auto journal = Open();
  ASSERT_TRUE(journal);
  const auto rows = journal->Query({});
  ASSERT_TRUE(rows) << rows.error().Message;
  std::set<std::int64_t> stored;
  for (const auto& r : rows.value())
    stored.insert(r.Id);
  for (const auto reportedId : reported)
    EXPECT_TRUE(stored.count(reportedId)) << "row " << reportedId << " lost";
  // And the journal still takes rows.
  EXPECT_TRUE(journal->Append(CodeWrite("BB", "1", 0)));
}

}  // namespace
}  // namespace kiren::test
