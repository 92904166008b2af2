// The "Серия" group of the card-code tab against the virtual reader's scripted card feed: a
// small batch through the window ends with every card verified and journaled, the progress
// shown, and the series moved on.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <set>

#include "journal/journal.h"
#include "sim/card_feed.h"
#include "ui/main_window_batch.h"
#include "window_fixture.h"

namespace kiren::test {
namespace {

constexpr int kWaitMs = 30000;

class TWindowBatch : public TWindowReaderTest {
 protected:
  void SetUp() override {
    TWindowReaderTest::SetUp();
    StartReader({});
    CreateWindow();
    ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->DevInfo().verMajor > 0; }, kWaitMs));
    Window->findChild<QTabWidget*>("PageControl1")
        ->setCurrentWidget(Window->findChild<QWidget*>("tsEmission"));
    Edit("beBlockNo")->setText("4");
    Edit("beSize")->setText("5");
    Edit("beCardCode")->setText("500");
  }
  void TearDown() override {
    Feed.Stop();
    TWindowReaderTest::TearDown();
  }

  sim::TCardFeed Feed{Firmware};
};

TEST_F(TWindowBatch, FiveCardsFromTheFeed) {
  Get<QSpinBox>("seBatchCount")->setValue(5);
  Get<QPushButton>("btnBatch")->click();
  ASSERT_TRUE(Window->Batch().Run().Armed()) << Get<QLabel>("lBatchProblem")->text().toStdString();
  EXPECT_EQ(Get<QPushButton>("btnBatch")->text(), QStringLiteral("Остановить"));
  sim::TFeedPlan plan;
  plan.Cards = 5;
  plan.DwellMs = 400;
  plan.GapMs = 200;
  Feed.Start(plan);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Batch().Run().Done(); }, kWaitMs))
      << Get<QLabel>("lBatchProgress")->text().toStdString() << " "
      << Get<QLabel>("lBatchProblem")->text().toStdString();
  EXPECT_EQ(Get<QLabel>("lBatchProgress")->text(), QStringLiteral("Записано 5 из 5"));
  EXPECT_EQ(Get<QProgressBar>("pbBatch")->value(), 5);
  EXPECT_EQ(Get<QProgressBar>("pbBatch")->maximum(), 5);
  EXPECT_EQ(Get<QLabel>("lBatchLast")->text(),
            QStringLiteral("UID 10000005, код 00000001F8 (504)"));
  EXPECT_EQ(Get<QPushButton>("btnBatch")->text(), QStringLiteral("Начать серию"));
  EXPECT_FALSE(Get<QLabel>("lBatchProblem")->isVisible());

  auto rows = Window->Journal()->Query({});
  ASSERT_TRUE(rows.ok());
  std::set<std::string> codes;
  for (const auto& row : rows.value()) {
    EXPECT_EQ(row.Verify, TVerifyOutcome::Verified) << row.CardUid;
    codes.insert(row.CodeDec);
  }
  EXPECT_EQ(codes, (std::set<std::string>{"500", "501", "502", "503", "504"}));
  EXPECT_EQ(Window->Journal()->AllocateCode("main").value(), 505u);
}

// The button stops an armed run; nothing is written.
TEST_F(TWindowBatch, StopButtonDisarms) {
  Get<QPushButton>("btnBatch")->click();
  ASSERT_TRUE(Window->Batch().Run().Armed());
  Get<QPushButton>("btnBatch")->click();
  EXPECT_FALSE(Window->Batch().Run().Armed());
  EXPECT_EQ(Get<QPushButton>("btnBatch")->text(), QStringLiteral("Начать серию"));
  EXPECT_EQ(Get<QLabel>("lBatchProgress")->text(), QStringLiteral("Записано 0 из 50"));
}

}  // namespace
}  // namespace kiren::test
