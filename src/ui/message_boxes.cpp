#include "ui/message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <iostream>
#include <utility>

namespace kiren {

namespace {

// The box belongs to the active window, unless that is a modeless window of another one (such a
// window, like the About box, may close and destroy itself as soon as the box takes the
// activation); then it belongs to the window that owns it.
QWidget* BoxOwner() {
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) {
    owner = QApplication::activeWindow();
    while (owner && owner->parentWidget())
      owner = owner->parentWidget()->window();
  }
  return owner;
}

bool ShowQMessageBox(const TMsgBoxRequest& ARequest) {
  const bool question = ARequest.Kind == TMsgKind::Question;
  const QMessageBox::Icon icon =
      ARequest.Kind == TMsgKind::Info ? QMessageBox::Information : QMessageBox::Warning;
  const QMessageBox::StandardButtons buttons =
      question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
  // On the heap: should its owner still be destroyed while the box is open, the box goes with
  // it and counts as not confirmed.
  QPointer<QMessageBox> box =
      new QMessageBox(icon, ARequest.Caption, ARequest.Text, buttons, BoxOwner());
  box->setWindowModality(Qt::ApplicationModal);
  if (question) {
    box->button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box->button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box->setDefaultButton(QMessageBox::Yes);
  }
  box->raise();
  box->activateWindow();
  const int answer = box->exec();
  delete box;
  return answer == QMessageBox::Yes;
}

TMsgBoxDisplay& DisplaySlot() {
  static TMsgBoxDisplay display;
  return display;
}

bool OnGuiThread() {
  return QThread::currentThread() == qApp->thread();
}

}  // namespace

TMsgBoxDisplay SetMsgBoxDisplay(TMsgBoxDisplay ADisplay) {
  std::swap(DisplaySlot(), ADisplay);
  return ADisplay;
}

bool ShowMsgBox(TMsgKind AKind, const QString& ACaption, const QString& AText) {
  const TMsgBoxRequest request{AKind, ACaption, AText};
  const TMsgBoxDisplay& display = DisplaySlot();
  return display ? display(request) : ShowQMessageBox(request);
}

void TQtMessageSink::Info(const std::string& AText) {
  ShowOnGuiThread(TMsgKind::Info, kInfoCaption, AText);
}

void TQtMessageSink::Warning(const std::string& AText) {
  ShowOnGuiThread(TMsgKind::Warning, kWarningCaption, AText);
}

bool TQtMessageSink::Question(const std::string& ACaption, const std::string& AText) {
  return ShowOnGuiThread(TMsgKind::Question, ACaption, AText);
}

bool TQtMessageSink::ShowOnGuiThread(TMsgKind AKind, const std::string& ACaption,
                                     const std::string& AText) {
  if (!qApp) {
    // No window system (yet or any more): the text must not be lost.
    std::cerr << ACaption << ": " << AText << std::endl;
    return false;
  }
  const QString caption = QString::fromStdString(ACaption);
  const QString text = QString::fromStdString(AText);
  if (OnGuiThread())
    return ShowMsgBox(AKind, caption, text);
  bool answer = false;
  QMetaObject::invokeMethod(
      qApp, [&] { answer = ShowMsgBox(AKind, caption, text); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace kiren
