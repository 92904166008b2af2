// Batch runs through the device worker against kiren-sim's scripted card feed over a real
// pseudo-terminal, with a journal file.
#include "operator/batch.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "journal/sqlite_journal.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "worker/event_loop.h"
#include "worker/th.h"

namespace kiren::op {
namespace {

using namespace std::chrono_literals;

class TCardForward : public IDeviceView {
 public:
  std::function<void(const TCardInfo&)> OnCard;
  bool Connected = false;
  void ShowDevInfo(const TDevInfo&, int AError) override { Connected = AError == kResOk; }
  void ShowConfigInfo(const TConfig&) override {}
  void ShowCardInfo(const TCardInfo& ACard) override {
    if (OnCard)
      OnCard(ACard);
  }
};

class TBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSim = std::make_unique<test::TSimProcess>(
        std::vector<std::string>{}, FTmp.Path(),
        std::vector<std::string>{"KIREN_LOG_DIR=" + FTmp.Path() + "/logs"});
    auto journal = OpenSqliteJournal(JournalPath());
    ASSERT_TRUE(journal.ok()) << journal.error().Message;
    TJournalOpening opening;
    opening.Journal = std::move(journal).value();
    opening.Location = JournalPath();
    FService = std::make_unique<TIssuingService>(std::move(opening), TStationInfo{"st", "op"},
                                                 TIssuingQuestions{});
    FTh = TTh::Create(
        FSim->PortName(), false, [this](TTh*) { FTh = nullptr; }, FView, FLoop);
    ASSERT_TRUE(FLoop.RunUntil([this] { return FView.Connected; }, 10s));
    FRun = std::make_unique<TBatchRun>(
        *FService,
        [this](std::unique_ptr<TThAction>& A) { return FTh != nullptr && FTh->TryExec(A); },
        [this](const TBatchCardEvent& E) { FEvents.push_back(E); });
    FView.OnCard = [this](const TCardInfo& C) { FRun->OnCard(C); };
  }

  void TearDown() override {
    FView.OnCard = nullptr;
    if (FTh != nullptr)
      FTh->Terminate();
    FLoop.RunUntil([this] { return FTh == nullptr; }, 10s);
  }

  std::string JournalPath() const { return FTmp.Path() + "/journal.sqlite3"; }

  // Arms a run of ACount cards (block 4, five-byte codes, the reader's read key) in series "s"
  // from 100.
  void Arm(std::int64_t ACount) {
    TCardCodeInput input;
    input.BlockNo = "4";
    input.Size = "5";
    input.Code = {"100", false};
    TBatchOptions options{CardCodeParams(input), "s", 100, ACount};
    std::string error;
    ASSERT_TRUE(FRun->Start(options, error)) << error;
    FTh->SetPollPeriod(kBatchPollPeriod);
  }

  // The run's events, for failure messages.
  std::string Story() const {
    std::string text = BatchProgressText(FRun->Progress());
    for (const auto& event : FEvents)
      text += "\n" + event.Uid + " " + event.CodeHex + ": " + event.Text;
    return text;
  }

  std::vector<TJournalRecord> Rows() const {
    auto rows = FService->Journal()->Query({});
    EXPECT_TRUE(rows.ok());
    return rows.ok() ? rows.value() : std::vector<TJournalRecord>{};
  }

  test::TTempDir FTmp{"kiren-batch-test"};
  std::unique_ptr<test::TSimProcess> FSim;
  TEventLoop FLoop;
  TCardForward FView;
  TTh* FTh = nullptr;
  std::unique_ptr<TIssuingService> FService;
  std::unique_ptr<TBatchRun> FRun;
  std::vector<TBatchCardEvent> FEvents;
};

