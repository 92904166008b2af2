#include "ui/message_boxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

namespace kiren {
namespace {

// Installs an automatic display for one test and restores the one before.
class TAutoDisplay {
 public:
  explicit TAutoDisplay(TMsgBoxDisplay ADisplay) : FOld(SetMsgBoxDisplay(std::move(ADisplay))) {}
  ~TAutoDisplay() { SetMsgBoxDisplay(FOld); }

 private:
  TMsgBoxDisplay FOld;
};

TEST(QtMessageSink, CaptionsAndKindsOnTheGuiThread) {
  std::vector<TMsgBoxRequest> shown;
  TAutoDisplay display([&](const TMsgBoxRequest& R) {
    shown.push_back(R);
    return true;
  });
  TQtMessageSink sink;
  sink.Info("инфо");
  sink.Warning("внимание");
  EXPECT_TRUE(sink.Question("Вопрос", "Продолжить?"));
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].Kind, TMsgKind::Info);
  EXPECT_EQ(shown[0].Caption, QStringLiteral("Информация"));
  EXPECT_EQ(shown[0].Text, QStringLiteral("инфо"));
  EXPECT_EQ(shown[1].Kind, TMsgKind::Warning);
  EXPECT_EQ(shown[1].Caption, QStringLiteral("Предупреждение"));
  EXPECT_EQ(shown[2].Kind, TMsgKind::Question);
  EXPECT_EQ(shown[2].Caption, QStringLiteral("Вопрос"));
  EXPECT_EQ(shown[2].Text, QStringLiteral("Продолжить?"));
}

TEST(QtMessageSink, WorkerThreadBlocksUntilTheBoxIsClosed) {
  std::atomic<bool> returned{false};
  bool shownOnGuiThread = false;
  bool workerWaitedWhileShown = false;
  TAutoDisplay display([&](const TMsgBoxRequest&) {
    shownOnGuiThread = QThread::currentThread() == qApp->thread();
    QTest::qWait(200);  // the box stays open a while
    workerWaitedWhileShown = !returned;
    return true;
  });
  TQtMessageSink sink;
  bool answer = false;
  std::thread worker([&] {
    answer = sink.Question("Вопрос", "Да?");
    returned = true;
  });
  QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
  worker.join();
  EXPECT_TRUE(shownOnGuiThread);
  EXPECT_TRUE(workerWaitedWhileShown);
  EXPECT_TRUE(answer);
}

// The real box: icon, caption, Russian button texts and the answer.
TEST(ShowMsgBox, QuestionBoxHasYesNoInRussian) {
  struct TCase {
    const char* Click;
    bool Answer;
  };
  for (const TCase c : {TCase{"Да", true}, TCase{"Нет", false}}) {
    QStringList buttons;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      caption = box->windowTitle();
      icon = box->icon();
      modality = box->windowModality();
      QAbstractButton* toClick = nullptr;
      for (QAbstractButton* b : box->buttons()) {
        buttons << b->text();
        if (b->text() == QString::fromUtf8(c.Click))
          toClick = b;
      }
      if (toClick)
        toClick->click();
    });
    const bool answer = ShowMsgBox(TMsgKind::Question, "Вопрос", "Записать?");
    EXPECT_EQ(answer, c.Answer) << c.Click;
    EXPECT_EQ(caption, QStringLiteral("Вопрос"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(modality, Qt::ApplicationModal);
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"Да", "Нет"}));
  }
}

TEST(ShowMsgBox, InformationBoxHasOneOkButton) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttonCount = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    buttonCount = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  ShowMsgBox(TMsgKind::Info, "Информация", "текст");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(buttonCount, 1);
}

// A modeless window over the main one that closes and destroys itself when it loses the
// activation, as the About box does.
class TSelfClosingPopup : public QDialog {
 public:
  explicit TSelfClosingPopup(QWidget* AOwner) : QDialog(AOwner) {
    setAttribute(Qt::WA_DeleteOnClose);
  }

 protected:
  bool event(QEvent* AEvent) override {
    if (AEvent->type() == QEvent::WindowDeactivate && isVisible())
      close();
    return QDialog::event(AEvent);
  }
};

TEST(ShowMsgBox, BoxOverAClosingPopupBelongsToTheMainWindow) {
  QWidget mainWindow;
  mainWindow.show();
  QPointer<TSelfClosingPopup> popup = new TSelfClosingPopup(&mainWindow);
  popup->show();
  popup->activateWindow();
  QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == popup, 5000);
  QWidget* owner = nullptr;
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    owner = box->parentWidget();
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(ShowMsgBox(TMsgKind::Question, "Вопрос", "Записать?"));
  EXPECT_EQ(owner, &mainWindow);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  delete popup;
}

}  // namespace
}  // namespace kiren
