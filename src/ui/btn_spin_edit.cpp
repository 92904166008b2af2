#include "ui/btn_spin_edit.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPolygon>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <algorithm>

namespace kiren {

namespace {

constexpr int kGlyphInset = 4;
constexpr int kMinGlyphSize = 8;
const QColor kGlyphFrame(128, 128, 128);

enum class TArrow { Left, Right };
enum class TGlyphState { Normal, Disabled, Hot, Pressed };

void DrawArrow(QPainter& ACanvas, TArrow ADirection, QPoint AAt, int ASize, const QColor& AColor) {
  // A filled triangle in the square of side ASize whose top-left corner is AAt.
  const int half = ASize / 2;
  QPolygon arrow;
  if (ADirection == TArrow::Left)
    arrow << QPoint(AAt.x() + ASize, AAt.y()) << QPoint(AAt.x() + ASize, AAt.y() + 2 * half)
          << QPoint(AAt.x(), AAt.y() + half);
  else
    arrow << QPoint(AAt.x(), AAt.y()) << QPoint(AAt.x(), AAt.y() + 2 * half)
          << QPoint(AAt.x() + ASize, AAt.y() + half);
  ACanvas.setPen(AColor);
  ACanvas.setBrush(AColor);
  ACanvas.drawPolygon(arrow);
}

QPixmap MakeGlyph(int ASize, TArrow ADirection, TGlyphState AState, const QPalette& APalette) {
  QPixmap glyph(ASize, ASize);
  glyph.fill(Qt::transparent);
  QPainter canvas(&glyph);
  const QRect frame(0, 0, ASize - 1, ASize - 1);
  if (AState == TGlyphState::Pressed)
    canvas.fillRect(frame, APalette.color(QPalette::Button));
  if (AState == TGlyphState::Hot || AState == TGlyphState::Pressed) {
    canvas.setPen(kGlyphFrame);
    canvas.drawRect(frame);
  }
  const QColor color =
      AState == TGlyphState::Disabled ? APalette.color(QPalette::Dark) : QColor(Qt::black);
  // The arrow sits at (s/3, s/5), one third of the glyph in size, nudged to the middle.
  const int size = std::max(ASize / 3, 3);
  DrawArrow(canvas, ADirection, QPoint(ASize / 3, (ASize - size) / 2), size, color);
  return glyph;
}

// A side button that paints one of four glyphs of the adapter's image list by its state.
class TSideButton : public QAbstractButton {
 public:
  TSideButton(QWidget* AParent, const QList<QPixmap>& AImages, int AFirstGlyph)
      : QAbstractButton(AParent), FImages(AImages), FFirstGlyph(AFirstGlyph) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    int offset = 0;
    if (!isEnabled())
      offset = 1;
    else if (isDown())
      offset = 3;
    else if (underMouse())
      offset = 2;
    const int index = FFirstGlyph + offset;
    if (index >= FImages.size())
      return;
    QPainter canvas(this);
    canvas.drawPixmap(0, 0, FImages[index]);
  }

