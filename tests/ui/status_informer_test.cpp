#include "ui/status_informer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "base/message_sink.h"

namespace kiren {
namespace {

// Records the boxes instead of showing them.
class TRecordingSink : public IMessageSink {
 public:
  void Info(const std::string& AText) override { Infos.push_back(AText); }
  void Warning(const std::string& AText) override { Warnings.push_back(AText); }
  bool Question(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> Infos;
  std::vector<std::string> Warnings;
};

// The main window's bar: panel 0 of width 100, panel 1 the last, filling the rest.
class StatusInformerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSink = std::make_shared<TRecordingSink>();
    FOldSink = SetMessageSink(FSink);
    FBar.resize(400, 24);
    FBar.AddPanel(100);
    FBar.AddPanel(50);
    FBar.OnDblClick = [this](const QPoint&) { ++FOldHandlerCalls; };
    FInformer = std::make_unique<TStatusInformer>(nullptr, &FBar, 1);
  }
  void TearDown() override {
    FInformer.reset();
    SetMessageSink(FOldSink);
  }

  QString PanelText() const { return FBar.Panel(1).Text; }
  QColor PixelInPanel(int APanel) {
    FBar.show();
    const QImage image = FBar.grab().toImage();
    const QRect rect = FBar.PanelRect(APanel);
    return image.pixelColor(rect.right() - 5, rect.center().y());
  }

