// The issuing service: verdicts and journal rows of finished operations, the journal and
// duplicate questions, and the rows of actions handed out, against a real journal file.
#include "operator/issuing.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text_utils.h"
#include "journal/sqlite_journal.h"
#include "operator/texts.h"

namespace kiren::op {
namespace {

using namespace std::chrono_literals;

std::string FirstLine(const std::string& AText) {
  return AText.substr(0, AText.find('\n'));
}

// ---- Verdicts ------------------------------------------------------------------------------

struct TVerdictCase {
  const char* Name;
  TJournalOperation Operation = TJournalOperation::CardCodeWrite;
  int ErrCode = kResOk;
  std::string ErrText = {};
  TCheckOutcome Check = TCheckOutcome::Verified;
  TJournaling Journaling = TJournaling::Journaled;
  // Expected.
  bool Ok = false;
  std::string FirstLine = {};
  bool CheckFailed = false;
  bool CounterMoves = false;
  std::string Contains = {};  // a later line that must be there
};

const TVerdictCase kVerdictCases[] = {
    {.Name = "verified write", .Ok = true, .FirstLine = kMsgOk, .CounterMoves = true},
    {.Name = "write read back differently: red, the counter still moves",
     .Check = TCheckOutcome::ReadBackDiffers,
     .FirstLine = "Код записан, но проверка не пройдена: " +
                  CheckOutcomeCaption(TCheckOutcome::ReadBackDiffers),
     .CheckFailed = true,
     .CounterMoves = true,
     .Contains = "\nчто отличается"},
    {.Name = "reader reports another code",
     .Check = TCheckOutcome::ReaderReportsOtherCode,
     .FirstLine = "Код записан, но проверка не пройдена: " +
                  CheckOutcomeCaption(TCheckOutcome::ReaderReportsOtherCode),
     .CheckFailed = true,
     .CounterMoves = true},
    {.Name = "written but the check could not run is not green",
     .Check = TCheckOutcome::NotChecked,
     .FirstLine =
         "Код записан, но проверка не пройдена: " + CheckOutcomeCaption(TCheckOutcome::NotChecked),
     .CheckFailed = true,
     .CounterMoves = true},
    {.Name = "failed write: its error, no counter move",
     .ErrCode = kResStatusError,
     .ErrText = "Ошибка: Ошибка аутентификации",
     .Check = TCheckOutcome::NotChecked,
     .FirstLine = "Ошибка: Ошибка аутентификации"},
    {.Name = "failed without a text",
     .ErrCode = kResTimeout,
     .Check = TCheckOutcome::NotChecked,
     .FirstLine = kMsgNotDone},
    {.Name = "verified but the row failed: red",
     .Journaling = TJournaling::Failed,
     .FirstLine = kMsgOk,
     .CounterMoves = true,
     .Contains = "\n" + kMsgNotJournaled + ": диск полон"},
    {.Name = "verified without a journal by the operator's choice",
     .Journaling = TJournaling::Off,
     .Ok = true,
     .FirstLine = kMsgOk,
     .CounterMoves = true,
     .Contains = "\n" + kMsgJournalOff},
    {.Name = "issue verified",
     .Operation = TJournalOperation::Issue,
     .Ok = true,
     .FirstLine = kMsgOk},
    {.Name = "issue the reader cannot read",
     .Operation = TJournalOperation::Issue,
     .Check = TCheckOutcome::ReaderCannotRead,
     .FirstLine = "Карта эмитирована, но проверка не пройдена: " +
                  CheckOutcomeCaption(TCheckOutcome::ReaderCannotRead),
     .CheckFailed = true},
    {.Name = "clear with nothing to clear keeps its wording",
     .Operation = TJournalOperation::Clear,
     .ErrCode = kResNothingToDo,
     .ErrText = kMsgNothingToClear,
     .FirstLine = kMsgNothingToClear},
    {.Name = "cleared but the reader still reports a layout",
     .Operation = TJournalOperation::Clear,
     .Check = TCheckOutcome::ReaderReportsOtherCode,
     .FirstLine = "Карта очищена, но проверка не пройдена: " +
                  CheckOutcomeCaption(TCheckOutcome::ReaderReportsOtherCode),
     .CheckFailed = true},
    {.Name = "emission parameters have no check",
     .Operation = TJournalOperation::EmissionWrite,
     .Check = TCheckOutcome::NotChecked,
     .Ok = true,
     .FirstLine = kMsgOk},
};

TEST(IssuingVerdict, Table) {
  for (const auto& c : kVerdictCases) {
    SCOPED_TRACE(c.Name);
    TOperationFacts facts;
    facts.Operation = c.Operation;
    facts.ErrCode = c.ErrCode;
    facts.ErrText = c.ErrText;
    facts.Check = {c.Check, "что отличается"};
    const TVerdict v = MakeVerdict(facts, c.Journaling, 7, "диск полон");
    EXPECT_EQ(v.Ok, c.Ok);
    EXPECT_EQ(FirstLine(v.Text), c.FirstLine) << v.Text;
    EXPECT_EQ(v.CheckFailed, c.CheckFailed);
    EXPECT_EQ(v.CounterMoves, c.CounterMoves);
    EXPECT_EQ(v.Done, c.ErrCode == kResOk);
    if (!c.Contains.empty()) {
      EXPECT_NE(v.Text.find(c.Contains), std::string::npos) << v.Text;
    }
    EXPECT_EQ(v.JournalId, c.Journaling == TJournaling::Journaled ? 7 : 0);
    EXPECT_EQ(v.JournalError, c.Journaling == TJournaling::Failed ? "диск полон" : "");
  }
}

TEST(IssuingVerdict, EveryCheckOutcomeHasItsJournalOutcome) {
  const struct {
    TCheckOutcome Check;
    TVerifyOutcome Journal;
  } cases[] = {
      {TCheckOutcome::Verified, TVerifyOutcome::Verified},
      {TCheckOutcome::ReadBackDiffers, TVerifyOutcome::ReadBackDiffers},
      {TCheckOutcome::ReaderReportsOtherCode, TVerifyOutcome::ReaderReportsOther},
      {TCheckOutcome::ReaderCannotRead, TVerifyOutcome::ReaderCannotRead},
      {TCheckOutcome::NotChecked, TVerifyOutcome::NotChecked},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JournalOutcome(c.Check), c.Journal) << CheckOutcomeName(c.Check);
}

TEST(IssuingRow, FactsBecomeTheRow) {
  TOperationFacts facts;
  facts.Operation = TJournalOperation::Issue;
  facts.Time = std::chrono::system_clock::from_time_t(1796983200);
  facts.Station = {"desk-1", "ivanova"};
  facts.Reader = {"ttyACM0", "Kiren-M1 v5.3"};
  facts.Card = {"04A1B2C3", "Mifare 1K"};
  facts.Code = {0x01, 0x02, 0x0A};
  facts.Layout = 4;
  facts.Emitent = 100;
  facts.Emission = 7;
  facts.ErrCode = kResOk;
  facts.Check = {TCheckOutcome::ReaderReportsOtherCode, "..."};
  const TJournalRecord row = JournalRow(facts);
  EXPECT_EQ(row.Time, facts.Time);
  EXPECT_EQ(row.Station, "desk-1");
  EXPECT_EQ(row.Login, "ivanova");
  EXPECT_EQ(row.ReaderPort, "ttyACM0");
  EXPECT_EQ(row.Firmware, "Kiren-M1 v5.3");
  EXPECT_EQ(row.CardUid, "04A1B2C3");
  EXPECT_EQ(row.CardType, "Mifare 1K");
  EXPECT_EQ(row.Operation, TJournalOperation::Issue);
  EXPECT_EQ(row.CodeHex, "01020A");
  EXPECT_EQ(row.Layout, IssueLayoutCaption(4));
  EXPECT_EQ(row.Emitent, 100u);
  EXPECT_EQ(row.Emission, 7u);
  EXPECT_EQ(row.ResultCode, 0);
  EXPECT_EQ(row.ResultText, kMsgOk);
  EXPECT_EQ(row.Verify, TVerifyOutcome::ReaderReportsOther);

  facts.ErrCode = kResNothingToDo;
  facts.ErrText = kMsgNothingToClear;
  EXPECT_EQ(JournalRow(facts).ResultText, kMsgNothingToClear);
  EXPECT_EQ(JournalRow(facts).ResultCode, kResNothingToDo);
}

// ---- The service against a journal file ---------------------------------------------------

class IssuingService : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kiren_issuing_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    FDir = tmpl;
    FPath = FDir + "/journal.sqlite3";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }

