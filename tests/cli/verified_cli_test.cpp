// kiren-cli's verified card operations and the issuance journal, against kiren-sim over a
// pseudo-terminal and a real journal file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"
#include "journal/sqlite_journal.h"

namespace kiren::test {
namespace {

using namespace std::chrono_literals;

class TVerifiedCliTest : public TCliFixture {
 protected:
  TVerifiedCliTest() : TCliFixture("kiren-cli-verified") {}
  void SetUp() override {
    FEnv = {"XDG_RUNTIME_DIR=" + FDir, "KIREN_LOG_DIR=" + FDir + "/logs", "LC_ALL=C.UTF-8",
            "XDG_DATA_HOME=" + FDir + "/data"};
  }
  void StartSim(const std::vector<std::string>& AArgs = {}) { FPort = StartSimProcess(AArgs); }
  // Sends a console line; returns its reply line.
  std::string Sim(const std::string& ALine) {
    const std::string reply = FSim->Command(ALine);
    EXPECT_FALSE(reply.empty()) << ALine;
    return reply;
  }
  // A new card in the field (the one before taken away).
  void PutCard(const std::string& AUid) {
    Sim("remove");
    Sim("put " + AUid);
  }
  // A card command on the simulator's port with this test's journal.
  std::string RunCard(std::vector<std::string> AArgs, int& AStatus) {
    AArgs.insert(AArgs.begin(), FPort);
    AArgs.insert(AArgs.end(), {"--journal", FJournal});
    return RunCli(AArgs, AStatus);
  }
  std::vector<TJournalRecord> Rows() {
    auto journal = OpenSqliteJournal(FJournal);
    EXPECT_TRUE(journal.ok()) << journal.error().Message;
    if (!journal.ok())
      return {};
    auto rows = journal.value()->Query({});
    EXPECT_TRUE(rows.ok());
    return rows.ok() ? rows.value() : std::vector<TJournalRecord>{};
  }

  const std::string FJournal = FDir + "/journal.sqlite3";
  std::string FPort;
};

// Each check outcome of a card-code write, as kiren-cli reports it (status, JSON) and as the
// journal keeps it. The reader's default emission parameters (block 4, offset 0, 5 bytes, key
// FF..FF) match the writes, so only the case's own setting makes a difference.
TEST_F(TVerifiedCliTest, EachOutcomeOfACardCodeWrite) {
  StartSim();
  const struct {
    const char* Name;
    std::vector<std::string> SimLines;      // fault switches (skipped when the reader lacks them)
    std::vector<std::string> ReaderParams;  // write-params options set before the write
    int Exit;
    const char* Check;
    TVerifyOutcome Journal;
    const char* Says;
  } cases[] = {
      {"verified", {}, {}, 0, "verified", TVerifyOutcome::Verified, "записанный код"},
      {"reader reads another offset",
       {},
       {"--block", "4", "--offset", "2", "--size", "5"},
       4,
       "reader_reports_other",
       TVerifyOutcome::ReaderReportsOther,
       "со смещения 2"},
      {"reader reads fewer bytes",
       {},
       {"--block", "4", "--size", "4"},
       4,
       "reader_reports_other",
       TVerifyOutcome::ReaderReportsOther,
       "только 4 байта"},
      {"reader holds another key",
       {},
       {"--block", "4", "--size", "5", "--key", "112233445566"},
       4,
       "reader_cannot_read",
       TVerifyOutcome::ReaderCannotRead,
       "Ключ выдачи считывателя"},
      {"acknowledged but not stored",
       {"fault nostore on"},
       {},
       4,
       "read_back_differs",
       TVerifyOutcome::ReadBackDiffers,
       "после записи"},
      {"stored partly",
       {"fault partial 3"},
       {},
       4,
       "read_back_differs",
       TVerifyOutcome::ReadBackDiffers,
       "после записи"},
      {"reader takes another block than it reports",
       {"fault emission-block 8"},
       {},
       4,
       "reader_reports_other",
       TVerifyOutcome::ReaderReportsOther,
       "Считыватель сообщает"},
  };
  int n = 0;
  std::size_t attempts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ++n;
    const std::string uid = "CA0000" + std::string(n < 10 ? "0" : "") + std::to_string(n);
    PutCard(uid);
    int status = -1;
    for (const auto& line : c.SimLines)
      ASSERT_EQ(Sim(line).rfind("ok", 0), 0u) << line;
    if (!c.ReaderParams.empty()) {
      std::vector<std::string> args = {"write-params"};
      args.insert(args.end(), c.ReaderParams.begin(), c.ReaderParams.end());
      RunCard(args, status);
      ASSERT_EQ(status, 0);
    }
    const std::string code = std::to_string(1000 + n);
    const std::string out =
        RunCard({"--json", "write-code", "--block", "4", "--size", "5", "--code", code}, status);
    ++attempts;
    EXPECT_EQ(status, c.Exit) << out;
    EXPECT_NE(out.find(std::string("\"check\":\"") + c.Check + "\""), std::string::npos) << out;
    EXPECT_NE(out.find(c.Says), std::string::npos) << out;
    EXPECT_NE(out.find("\"journaled\":true"), std::string::npos) << out;
    const auto rows = Rows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].Operation, TJournalOperation::CardCodeWrite);
    EXPECT_EQ(rows[0].CardUid, uid);
    EXPECT_EQ(rows[0].CodeDec, code);
    EXPECT_EQ(rows[0].ResultCode, 0);
    EXPECT_EQ(rows[0].Verify, c.Journal);

