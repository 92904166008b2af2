#include "ui/btn_spin_edit.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>

namespace kiren {
namespace {

// An edit like beBlockNo: range 0 .. 252; Changed() records the text each time it runs.
class BtnSpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FEdit.resize(120, 26);
    FSpin = new TBtnSpinEdit(&FEdit, 0, 0, 252);
    QObject::connect(FSpin, &TBtnSpinEdit::Changed, [this] { FSeen << FEdit.text(); });
    FEdit.show();
  }

  void Leave() {
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(&FEdit, &focusOut);
  }

  QLineEdit FEdit;
  TBtnSpinEdit* FSpin = nullptr;  // owned by FEdit
  QStringList FSeen;
};

TEST_F(BtnSpinEditTest, AttachingWritesStartValueAndSetsUpTheEdit) {
  QLineEdit edit;
  edit.setText("x");
  int oldHandlerRuns = 0;
  QObject::connect(&edit, &QLineEdit::textChanged, [&] { ++oldHandlerRuns; });
  auto* spin = new TBtnSpinEdit(&edit, 4, 4, 10);
  EXPECT_EQ(edit.text(), "4");
  EXPECT_EQ(oldHandlerRuns, 1);
  EXPECT_EQ(edit.alignment(), Qt::AlignCenter);
  EXPECT_EQ(spin->ImageList().size(), static_cast<int>(TBtnSpinEdit::GlyphCount));
  EXPECT_TRUE(spin->LeftButton()->isVisibleTo(&edit));
  EXPECT_TRUE(spin->RightButton()->isVisibleTo(&edit));
  EXPECT_LT(spin->LeftButton()->geometry().right(), spin->RightButton()->geometry().left());
}

TEST_F(BtnSpinEditTest, TypedTextIsPulledIntoTheRange) {
  struct TCase {
    const char* Typed;
    const char* Shown;
  };
  const TCase cases[] = {{"300", "252"}, {"0300", "252"}, {"007", "7"}, {"252", "252"},
                         {"0", "0"},     {"-5", "0"},     {"", ""},     {"99999999999", "252"}};
  for (const TCase& c : cases) {
    FEdit.setText("1");
    FSeen.clear();
    FEdit.setText(c.Typed);
    EXPECT_EQ(FEdit.text(), c.Shown) << c.Typed;
    ASSERT_FALSE(FSeen.isEmpty()) << c.Typed;
    // The change handler never sees a value the adapter refused.
    for (const QString& seen : FSeen)
      EXPECT_EQ(seen, c.Shown) << c.Typed;
  }
}

TEST_F(BtnSpinEditTest, KeyboardAcceptsDigitsOnly) {
  FEdit.clear();
  FEdit.setFocus();
  QTest::keyClicks(&FEdit, "0a3-00");
  EXPECT_EQ(FEdit.text(), "252");
}

TEST_F(BtnSpinEditTest, ShortClickIsOneStepOnRelease) {
  struct TCase {
    int Start;
    bool Right;
    int Expected;
  };
  const TCase cases[] = {{5, false, 4}, {5, true, 6}, {0, false, 0}, {252, true, 252}};
  for (const TCase& c : cases) {
    FEdit.setText(QString::number(c.Start));
    QAbstractButton* button = c.Right ? FSpin->RightButton() : FSpin->LeftButton();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(FEdit.text(), QString::number(c.Start));
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(FEdit.text(), QString::number(c.Expected)) << c.Start << c.Right;
    EXPECT_FALSE(FSpin->Repeating());
  }
}

TEST_F(BtnSpinEditTest, HoldingRepeatsAfter500msThenEvery100msAndStopsAtTheBound) {
  FEdit.setText("250");
  QElapsedTimer held;
  QTest::mousePress(FSpin->RightButton(), Qt::LeftButton);
  held.start();
  QTRY_COMPARE_WITH_TIMEOUT(FEdit.text(), QString("251"), 5000);
  EXPECT_GE(held.elapsed(), 495);
  QTRY_COMPARE_WITH_TIMEOUT(FEdit.text(), QString("252"), 5000);
  EXPECT_GE(held.elapsed(), 595);
  QTRY_VERIFY_WITH_TIMEOUT(!FSpin->Repeating(), 5000);
  QTest::qWait(250);
  QTest::mouseRelease(FSpin->RightButton(), Qt::LeftButton);
  EXPECT_EQ(FEdit.text(), "252");
}

TEST_F(BtnSpinEditTest, ReleaseAfterRepeatAddsNoStep) {
  FEdit.setText("100");
  QTest::mousePress(FSpin->LeftButton(), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(FEdit.text(), QString("99"), 5000);
  const QString atRelease = FEdit.text();
  QTest::mouseRelease(FSpin->LeftButton(), Qt::LeftButton);
  EXPECT_EQ(FEdit.text(), atRelease);
  QTest::qWait(250);
  EXPECT_EQ(FEdit.text(), atRelease);
}

TEST_F(BtnSpinEditTest, LeavingWithoutANumberSetsTheMinimum) {
  QLineEdit sizeEdit;
  new TBtnSpinEdit(&sizeEdit, 4, 4, 10);
  struct TCase {
    Qt::FocusReason Reason;
    const char* Shown;
  };
  // Only moving to another control leaves the field; the window losing the activation does not.
  const TCase cases[] = {{Qt::TabFocusReason, "4"},
                         {Qt::MouseFocusReason, "4"},
                         {Qt::ActiveWindowFocusReason, ""},
                         {Qt::PopupFocusReason, ""}};
  for (const TCase& c : cases) {
    sizeEdit.setText("");
    EXPECT_EQ(sizeEdit.text(), "");  // stays empty while the operator edits
    QFocusEvent focusOut(QEvent::FocusOut, c.Reason);
    QApplication::sendEvent(&sizeEdit, &focusOut);
    EXPECT_EQ(sizeEdit.text(), c.Shown) << c.Reason;
  }

  FEdit.setText("17");
  Leave();
  EXPECT_EQ(FEdit.text(), "17");
}

TEST(BtnSpinEditLifetime, FocusedEditDestroyedRaisesNoChange) {
  auto* window = new QWidget();
  auto* edit = new QLineEdit(window);
  auto* spin = new TBtnSpinEdit(edit, 4, 4, 10);
  int changes = 0;
  QObject::connect(spin, &TBtnSpinEdit::Changed, [&] { ++changes; });
  window->show();
  window->activateWindow();
  edit->setFocus();
  QTRY_VERIFY_WITH_TIMEOUT(edit->hasFocus(), 5000);
  edit->clear();
  changes = 0;
  // The edit loses the focus inside its own destruction; its empty text must stay unfilled.
  delete window;
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace kiren