  TIssuingQuestions Questions() {
    TIssuingQuestions q;
    q.GoOnWithoutJournal = [this](const std::string& AText) {
      FAsked.push_back(AText);
      return FAnswer;
    };
    q.WriteDuplicate = [this](const TCodeOnOtherCard& AOther, const std::string& AText) {
      FAsked.push_back(AText);
      FOther = AOther;
      return FAnswer;
    };
    return q;
  }
  std::unique_ptr<TIssuingService> Service(TJournalOptions AOptions = {}) {
    if (AOptions.Path.empty())
      AOptions.Path = FPath;
    auto service = std::make_unique<TIssuingService>(
        OpenJournal(AOptions), TStationInfo{"desk-1", "ivanova"}, Questions());
    service->SetReader({"pts/3", "Kiren-M1 v5.3"});
    return service;
  }
  static TCardCodeParams Params(Bytes ACode) {
    TCardCodeParams p;
    p.BlockNo = 4;
    p.Size = static_cast<int>(ACode.size());
    p.Code = std::move(ACode);
    p.Keys.KeyA = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
    p.Keys.KeyB = {0x9A, 0x8B, 0x7C, 0x6D, 0x5E, 0x4F};
    p.Keys.oldKeyB = {0x13, 0x57, 0x9B, 0xDF, 0x24, 0x68};
    return p;
  }
  // Runs an action's completion as the worker would after Execute set AErrCode.
  static void Finish(TThAction& AAction, int AErrCode) {
    AAction.SetErrCode(AErrCode);
    AAction.OnDone()(AAction);
  }
  std::vector<TJournalRecord> Rows() {
    auto journal = OpenSqliteJournal(FPath);
    EXPECT_TRUE(journal.ok());
    auto rows = journal.value()->Query({});
    EXPECT_TRUE(rows.ok());
    return rows.ok() ? rows.value() : std::vector<TJournalRecord>{};
  }
  static std::string ReadFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string FDir;
  std::string FPath;
  bool FAnswer = false;
  std::vector<std::string> FAsked;
  TCodeOnOtherCard FOther;
};