  std::shared_ptr<TRecordingSink> FSink;
  std::shared_ptr<IMessageSink> FOldSink;
  TPanelStatusBar FBar;
  int FOldHandlerCalls = 0;
  std::unique_ptr<TStatusInformer> FInformer;
};

TEST(PanelTextOf, TrimsAndKeepsFirstLine) {
  struct TCase {
    const char* Text;
    const char* Shown;
  };
  const TCase cases[] = {
      {"Готово", "Готово"},
      {"  \tГотово \r\n", "Готово"},
      {"Первая строка\r\nВторая", "Первая строка..."},
      {"\r\nПосле пустой", "После пустой"},
      {"a\r\nb\r\nc", "a..."},
      {"", ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(PanelTextOf(QString::fromUtf8(c.Text)), QString::fromUtf8(c.Shown)) << c.Text;
}

TEST_F(StatusInformerTest, JournalKeepsTheLastTenLinesWithTimeAndAction) {
  for (int i = 1; i <= 11; ++i)
    FInformer->ShowInfo(QString("m%1").arg(i), QString());
  FInformer->ShowError(QStringLiteral("Готово"), QStringLiteral("Запись"), false);
  const QStringList& journal = FInformer->Journal();
  ASSERT_EQ(journal.size(), 10);
  EXPECT_TRUE(journal.first().endsWith(" - m3")) << journal.first().toStdString();
  EXPECT_TRUE(journal[8].endsWith(" - m11"));
  const QRegularExpression line(QStringLiteral("^\\d{1,2}:\\d\\d:\\d\\d - \\[Запись\\] Готово$"));
  EXPECT_TRUE(line.match(journal.last()).hasMatch()) << journal.last().toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{1,2}:\\d\\d:\\d\\d - m11$"))
                  .match(journal[8])
                  .hasMatch());
}

TEST_F(StatusInformerTest, TwoLineTextShowsFirstLineButJournalKeepsAll) {
  FInformer->ShowWarning(QStringLiteral("Нет ответа\r\nПовторите"), QString(), true);
  EXPECT_EQ(PanelText(), QStringLiteral("Нет ответа..."));
  EXPECT_TRUE(FInformer->Journal().last().endsWith(QStringLiteral("Нет ответа\r\nПовторите")));
}

TEST_F(StatusInformerTest, ColoursAndPanelStyleFollowTheKind) {
  struct TCase {
    const char* Name;
    std::function<void(TStatusInformer&)> Show;
    QColor Background;
    bool TimerStarted;
  };
  const TCase cases[] = {
      {"error", [](TStatusInformer& I) { I.ShowError("e", QString(), false); }, QColor(255, 0, 0),
       false},
      {"warning", [](TStatusInformer& I) { I.ShowWarning("w", QString(), false); },
       QColor(255, 255, 0), false},
      {"info", [](TStatusInformer& I) { I.ShowInfo("i", QString()); }, QColor(0, 255, 0), true},
  };
  for (const TCase& c : cases) {
    c.Show(*FInformer);
    EXPECT_EQ(FInformer->StatusColor(), c.Background) << c.Name;
    EXPECT_EQ(FBar.Panel(1).Style, TPanelStyle::OwnerDraw) << c.Name;
    EXPECT_EQ(FInformer->TimerActive(), c.TimerStarted) << c.Name;
    EXPECT_EQ(PixelInPanel(1), c.Background) << c.Name;
  }
  FInformer->Clear();
  EXPECT_EQ(PanelText(), QString());
  EXPECT_EQ(FBar.Panel(1).Style, TPanelStyle::Text);
  EXPECT_FALSE(FInformer->TimerActive());
  EXPECT_NE(PixelInPanel(1), QColor(0, 255, 0));
}

TEST_F(StatusInformerTest, ErrorWithoutTimerStaysUntilTheNextMessage) {
  FInformer->SetTimeout(50);
  FInformer->ShowError(QStringLiteral("Ошибка"), QString(), false);
  QTest::qWait(300);
  EXPECT_EQ(PanelText(), QStringLiteral("Ошибка"));
}

TEST_F(StatusInformerTest, InfoAfterErrorReplacesItAndRestartsTheTimeout) {
  FInformer->ShowError(QStringLiteral("Ошибка"), QString(), true);
  QElapsedTimer sinceError;
  sinceError.start();
  QTest::qWait(1000);
  FInformer->ShowInfo(QStringLiteral("Операция выполнена успешно"), QString());
  // Had the first timeout kept running, at most 3000 ms of it would be left (a coarse timer
  // may fire up to 5 % early, so a fresh one has 3800 ms or more).
  EXPECT_GE(sinceError.elapsed(), 1000);
  EXPECT_GT(FInformer->TimerRemaining(), 3500);
  EXPECT_EQ(PanelText(), QStringLiteral("Операция выполнена успешно"));
  EXPECT_EQ(FInformer->StatusColor(), QColor(0, 255, 0));

  FInformer->SetTimeout(100);
  FInformer->ShowInfo(QStringLiteral("Снова"), QString());
  QTRY_COMPARE_WITH_TIMEOUT(PanelText(), QString(), 5000);
  EXPECT_EQ(FBar.Panel(1).Style, TPanelStyle::Text);
}

TEST_F(StatusInformerTest, DoubleClickOpensJournalRightOfPanelZeroOnly) {
  FBar.show();
  FInformer->ShowInfo(QStringLiteral("первое"), QString());
  FInformer->ShowInfo(QStringLiteral("второе"), QStringLiteral("Чтение"));
  struct TCase {
    int X;
    bool Journal;
  };
  const TCase cases[] = {{5, false}, {99, false}, {100, true}, {149, true}, {390, true}};
  for (const TCase& c : cases) {
    FSink->Infos.clear();
    FOldHandlerCalls = 0;
    QTest::mouseDClick(&FBar, Qt::LeftButton, Qt::NoModifier, QPoint(c.X, 10));
    ASSERT_EQ(FSink->Infos.size(), c.Journal ? 1u : 0u) << c.X;
    EXPECT_EQ(FOldHandlerCalls, c.Journal ? 0 : 1) << c.X;
    if (c.Journal) {
      const QString shown = QString::fromStdString(FSink->Infos[0]);
      EXPECT_EQ(shown, FInformer->Journal().join("\r\n"));
      EXPECT_TRUE(shown.contains(QStringLiteral("первое\r\n")));
    }
  }
}

TEST_F(StatusInformerTest, ShowInWindowUsesBoxesAndLeavesThePanel) {
  FInformer->ShowInfo(QStringLiteral("в панели"), QString());
  FInformer->SetShowInWindow(true);
  EXPECT_EQ(PanelText(), QString());  // switching the mode clears the panel
  FInformer->ShowError(QStringLiteral("ошибка"), QString(), true);
  FInformer->ShowWarning(QStringLiteral("внимание"), QString(), true);
  FInformer->ShowInfo(QStringLiteral("готово"), QString());
  EXPECT_EQ(FSink->Warnings, std::vector<std::string>{"ошибка"});
  EXPECT_EQ(FSink->Infos, (std::vector<std::string>{"внимание", "готово"}));
  EXPECT_EQ(PanelText(), QString());
  EXPECT_EQ(FInformer->Journal().size(), 4);
}

TEST_F(StatusInformerTest, WithoutPanelOnlyTheJournalRecords) {
  FInformer->SetPanelIndex(-1);
  FInformer->ShowError(QStringLiteral("ошибка"), QString(), true);
  EXPECT_EQ(PanelText(), QString());
  EXPECT_EQ(FInformer->Journal().size(), 1);
}

TEST_F(StatusInformerTest, DetachingGivesBackTheOldHandlerAndDestructionKeepsTheText) {
  FInformer->ShowError(QStringLiteral("последнее"), QString(), true);
  FInformer.reset();
  EXPECT_EQ(PanelText(), QStringLiteral("последнее"));
  EXPECT_FALSE(FBar.OnDrawPanel);
  FBar.show();
  QTest::mouseDClick(&FBar, Qt::LeftButton, Qt::NoModifier, QPoint(200, 10));
  EXPECT_EQ(FOldHandlerCalls, 1);
  EXPECT_TRUE(FSink->Infos.empty());
}

TEST(StatusInformerLifetime, BarDestroyedFirstIsForgotten) {
  auto bar = std::make_unique<TPanelStatusBar>();
  bar->AddPanel(100);
  bar->AddPanel(50);
  TStatusInformer informer(nullptr, bar.get(), 1);
  bar.reset();
  informer.ShowError(QStringLiteral("после"), QString(), true);
  EXPECT_EQ(informer.StatusBar(), nullptr);
  EXPECT_EQ(informer.Journal().size(), 1);
}

TEST(StatusInformerLifetime, InformerOwnedByItsBarDiesWithIt) {
  auto* bar = new TPanelStatusBar();
  bar->AddPanel(100);
  bar->AddPanel(50);
  QPointer<TStatusInformer> informer = new TStatusInformer(bar, bar, 1);
  informer->ShowError(QStringLiteral("ошибка"), QString(), true);
  delete bar;  // the informer detaches from a bar that is already half gone
  EXPECT_TRUE(informer.isNull());
}

}  // namespace
}  // namespace kiren