    Sim("fault off");
    if (!c.ReaderParams.empty()) {
      RunCard({"write-params", "--block", "4", "--size", "5"}, status);
      ASSERT_EQ(status, 0);
    }
  }
  std::size_t writes = 0;
  for (const auto& row : Rows())
    writes += row.Operation == TJournalOperation::CardCodeWrite ? 1 : 0;
  EXPECT_EQ(writes, attempts);
}

// Issue and clear are checked by what the reader reports afterwards, and journaled with the
// layout, emitent and emission; the text output names the check and the journal row.
TEST_F(TVerifiedCliTest, IssueAndClearAreCheckedAndJournaled) {
  StartSim({"--card", "new1k", "--uid", "0A0B0C0D"});
  int status = -1;
  std::string out =
      RunCard({"issue", "--variant", "1", "--emitent", "12", "--emission", "3"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Операция выполнена успешно\n  Проверка: Проверено\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("эмитент 12"), std::string::npos) << out;
  EXPECT_NE(out.find("  Журнал: запись 1\n"), std::string::npos) << out;
  out = RunCard({"clear"}, status);
  EXPECT_EQ(status, 0) << out;
  out = RunCard({"clear"}, status);
  EXPECT_EQ(status, 1) << out;  // nothing left to clear
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].Operation, TJournalOperation::Issue);
  EXPECT_EQ(rows[2].CardUid, "0A0B0C0D");
  EXPECT_EQ(rows[2].Emitent, 12u);
  EXPECT_EQ(rows[2].Emission, 3u);
  EXPECT_EQ(rows[2].Verify, TVerifyOutcome::Verified);
  EXPECT_EQ(rows[1].Operation, TJournalOperation::Clear);
  EXPECT_EQ(rows[1].Verify, TVerifyOutcome::Verified);
  EXPECT_EQ(rows[0].ResultCode, 8);
  EXPECT_EQ(rows[0].ResultText, "Нет данных для удаления");
}

// A code the journal has on another card is refused (status 1, nothing written, no row) unless
// --allow-duplicate; the same card again is a repair.
TEST_F(TVerifiedCliTest, DuplicateCodeRefusedUnlessAllowedOrSameCard) {
  StartSim();
  const std::vector<std::string> write = {"write-code", "--block", "4",  "--size",
                                          "5",          "--code",  "300"};
  int status = -1;
  PutCard("11111111");
  RunCard(write, status);
  ASSERT_EQ(status, 0);
  RunCard(write, status);
  EXPECT_EQ(status, 0) << "the same card again";

  PutCard("22222222");
  std::string out = RunCard(write, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("уже записывался на карту UID 11111111"), std::string::npos) << out;
  EXPECT_EQ(Rows().size(), 2u);
  // Nothing reached the card: it still holds no code.
  out = RunCli({FPort, "read-block", "--block", "4"}, status);
  EXPECT_NE(out.find("Блок 4: 00 00 00 00 00"), std::string::npos) << out;

  std::vector<std::string> allowed = write;
  allowed.push_back("--allow-duplicate");
  out = RunCard(allowed, status);
  EXPECT_EQ(status, 0) << out;
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].CardUid, "22222222");
}

