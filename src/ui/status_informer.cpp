#include "ui/status_informer.h"

#include <qdrawutil.h>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTimer>

#include "base/message_sink.h"
#include "base/text_utils.h"

namespace kiren {

namespace {

constexpr int kPanelBevel = 1;
constexpr int kPlainTextIndent = 3;
constexpr int kInformerTextIndent = 5;

bool IsBlankOrControl(QChar AChar) {
  return AChar.unicode() <= 0x20;
}

QString TrimBlanksAndControls(const QString& AText) {
  qsizetype first = 0;
  qsizetype last = AText.size();
  while (first < last && IsBlankOrControl(AText[first]))
    ++first;
  while (last > first && IsBlankOrControl(AText[last - 1]))
    --last;
  return AText.mid(first, last - first);
}

}  // namespace

QString PanelTextOf(const QString& AText) {
  QString text = TrimBlanksAndControls(AText);
  const qsizetype cr = text.indexOf(QLatin1Char('\r'));
  if (cr >= 0)
    text = text.left(cr) + QStringLiteral("...");
  return text;
}

// ---------------------------------------------------------------------------------------------
// TPanelStatusBar

TPanelStatusBar::TPanelStatusBar(QWidget* AParent) : QStatusBar(AParent) {
  setMinimumHeight(fontMetrics().height() + 6);
}

TPanelStatusBar::~TPanelStatusBar() {
  emit Destroying();
}

int TPanelStatusBar::AddPanel(int AWidth, const QString& AText) {
  FPanels.push_back(TStatusPanel{AText, AWidth, TPanelStyle::Text});
  update();
  return PanelCount() - 1;
}

void TPanelStatusBar::SetPanelText(int AIndex, const QString& AText) {
  FPanels.at(AIndex).Text = AText;
  update();
}

void TPanelStatusBar::SetPanelStyle(int AIndex, TPanelStyle AStyle) {
  FPanels.at(AIndex).Style = AStyle;
  update();
}

void TPanelStatusBar::SetPanelWidth(int AIndex, int AWidth) {
  FPanels.at(AIndex).Width = AWidth;
  update();
}

QRect TPanelStatusBar::PanelRect(int AIndex) const {
  int left = 0;
  for (int i = 0; i < AIndex; ++i)
    left += FPanels.at(i).Width;
  int width = FPanels.at(AIndex).Width;
  if (AIndex == PanelCount() - 1)
    width = std::max(width, this->width() - left);
  return QRect(left, 0, width, height());
}

int TPanelStatusBar::PanelAt(int AX) const {
  int right = 0;
  for (int i = 0; i < PanelCount(); ++i) {
    right += FPanels[i].Width;
    if (right > AX)
      return i;
  }
  return -1;
}

void TPanelStatusBar::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  for (int i = 0; i < PanelCount(); ++i) {
    const QRect outer = PanelRect(i);
    qDrawShadePanel(&canvas, outer, palette(), true, kPanelBevel);
    const QRect inner = outer.adjusted(kPanelBevel, kPanelBevel, -kPanelBevel, -kPanelBevel);
    const TStatusPanel& panel = FPanels[i];
    if (panel.Style == TPanelStyle::OwnerDraw && OnDrawPanel) {
      canvas.save();
      canvas.setClipRect(inner);
      OnDrawPanel(canvas, i, inner);
      canvas.restore();
    } else {
      canvas.setPen(palette().color(QPalette::WindowText));
      canvas.drawText(inner.adjusted(kPlainTextIndent, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      panel.Text);
    }
  }
}

void TPanelStatusBar::mouseDoubleClickEvent(QMouseEvent* AEvent) {
  if (OnDblClick)
    OnDblClick(AEvent->position().toPoint());
  QStatusBar::mouseDoubleClickEvent(AEvent);
}

// ---------------------------------------------------------------------------------------------
// TStatusInformer

const QColor TStatusInformer::kErrorColor(255, 0, 0);
const QColor TStatusInformer::kWarningColor(255, 255, 0);
const QColor TStatusInformer::kInfoColor(0, 255, 0);

TStatusInformer::TStatusInformer(QObject* AOwner, TPanelStatusBar* AStatusBar, int APanelIndex)
    : QObject(AOwner) {
  FTimer = new QTimer(this);
  FTimer->setSingleShot(true);
  FTimer->setInterval(kDefaultTimeout);
  connect(FTimer, &QTimer::timeout, this, &TStatusInformer::TimerTick);
  FTimer->start();
  FStatusCol = ButtonFace();
  FShowInWindow = false;
  SetStatusBar(AStatusBar);
  FPanelIndex = APanelIndex;
}

TStatusInformer::~TStatusInformer() {
  // Without the timer the detach below leaves the panel's last message in place.
  delete FTimer;
  FTimer = nullptr;
  SetStatusBar(nullptr);
}

void TStatusInformer::ShowError(const QString& AText, const QString& AAction, bool AUseTimer) {
  ShowMsg(AText, AAction, AUseTimer, kErrorColor);
}

void TStatusInformer::ShowWarning(const QString& AText, const QString& AAction, bool AUseTimer) {
  ShowMsg(AText, AAction, AUseTimer, kWarningColor);
}

void TStatusInformer::ShowInfo(const QString& AText, const QString& AAction) {
  ShowMsg(AText, AAction, true, kInfoColor);
}

void TStatusInformer::Clear() {
  if (FTimer)
    FTimer->stop();
  ClearPanel();
}

int TStatusInformer::Timeout() const {
  return FTimer ? FTimer->interval() : kDefaultTimeout;
}

void TStatusInformer::SetTimeout(int AMilliseconds) {
  if (FTimer)
    FTimer->setInterval(AMilliseconds);
}

void TStatusInformer::SetShowInWindow(bool AValue) {
  if (AValue == FShowInWindow)
    return;
  TimerTick();
  FShowInWindow = AValue;
}

bool TStatusInformer::TimerActive() const {
  return FTimer && FTimer->isActive();
}

int TStatusInformer::TimerRemaining() const {
  return FTimer ? FTimer->remainingTime() : -1;
}

void TStatusInformer::SetStatusBar(TPanelStatusBar* AStatusBar) {
  if (AStatusBar == FStatusBar)
    return;
  TimerTick();
  if (FStatusBar) {
    disconnect(FStatusBar, &TPanelStatusBar::Destroying, this, nullptr);
    FStatusBar->OnDrawPanel = nullptr;
    FStatusBar->OnDblClick = FOldStatusBarDblClick;
  }
  FStatusBar = AStatusBar;
  if (FStatusBar) {
    connect(FStatusBar, &TPanelStatusBar::Destroying, this, &TStatusInformer::ForgetStatusBar);
    FStatusBar->OnDrawPanel = [this](QPainter& ACanvas, int AIndex, const QRect& ARect) {
      DrawPanel(ACanvas, AIndex, ARect);
    };
    FOldStatusBarDblClick = FStatusBar->OnDblClick;
    FStatusBar->OnDblClick = [this](const QPoint& APos) { StatusBarDblClick(APos); };
  } else {
    FOldStatusBarDblClick = nullptr;
  }
}

void TStatusInformer::ForgetStatusBar() {
  // The bar is going; its handlers go with it.
  FStatusBar = nullptr;
  FOldStatusBarDblClick = nullptr;
}

void TStatusInformer::ShowMsg(const QString& AText, const QString& AAction, bool AUseTimer,
                              const QColor& AColor) {
  QString line = QString::fromStdString(NowTimeStr(false)) + QStringLiteral(" - ");
  if (!AAction.isEmpty())
    line += QLatin1Char('[') + AAction + QStringLiteral("] ");
  AddToJournal(line + AText);

  if (FShowInWindow) {
    if (TimerActive())
      TimerTick();
    if (AColor == kErrorColor)
      MsgWarning(AText.toStdString());
    else
      MsgInfo(AText.toStdString());
    return;
  }

  if (FTimer)
    FTimer->stop();
  FStatusCol = AColor;
  if (FStatusBar && FPanelIndex >= 0 && FPanelIndex < FStatusBar->PanelCount()) {
    FStatusBar->SetPanelStyle(FPanelIndex,
                              AColor == ButtonFace() ? TPanelStyle::Text : TPanelStyle::OwnerDraw);
    FStatusBar->SetPanelText(FPanelIndex, PanelTextOf(AText));
  }
  if (AUseTimer && FTimer)
    FTimer->start();
}

void TStatusInformer::AddToJournal(const QString& ALine) {
  FJrn.append(ALine);
  while (FJrn.size() > kJournalSize)
    FJrn.removeFirst();
}

void TStatusInformer::TimerTick() {
  if (!FTimer)
    return;
  FTimer->stop();
  ClearPanel();
}

void TStatusInformer::ClearPanel() {
  if (!FStatusBar || FPanelIndex < 0 || FPanelIndex >= FStatusBar->PanelCount())
    return;
  FStatusBar->SetPanelText(FPanelIndex, QString());
  FStatusBar->SetPanelStyle(FPanelIndex, TPanelStyle::Text);
}

void TStatusInformer::DrawPanel(QPainter& ACanvas, int APanelIndex, const QRect& ARect) const {
  const QString& text = FStatusBar->Panel(APanelIndex).Text;
  int x = 0;
  QColor background;
  if (APanelIndex == FPanelIndex) {
    x = ARect.left() + kInformerTextIndent;
    background = FStatusCol;
  } else {
    x = ARect.left() + (ARect.width() - ACanvas.fontMetrics().horizontalAdvance(text)) / 2;
    background = ButtonFace();
  }
  ACanvas.fillRect(ARect, background);
  ACanvas.setPen(background == kErrorColor ? QColor(Qt::white) : WindowText());
  ACanvas.drawText(QRect(x, ARect.top(), ARect.right() - x, ARect.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, text);
}

void TStatusInformer::StatusBarDblClick(const QPoint& APos) {
  const int clicked = FStatusBar->PanelAt(APos.x());
  const bool lastIsMine = FPanelIndex == FStatusBar->PanelCount() - 1;
  if (clicked == FPanelIndex || (clicked < 0 && lastIsMine)) {
    MsgInfo(FJrn.join(QStringLiteral("\r\n")).toStdString());
  } else if (FOldStatusBarDblClick) {
    FOldStatusBarDblClick(APos);
  }
}

QColor TStatusInformer::ButtonFace() const {
  return FStatusBar ? FStatusBar->palette().color(QPalette::Button)
                    : QPalette().color(QPalette::Button);
}

QColor TStatusInformer::WindowText() const {
  return FStatusBar ? FStatusBar->palette().color(QPalette::WindowText)
                    : QPalette().color(QPalette::WindowText);
}

}  // namespace kiren