// The row is committed before the verdict is handed over, with what was done and never a
// key: the keys' bytes appear nowhere in the journal's files.
TEST_F(IssuingService, CompletionJournalsTheRowWithoutKeys) {
  auto service = Service();
  const TCardSeen card{"11223344", "Mifare 1K"};
  ASSERT_TRUE(service->BeforeCardCodeWrite(Params({0, 0, 1, 0x2C}), card).Go);
  std::optional<TVerdict> verdict;
  std::size_t rowsAtVerdict = 0;
  auto action = service->WriteCardCode(Params({0, 0, 1, 0x2C}), card, std::nullopt,
                                       [&](const TVerdict& V, TAcWriteCardCodeChecked&) {
                                         verdict = V;
                                         rowsAtVerdict = Rows().size();
                                       });
  EXPECT_EQ(service->PendingCount(), 1u);
  Finish(*action, kResOk);
  ASSERT_TRUE(verdict);
  EXPECT_EQ(rowsAtVerdict, 1u);
  EXPECT_EQ(service->PendingCount(), 0u);
  // No check ran (no reader here): the write counts as done but not green.
  EXPECT_TRUE(verdict->Done);
  EXPECT_TRUE(verdict->CheckFailed);
  EXPECT_FALSE(verdict->Ok);
  EXPECT_TRUE(verdict->CounterMoves);
  ASSERT_EQ(verdict->Journaling, TJournaling::Journaled);

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  const TJournalRecord& row = rows[0];
  EXPECT_EQ(row.Id, verdict->JournalId);
  EXPECT_EQ(row.Station, "desk-1");
  EXPECT_EQ(row.Login, "ivanova");
  EXPECT_EQ(row.ReaderPort, "pts/3");
  EXPECT_EQ(row.Firmware, "Kiren-M1 v5.3");
  EXPECT_EQ(row.CardUid, "11223344");
  EXPECT_EQ(row.Block, 4);
  EXPECT_EQ(row.Offset, 0);
  EXPECT_EQ(row.Size, 4);
  EXPECT_EQ(row.CodeDec, "300");
  EXPECT_EQ(row.Verify, TVerifyOutcome::NotChecked);

  const std::string files = ReadFile(FPath) + ReadFile(FPath + "-wal");
  for (const TKey& key : {Params({}).Keys.KeyA, Params({}).Keys.KeyB, Params({}).Keys.oldKeyB}) {
    const std::string raw(key.begin(), key.end());
    EXPECT_EQ(files.find(raw), std::string::npos);
    for (const std::string& text :
         {BytesToHex(key.data(), key.size()), BytesToHexStr(key.data(), key.size())})
      EXPECT_EQ(files.find(text), std::string::npos) << text;
  }
}