// A batch hands out each code once: a card whose check fails still uses up its code (the
// series moved, the code is spoiled), and a write started again at a used code is refused by
// the journal.
TEST_F(TVerifiedCliTest, BatchNeverOffersACodeTwice) {
  StartSim();
  auto cli = Cli({"--json", FPort, "write-code", "--block", "4", "--size", "5", "--code", "5",
                  "--count", "3", "--wait", "3", "--journal", FJournal});
  // The second card's check fails: the reader takes its code from another block than it
  // reports.
  Sim("put 11111111");
  ASSERT_TRUE(cli->WaitFor("\"uid\":\"11111111\"", 20s)) << cli->Output();
  Sim("remove");
  ASSERT_TRUE(WaitStderr("Карта снята", 1));
  Sim("fault emission-block 8");
  Sim("put 22222222");
  EXPECT_EQ(cli->Wait(20s), 4) << cli->Output();
  Sim("fault off");
  std::set<std::string> codes;
  for (const auto& row : Rows())
    EXPECT_TRUE(codes.insert(row.CodeDec).second) << row.CodeDec;
  EXPECT_EQ(codes, (std::set<std::string>{"5", "6"}));
  EXPECT_NE(cli->Output().find("\"card_code\":\"0000000006\",\"trailer\":\"FF"), std::string::npos);
  EXPECT_NE(cli->Output().find("\"spoiled\":true"), std::string::npos) << cli->Output();

  // Starting again at 6 (as a window would offer after a failed write if the counter had not
  // moved) is refused on a new card.
  PutCard("44444444");
  int status = -1;
  const std::string out =
      RunCard({"write-code", "--block", "4", "--size", "5", "--code", "6"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("UID 22222222"), std::string::npos) << out;
}

// journal: filters by code (decimal or 0x), UID and date, CSV for spreadsheets, JSON lines.
TEST_F(TVerifiedCliTest, JournalCommandFiltersAndExports) {
  {
    auto journal = OpenSqliteJournal(FJournal);
    ASSERT_TRUE(journal.ok());
    const auto day = std::chrono::system_clock::from_time_t(1796983200);  // 2026-12-11 10:00 UTC
    const struct {
      const char* Uid;
      const char* Code;
      int Days;
    } rows[] = {{"11111111", "012C", 0}, {"22222222", "012D", 1}, {"33333333", "012C", 2}};
    for (const auto& r : rows) {
      TJournalRecord row;
      row.Time = day + std::chrono::hours(24 * r.Days);
      row.Station = "desk; 1";
      row.CardUid = r.Uid;
      row.CodeHex = r.Code;
      row.ResultText = "Операция выполнена успешно";
      row.Verify = TVerifyOutcome::Verified;
      ASSERT_TRUE(journal.value()->Append(row).ok());
    }
  }
  const std::vector<std::string> base = {"journal", "--journal", FJournal};
  auto run = [&](std::vector<std::string> AMore, int& AStatus) {
    std::vector<std::string> args = base;
    args.insert(args.end(), AMore.begin(), AMore.end());
    return RunCli(args, AStatus);
  };
  auto lines = [](const std::string& AText) {
    std::size_t n = 0;
    for (const char ch : AText)
      n += ch == '\n' ? 1 : 0;
    return n;
  };
  int status = -1;
  std::string out = run({}, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines(out), 3u) << out;
  EXPECT_LT(out.find("UID 33333333"), out.find("UID 11111111")) << "newest first";
  EXPECT_EQ(lines(run({"--code", "300"}, status)), 2u);
  EXPECT_EQ(lines(run({"--code", "0x12c"}, status)), 2u);
  EXPECT_EQ(lines(run({"--code", "301", "--uid", "22222222"}, status)), 1u);
  EXPECT_EQ(lines(run({"--uid", "22222222", "--code", "300"}, status)), 0u);
  EXPECT_EQ(lines(run({"--since", "2026-12-12T12:00Z"}, status)), 1u);
  EXPECT_EQ(lines(run({"--json"}, status)), 3u);

  out = run({"--csv", "--uid", "11111111"}, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 BOM";
  EXPECT_NE(out.find(";"), std::string::npos);
  EXPECT_NE(out.find("\"desk; 1\""), std::string::npos) << out;
  EXPECT_EQ(lines(out), 2u) << "header and one row";

  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--code", "12x"}, {"--since", "вчера"}, {"--csv", "--json"}}) {
    run(bad, status);
    EXPECT_EQ(status, 2) << bad[0];
  }
}

// A journal that cannot be opened: reading still works, card commands refuse (status 5) and
// leave card and file alone, --no-journal goes on without it.
TEST_F(TVerifiedCliTest, UnusableJournal) {
  StartSim({"--card", "written"});
  const std::string garbage(8192, 'x');
  { std::ofstream(FJournal, std::ios::binary) << garbage; }
  int status = -1;
  std::string out = RunCli({FPort, "read-block", "--block", "7", "--key", "A0A1A2A3A4A5"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Условия доступа: байты 6–8 78 77 88"), std::string::npos) << out;
  EXPECT_NE(out.find("Трейлер"), std::string::npos) << out;

  out = RunCard({"clear"}, status);
  EXPECT_EQ(status, 5) << out;
  EXPECT_NE(ReadText(FDir + "/cli.err").find(FJournal), std::string::npos)
      << ReadText(FDir + "/cli.err");
  EXPECT_NE(ReadText(FDir + "/cli.err").find("--no-journal"), std::string::npos);
  out = RunCard({"issue", "--variant", "1"}, status);
  EXPECT_EQ(status, 5) << out;
  out = RunCli({FPort, "read-block", "--block", "4", "--key", "A0A1A2A3A4A5"}, status);
  EXPECT_NE(out.find("Блок 4: 01 23 45 67 89"), std::string::npos) << "card untouched: " << out;

  out = RunCard({"--json", "write-params", "--block", "4", "--size", "5", "--no-journal"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"journaled\":false"), std::string::npos) << out;
  EXPECT_EQ(ReadText(FJournal), garbage);

  RunCli({"journal", "--journal", FJournal}, status);
  EXPECT_EQ(status, 5);
}

// kill -9 in the middle of a batch: the journal opens afterwards, intact, with every row the
// program reported as committed.
TEST_F(TVerifiedCliTest, KillDuringABatchKeepsCommittedRows) {
  StartSim();
  auto cli = Cli({"--json", FPort, "write-code", "--block", "4", "--size", "5", "--code", "100",
                  "--count", "50", "--wait", "30", "--journal", FJournal});
  for (int i = 1; i <= 3; ++i) {
    const std::string uid = "7700000" + std::to_string(i);
    Sim("put " + uid);
    ASSERT_TRUE(cli->WaitFor("\"uid\":\"" + uid + "\"", 20s)) << cli->Output();
    Sim("remove");
    ASSERT_TRUE(WaitStderr("Карта снята", i));
  }
  Sim("put 77000004");
  std::this_thread::sleep_for(300ms);  // the fourth write is under way or about to be
  cli->Signal(SIGKILL);
  ASSERT_TRUE(cli->Wait(10s));

  std::set<std::int64_t> reported;
  const std::string& out = cli->Output();
  for (auto pos = out.find("\"journal_id\":"); pos != std::string::npos;
       pos = out.find("\"journal_id\":", pos + 1))
    reported.insert(std::stoll(out.substr(pos + 13)));
  EXPECT_GE(reported.size(), 3u) << out;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(FJournal.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
  sqlite3_finalize(stmt);
  sqlite3_close(db);

  std::set<std::int64_t> stored;
  for (const auto& row : Rows())
    stored.insert(row.Id);
  for (const auto id : reported)
    EXPECT_TRUE(stored.count(id)) << id;
}

}  // namespace
}  // namespace kiren::test