 private:
  const QList<QPixmap>& FImages;
  int FFirstGlyph;
};

// Leaving the edit means the focus went to another control of the window. The focus also goes
// when the whole window loses the activation (another program, a popup, the window closing or
// being destroyed); the operator has not left the field then, and the window's handlers must
// not run while it is torn down.
bool LeftForAnotherControl(QEvent* AEvent) {
  const Qt::FocusReason reason = static_cast<QFocusEvent*>(AEvent)->reason();
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

}  // namespace

TBtnSpinEdit::TBtnSpinEdit(QLineEdit* AEdit, int AStartValue, int AMinValue, int AMaxValue)
    : QObject(AEdit), FEdit(AEdit), FMin(AMinValue), FMax(AMaxValue) {
  FEdit->setText(QString::number(AStartValue));
  FTimer = new QTimer(this);
  FTimer->setTimerType(Qt::PreciseTimer);
  FTimer->setInterval(kRepeatMs);
  connect(FTimer, &QTimer::timeout, this, &TBtnSpinEdit::Step);
  Attach();
}

TBtnSpinEdit::~TBtnSpinEdit() {
  // The buttons paint from FImgList, so they go first when the adapter is freed on its own.
  delete FLeftButton;
  delete FRightButton;
}

bool TBtnSpinEdit::Repeating() const {
  return FTimer->isActive();
}

void TBtnSpinEdit::Attach() {
  FEdit->setAlignment(Qt::AlignCenter);
  FEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
  connect(FEdit, &QLineEdit::textChanged, this, &TBtnSpinEdit::EditChange);
  FEdit->installEventFilter(this);

  FLeftButton = new TSideButton(FEdit, FImgList, LeftNormal);
  FRightButton = new TSideButton(FEdit, FImgList, RightNormal);
  BuildGlyphs();
  PlaceButtons();
  FLeftButton->show();
  FRightButton->show();
  connect(FLeftButton, &QAbstractButton::pressed, this, [this] { StartRepeat(-1); });
  connect(FRightButton, &QAbstractButton::pressed, this, [this] { StartRepeat(+1); });
  connect(FLeftButton, &QAbstractButton::released, this, &TBtnSpinEdit::EndRepeat);
  connect(FRightButton, &QAbstractButton::released, this, &TBtnSpinEdit::EndRepeat);
}

void TBtnSpinEdit::BuildGlyphs() {
  // A widget not yet laid out may be far taller than it will be shown.
  const int height = std::min(FEdit->height(), FEdit->sizeHint().height());
  const int size = std::max(height - kGlyphInset, kMinGlyphSize);
  if (!FImgList.isEmpty() && FImgList.first().width() == size)
    return;
  FImgList.clear();
  for (TArrow arrow : {TArrow::Left, TArrow::Right})
    for (TGlyphState state :
         {TGlyphState::Normal, TGlyphState::Disabled, TGlyphState::Hot, TGlyphState::Pressed})
      FImgList.append(MakeGlyph(size, arrow, state, FEdit->palette()));
}

void TBtnSpinEdit::PlaceButtons() {
  const int size = FImgList.first().width();
  const int top = (FEdit->height() - size) / 2;
  FLeftButton->setGeometry(kGlyphInset / 2, top, size, size);
  FRightButton->setGeometry(FEdit->width() - kGlyphInset / 2 - size, top, size, size);
  FEdit->setTextMargins(size, 0, size, 0);
  FLeftButton->update();
  FRightButton->update();
}

bool TBtnSpinEdit::eventFilter(QObject* AWatched, QEvent* AEvent) {
  // While the edit is being destroyed it is no QLineEdit any more, yet still receives events;
  // the adapter then leaves it alone.
  if (AWatched != FEdit || qobject_cast<QLineEdit*>(AWatched) == nullptr)
    return QObject::eventFilter(AWatched, AEvent);
  if (AEvent->type() == QEvent::Resize) {
    BuildGlyphs();
    PlaceButtons();
  } else if (AEvent->type() == QEvent::FocusOut && LeftForAnotherControl(AEvent)) {
    EditExit();
  }
  return QObject::eventFilter(AWatched, AEvent);
}

std::optional<long long> TBtnSpinEdit::Value() const {
  const QString text = FEdit->text();
  bool ok = false;
  const long long value = text.toLongLong(&ok);
  if (ok)
    return value;
  // A run of digits too long for a number is certainly above the range.
  static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
  if (digits.match(text).hasMatch())
    return static_cast<long long>(FMax) + 1;
  return std::nullopt;
}

void TBtnSpinEdit::Step() {
  const std::optional<long long> value = Value();
  if (!value) {
    FTimer->stop();
    return;
  }
  long long next = *value + FStep;
  if (next < FMin || next > FMax) {
    FTimer->stop();
    next = next < FMin ? FMin : FMax;
  }
  const QString text = QString::number(next);
  if (text != FEdit->text())
    FEdit->setText(text);
  if (FTimer->interval() == kFirstRepeatMs)
    FTimer->setInterval(kRepeatMs);
}

void TBtnSpinEdit::StartRepeat(int AStep) {
  FStep = AStep;
  FTimer->setInterval(kFirstRepeatMs);
  FTimer->start();
}

void TBtnSpinEdit::EndRepeat() {
  FTimer->stop();
  if (FTimer->interval() == kFirstRepeatMs)
    Step();
}

void TBtnSpinEdit::EditChange() {
  if (!FTimer->isActive()) {
    FStep = 0;
    Step();
  }
  emit Changed();
}

void TBtnSpinEdit::EditExit() {
  if (Value())
    return;
  FEdit->setText(QString::number(FMin));
}

}  // namespace kiren