// N new cards: N verified cards with N consecutive codes, N journal rows, the series N on.
TEST_F(TBatchTest, WritesEachNewCardWithTheNextCode) {
  Arm(5);
  ASSERT_EQ(FSim->Command("feed 5 dwell 400 gap 100").rfind("ok", 0), 0u);
  ASSERT_TRUE(FLoop.RunUntil([this] { return FRun->Done(); }, 30s)) << Story();
  EXPECT_FALSE(FRun->Armed());
  EXPECT_EQ(FRun->Progress().Written, 5);
  EXPECT_EQ(FRun->Progress().Failed, 0);
  std::set<std::string> codes, uids;
  for (const auto& row : Rows()) {
    EXPECT_EQ(row.Verify, TVerifyOutcome::Verified) << row.CardUid;
    codes.insert(row.CodeDec);
    uids.insert(row.CardUid);
  }
  EXPECT_EQ(codes, (std::set<std::string>{"100", "101", "102", "103", "104"}));
  EXPECT_EQ(uids.size(), 5u);
  EXPECT_EQ(FService->Journal()->AllocateCode("s").value(), 105u);
}

// A card the journal knows with a code is shown and skipped, never written again; a card taken
// away after its first block write fails, its code is spoiled and not handed out again.
TEST_F(TBatchTest, SkipsKnownCardsAndSpoilsTheCodeOfAPulledCard) {
  TJournalRecord known;
  known.CardUid = "10000001";
  known.CodeHex = "0000000999";
  known.Verify = TVerifyOutcome::Verified;
  ASSERT_TRUE(FService->Journal()->Append(known).ok());
  Arm(2);
  // Card 1 is known, card 2 is pulled mid-write, cards 3 and 4 are written.
  ASSERT_EQ(FSim->Command("feed 4 uid 10000001 dwell 400 gap 100 pull 2 1").rfind("ok", 0), 0u);
  ASSERT_TRUE(FLoop.RunUntil([this] { return FRun->Done(); }, 30s)) << Story();
  const TBatchProgress& state = FRun->Progress();
  EXPECT_EQ(state.Written, 2);
  EXPECT_EQ(state.Skipped, 1);
  EXPECT_EQ(state.Failed, 1);
  ASSERT_EQ(FEvents.size(), 4u);
  EXPECT_EQ(FEvents[0].Result, TBatchCardResult::Skipped);
  EXPECT_EQ(FEvents[0].CodeHex, "999");  // as the journal keeps it
  EXPECT_EQ(FEvents[1].Result, TBatchCardResult::Failed);
  EXPECT_EQ(FEvents[1].Uid, "10000002");
  EXPECT_TRUE(FEvents[1].Spoiled);
  EXPECT_EQ(FService->Journal()->SpoiledCodes("s").value(), std::vector<std::uint64_t>{100});
  EXPECT_EQ(FEvents[2].CodeHex, "0000000065");  // 101: the spoiled 100 is not offered again
  EXPECT_EQ(FEvents[3].CodeHex, "0000000066");
  EXPECT_EQ(BatchProgressText(state), "Записано 2 из 2, пропущено 1, не записано 1");
  // No row for the known card; one for the pulled card's attempt.
  std::size_t knownRows = 0;
  for (const auto& row : Rows())
    knownRows += row.CardUid == "10000001" ? 1 : 0;
  EXPECT_EQ(knownRows, 1u);
  EXPECT_EQ(Rows().size(), 4u);
}

// Without a journal no code can be allocated: the run is not armed and says why.
TEST(BatchRun, RefusesToArmWithoutAJournal) {
  TJournalOpening none;
  none.Error = "Журнал выдачи повреждён.";
  TIssuingService service(std::move(none), {"st", "op"}, {});
  TBatchRun run(service, [](std::unique_ptr<TThAction>&) { return true; });
  std::string error;
  EXPECT_FALSE(run.Start({{}, "s", 1, 3}, error));
  EXPECT_FALSE(run.Armed());
  EXPECT_NE(error.find("Журнал выдачи повреждён."), std::string::npos) << error;
}

}  // namespace
}  // namespace kiren::op
