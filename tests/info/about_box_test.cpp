#include "info/about_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

namespace kiren {
namespace {

const QRegularExpression kBuildLines(
    QStringLiteral("^Build: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d \\+0300\\n"
                   "Commit: (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d \\+0300|нет данных)\\n"
                   "Revision: (\\d+|нет данных)\\n"
                   "Hash: ([0-9a-f]{1,12}|нет данных)$"));

void RunDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { FOwner.setGeometry(100, 100, 600, 400); }
  void TearDown() override {
    if (FBox)
      FBox->close();
    RunDeferredDeletes();
  }

  TAboutBox* Show(const QString& AHeader = QString(), const QString& AFooter = QString()) {
    FBox = ShowAboutBox(&FOwner, AHeader, QString(), AFooter);
    return FBox;
  }

  QWidget FOwner;
  QPointer<TAboutBox> FBox;
};

TEST(SplitProductName, FirstBracketGoesToASecondLine) {
  struct TCase {
    const char* Name;
    const char* Shown;
  };
  const TCase cases[] = {
      {"Настройка Кирен-М1", "Настройка Кирен-М1"},
      {"Настройка (полная)", "Настройка\n(полная)"},
      {"А (б) (в)", "А\n(б) (в)"},
      {"Без(пробела)", "Без(пробела)"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(SplitProductName(QString::fromUtf8(c.Name)), QString::fromUtf8(c.Shown)) << c.Name;
}

TEST_F(AboutBoxTest, ShowsProductVersionCopyrightAndLinks) {
  TAboutBox* box = Show();
  EXPECT_EQ(box->windowTitle(), QStringLiteral("О программе"));
  EXPECT_EQ(box->ProductName->text(), QStringLiteral("Настройка Кирен-М1"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Версия: \\d+\\.\\d+\\.\\d+$"))
                  .match(box->Version->text())
                  .hasMatch())
      << box->Version->text().toStdString();
  EXPECT_EQ(box->Version->y(), box->ProductName->y() + box->ProductName->height() + 11);
  EXPECT_FALSE(box->Copyright->text().isEmpty());
  EXPECT_EQ(box->Copyright->x(), (box->Panel1->width() - box->Copyright->width()) / 2);
  EXPECT_EQ(box->lSite->text(), QStringLiteral("Сайт:"));
  EXPECT_EQ(box->lEmail->text(), QStringLiteral("E-Mail:"));
  EXPECT_TRUE(box->Label2->text().contains(QStringLiteral("href=\"http")));
  EXPECT_TRUE(box->Label3->text().contains(QStringLiteral("href=\"mailto:")));
  EXPECT_EQ(box->sbCopy->toolTip(), QStringLiteral("Скопировать информацию о сборке"));
  EXPECT_FALSE(box->ProgramIcon->pixmap().isNull());
  EXPECT_TRUE(box->isVisible());
  EXPECT_FALSE(box->isModal());
  EXPECT_LE((box->geometry().center() - FOwner.geometry().center()).manhattanLength(), 10);
}

TEST_F(AboutBoxTest, MemoHoldsTheBuildLinesAndCopyTakesThemFromBuild) {
  TAboutBox* box = Show();
  EXPECT_TRUE(kBuildLines.match(box->mCvsInfo->toPlainText()).hasMatch())
      << box->mCvsInfo->toPlainText().toStdString();
  box->sbCopyClick();
  EXPECT_EQ(QApplication::clipboard()->text(), box->mCvsInfo->toPlainText());

  TAboutBox* framed = ShowAboutBox(&FOwner, "Заголовок", QString(), "Подвал");
  const QString text = framed->mCvsInfo->toPlainText();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Заголовок\nBuild: ")));
  EXPECT_TRUE(text.endsWith(QStringLiteral("\nПодвал")));
  framed->PaintBox1Click();
  QTest::mouseClick(framed->sbCopy, Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), text.mid(text.indexOf("Build")));
  framed->close();
}

TEST_F(AboutBoxTest, MemoToggleResizesTheWindowByTheMemoHeight) {
  TAboutBox* box = Show();
  EXPECT_TRUE(box->mCvsInfo->isHidden());
  EXPECT_TRUE(box->sbCopy->isHidden());
  EXPECT_EQ(box->Panel1->height(), box->mCvsInfo->y() + 8);
  const int collapsed = box->height();
  const QRect okCollapsed = box->OKButton->geometry();

  QTest::mouseClick(box->PaintBox1, Qt::LeftButton);
  EXPECT_FALSE(box->mCvsInfo->isHidden());
  EXPECT_FALSE(box->sbCopy->isHidden());
  EXPECT_EQ(box->height(), collapsed + box->mCvsInfo->height());
  EXPECT_EQ(box->Panel1->geometry().bottom(), 8 + box->mCvsInfo->geometry().bottom() + 8);
  EXPECT_EQ(box->OKButton->y(), okCollapsed.y() + box->mCvsInfo->height());
  // Four lines fit without a scroll bar.
  EXPECT_GE(box->mCvsInfo->height(), 4 * box->mCvsInfo->fontMetrics().lineSpacing());

  QTest::mouseClick(box->PaintBox1, Qt::LeftButton);
  EXPECT_EQ(box->height(), collapsed);
}

// The memo takes the height its text needs: no scroll bar while the text fits, and no more
// than a line of room to spare; a line too long for the width wraps and is counted.
TEST_F(AboutBoxTest, MemoFitsItsTextWithoutAScrollBar) {
  const QString longLine = QStringLiteral("Сборка для проверки ").repeated(6);
  const struct {
    const char* Name;
    QString Header, Footer;
  } cases[] = {
      {"build lines only", {}, {}},
      {"header and footer", QStringLiteral("Заголовок"), QStringLiteral("Подвал\nещё строка")},
      {"a line that wraps", longLine, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TAboutBox* box = Show(c.Header, c.Footer);
    box->PaintBox1Click();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QCoreApplication::processEvents();
    QPlainTextEdit* memo = box->mCvsInfo;
    EXPECT_FALSE(memo->verticalScrollBar()->isVisible());
    EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(memo->horizontalScrollBar()->isVisible());
    const int lines = memo->document()->lineCount();
    EXPECT_LE(memo->viewport()->height(),
              (lines + 1) * memo->fontMetrics().lineSpacing() +
                  2 * static_cast<int>(memo->document()->documentMargin()));
    box->close();
    RunDeferredDeletes();
  }
}

TEST_F(AboutBoxTest, EscapeOkAndDeactivationCloseAndDestroyTheBox) {
  struct TCase {
    const char* Name;
    std::function<void(TAboutBox*)> Close;
  };
  const TCase cases[] = {
      {"escape", [](TAboutBox* B) { QTest::keyClick(B, Qt::Key_Escape); }},
      {"escape in the memo",
       [](TAboutBox* B) {
         B->PaintBox1Click();
         QTest::keyClick(B->mCvsInfo, Qt::Key_Escape);
       }},
      {"ok", [](TAboutBox* B) { QTest::mouseClick(B->OKButton, Qt::LeftButton); }},
      {"deactivate",
       [](TAboutBox* B) {
         QEvent deactivate(QEvent::WindowDeactivate);
         QApplication::sendEvent(B, &deactivate);
       }},
  };
  for (const TCase& c : cases) {
    QPointer<TAboutBox> box = Show();
    c.Close(box);
    RunDeferredDeletes();
    EXPECT_TRUE(box.isNull()) << c.Name;
  }
}

}  // namespace
}  // namespace kiren