// A code already written to another card asks (with that card's UID and the date); "no"
// refuses, "yes" goes on; the same card again is a repair and passes without a question.
TEST_F(IssuingService, DuplicateCodeAsksUnlessItIsTheSameCard) {
  auto service = Service();
  auto first = service->WriteCardCode(Params({0, 0, 0, 5}), {"AAAA0001", "Mifare 1K"}, std::nullopt,
                                      nullptr);
  Finish(*first, kResStatusError);  // a failed attempt counts as well

  EXPECT_TRUE(service->BeforeCardCodeWrite(Params({0, 0, 0, 5}), {"AAAA0001", ""}).Go);
  EXPECT_TRUE(FAsked.empty());
  EXPECT_TRUE(service->BeforeCardCodeWrite(Params({0, 0, 0, 6}), {"BBBB0002", ""}).Go);
  EXPECT_TRUE(FAsked.empty());

  FAnswer = false;
  const TGate refused = service->BeforeCardCodeWrite(Params({0, 0, 0, 0, 5}), {"BBBB0002", ""});
  EXPECT_FALSE(refused.Go);
  EXPECT_EQ(refused.Refusal, TRefusal::Duplicate);
  EXPECT_NE(refused.Text.find("AAAA0001"), std::string::npos) << refused.Text;
  ASSERT_EQ(FAsked.size(), 1u);
  EXPECT_EQ(FOther.CardUid, "AAAA0001");
  EXPECT_NE(FAsked[0].find("UID AAAA0001"), std::string::npos) << FAsked[0];
  EXPECT_NE(FAsked[0].find(FOther.TimeLocal.substr(0, 10)), std::string::npos) << FAsked[0];

  FAnswer = true;
  EXPECT_TRUE(service->BeforeCardCodeWrite(Params({0, 0, 0, 5}), {"BBBB0002", ""}).Go);
  EXPECT_EQ(FAsked.size(), 2u);
}

// A journal that cannot be opened: every operation asks (the message says why); "no" refuses,
// "yes" is remembered and the rows are then not journaled, without a red verdict.
TEST_F(IssuingService, NoJournalAsksOnceAndWorksWithout) {
  { std::ofstream(FPath, std::ios::binary) << std::string(4096, 'x'); }
  auto service = Service();
  ASSERT_EQ(service->Journal(), nullptr);
  EXPECT_NE(service->JournalError().find(FPath), std::string::npos) << service->JournalError();

  FAnswer = false;
  const TGate refused = service->BeforeOperation(TJournalOperation::Issue);
  EXPECT_FALSE(refused.Go);
  EXPECT_EQ(refused.Refusal, TRefusal::NoJournal);
  ASSERT_EQ(FAsked.size(), 1u);
  EXPECT_NE(FAsked[0].find(service->JournalError()), std::string::npos);

  FAnswer = true;
  EXPECT_TRUE(service->BeforeCardCodeWrite(Params({0, 0, 0, 5}), {"AAAA0001", ""}).Go);
  EXPECT_TRUE(service->BeforeOperation(TJournalOperation::Clear).Go);
  EXPECT_EQ(FAsked.size(), 2u);

  std::optional<TVerdict> verdict;
  auto action = service->Clear({"AAAA0001", ""},
                               [&](const TVerdict& V, TAcClearCardChecked&) { verdict = V; });
  Finish(*action, kResNothingToDo);
  ASSERT_TRUE(verdict);
  EXPECT_EQ(verdict->Journaling, TJournaling::Off);
  EXPECT_EQ(FirstLine(verdict->Text), kMsgNothingToClear);
  // The file was left as it was.
  EXPECT_EQ(ReadFile(FPath), std::string(4096, 'x'));
}

