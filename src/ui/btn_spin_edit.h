#pragma once

#include <QLineEdit>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <optional>

class QAbstractButton;
class QTimer;

namespace kiren {

// Turns a QLineEdit into a bounded integer spinner: a left button counts down, a right button
// counts up, holding a button repeats (first after 500 ms, then every 100 ms), typed numbers
// are pulled into the range and a field left without a number gets the minimum.
//
// The adapter is a child of the edit and dies with it. Handlers that must see only values the
// adapter let through connect to Changed() instead of the edit's textChanged(): Changed() runs
// after every accepted change, including the ones the adapter makes itself.
class TBtnSpinEdit : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFirstRepeatMs = 500;
  static constexpr int kRepeatMs = 100;

  // Glyph indices in ImageList(): left button normal, disabled, hot, pressed; then the right.
  enum TGlyph {
    LeftNormal,
    LeftDisabled,
    LeftHot,
    LeftPressed,
    RightNormal,
    RightDisabled,
    RightHot,
    RightPressed,
    GlyphCount
  };

  // Writes AStartValue into AEdit (before attaching, so only the edit's own handlers see it).
  TBtnSpinEdit(QLineEdit* AEdit, int AStartValue, int AMinValue, int AMaxValue);
  ~TBtnSpinEdit() override;

  QLineEdit* Edit() const { return FEdit; }
  int Min() const { return FMin; }
  int Max() const { return FMax; }
  QAbstractButton* LeftButton() const { return FLeftButton; }
  QAbstractButton* RightButton() const { return FRightButton; }
  const QList<QPixmap>& ImageList() const { return FImgList; }
  bool Repeating() const;

 signals:
  // The edit's text changed and the adapter has handled it.
  void Changed();

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void Attach();
  void BuildGlyphs();
  void PlaceButtons();
  void Step();
  void StartRepeat(int AStep);
  void EndRepeat();
  void EditChange();
  void EditExit();
  std::optional<long long> Value() const;

  QLineEdit* FEdit = nullptr;  // the parent: it outlives the adapter
  QList<QPixmap> FImgList;
  QTimer* FTimer = nullptr;
  int FStep = 0;
  int FMin = 0;
  int FMax = 0;
  QAbstractButton* FLeftButton = nullptr;
  QAbstractButton* FRightButton = nullptr;
};

}  // namespace kiren