// A row the journal refuses (another program holds the file) makes the verdict red.
TEST_F(IssuingService, RowThatCannotBeWrittenIsRed) {
  auto service = Service();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(FPath.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::optional<TVerdict> verdict;
  TPercoPars pars;
  pars.blockNo = 4;
  pars.size = 5;
  auto action =
      service->WriteEmission(pars, {}, [&](const TVerdict& V, TAcPercoStt&) { verdict = V; });
  Finish(*action, kResOk);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_TRUE(verdict);
  EXPECT_FALSE(verdict->Ok);
  EXPECT_TRUE(verdict->Done);
  EXPECT_EQ(verdict->Journaling, TJournaling::Failed);
  EXPECT_FALSE(verdict->JournalError.empty());
  EXPECT_NE(verdict->Text.find(kMsgNotJournaled), std::string::npos) << verdict->Text;
}

// An action whose completion never came is journaled as an attempt with an unknown result
// (it may have reached the card, so the duplicate guard knows its code); a completion that
// arrives afterwards adds nothing.
TEST_F(IssuingService, AbandonedActionIsJournaledOnce) {
  auto service = Service();
  auto action =
      service->WriteCardCode(Params({0, 0, 0, 9}), {"CCCC0003", ""}, std::nullopt, nullptr);
  const auto verdicts = service->AbandonPending("Связь со считывателем потеряна");
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_FALSE(verdicts[0].Ok);
  EXPECT_FALSE(verdicts[0].CounterMoves);
  EXPECT_EQ(verdicts[0].Journaling, TJournaling::Journaled);
  Finish(*action, kResOk);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].ResultCode, kResNotExecuted);
  EXPECT_NE(rows[0].ResultText.find("Связь со считывателем потеряна"), std::string::npos);
  FAnswer = false;
  EXPECT_FALSE(service->BeforeCardCodeWrite(Params({0, 0, 0, 9}), {"DDDD0004", ""}).Go);
}

// An action the worker's queue refused never reached the reader: withdrawn, it leaves no row
// and is not journaled as an unknown attempt when the link ends; the others still are.
TEST_F(IssuingService, WithdrawnActionLeavesNoRow) {
  auto service = Service();
  auto refused =
      service->WriteCardCode(Params({0, 0, 0, 7}), {"CCCC0007", ""}, std::nullopt, nullptr);
  auto queued = service->Clear({"CCCC0008", ""}, nullptr);
  service->Withdraw(*refused);
  service->Withdraw(*refused);
  EXPECT_EQ(service->PendingCount(), 1u);
  EXPECT_EQ(service->AbandonPending("Связь со считывателем потеряна").size(), 1u);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Operation, TJournalOperation::Clear);
}

TEST(IssuingJournalOpen, UsualPlaceBesideTheProgramOrInUserData) {
  const auto base = std::filesystem::temp_directory_path() / "kiren_issuing_open";
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base / "prog");
  TJournalOptions options{.ProgramDir = (base / "prog").string() + "/",
                          .UserDataHome = (base / "data").string()};
  EXPECT_EQ(JournalPathFor(options), (base / "prog" / "journal.sqlite3").string());
  const TJournalOpening opening = OpenJournal(options);
  EXPECT_TRUE(opening.Ok()) << opening.Error;
  EXPECT_EQ(opening.Location, (base / "prog" / "journal.sqlite3").string());
  options.Path = (base / "elsewhere.sqlite3").string();
  EXPECT_EQ(JournalPathFor(options), options.Path);
  std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace kiren::op
