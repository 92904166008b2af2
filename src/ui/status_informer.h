#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPainter;
class QTimer;

namespace kiren {

enum class TPanelStyle { Text, OwnerDraw };

struct TStatusPanel {
  QString Text;
  int Width = 50;
  TPanelStyle Style = TPanelStyle::Text;
};

// A status bar made of panels laid out left to right by their widths; the last panel stretches
// to the right edge. Owner-drawn panels are painted by OnDrawPanel. A double-click anywhere on
// the bar runs OnDblClick with the mouse position in the bar's coordinates.
class TPanelStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  using TDrawPanelHandler =
      std::function<void(QPainter& ACanvas, int APanelIndex, const QRect& ARect)>;
  using TDblClickHandler = std::function<void(const QPoint& APos)>;

  explicit TPanelStatusBar(QWidget* AParent = nullptr);
  ~TPanelStatusBar() override;

  // Adds a panel of the given nominal width; returns its index.
  int AddPanel(int AWidth, const QString& AText = QString());
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  const TStatusPanel& Panel(int AIndex) const { return FPanels.at(AIndex); }
  void SetPanelText(int AIndex, const QString& AText);
  void SetPanelStyle(int AIndex, TPanelStyle AStyle);
  void SetPanelWidth(int AIndex, int AWidth);
  // The rectangle a panel occupies in the bar (the last one reaches the right edge).
  QRect PanelRect(int AIndex) const;
  // The panel whose nominal right edge first lies right of AX; -1 beyond all of them.
  int PanelAt(int AX) const;

  TDrawPanelHandler OnDrawPanel;
  TDblClickHandler OnDblClick;

 signals:
  // Emitted first thing in the destructor, while the bar and its handlers are still whole;
  // objects that hold the bar forget it here (they may be its children, destroyed after it).
  void Destroying();

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void mouseDoubleClickEvent(QMouseEvent* AEvent) override;

 private:
  std::vector<TStatusPanel> FPanels;
};

// Shows short error, warning and information messages on a coloured background in one panel
// of a TPanelStatusBar, clears them after Timeout, and keeps a journal of the last ten
// messages that a double-click on its panel shows. With ShowInWindow every message goes to a
// modal box instead. Used on the GUI thread only.
class TStatusInformer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kJournalSize = 10;
  static constexpr int kDefaultTimeout = 4000;

  TStatusInformer(QObject* AOwner, TPanelStatusBar* AStatusBar, int APanelIndex);
  ~TStatusInformer() override;

  void ShowError(const QString& AText, const QString& AAction, bool AUseTimer);
  void ShowWarning(const QString& AText, const QString& AAction, bool AUseTimer);
  void ShowInfo(const QString& AText, const QString& AAction);
  void Clear();

  TPanelStatusBar* StatusBar() const { return FStatusBar; }
  void SetStatusBar(TPanelStatusBar* AStatusBar);
  int PanelIndex() const { return FPanelIndex; }
  void SetPanelIndex(int AIndex) { FPanelIndex = AIndex; }
  int Timeout() const;
  void SetTimeout(int AMilliseconds);
  bool ShowInWindow() const { return FShowInWindow; }
  void SetShowInWindow(bool AValue);

  // Oldest line first.
  const QStringList& Journal() const { return FJrn; }
  QColor StatusColor() const { return FStatusCol; }
  bool TimerActive() const;
  int TimerRemaining() const;

  static const QColor kErrorColor;
  static const QColor kWarningColor;
  static const QColor kInfoColor;

 private:
  void ShowMsg(const QString& AText, const QString& AAction, bool AUseTimer, const QColor& AColor);
  void AddToJournal(const QString& ALine);
  void TimerTick();
  void ClearPanel();
  void DrawPanel(QPainter& ACanvas, int APanelIndex, const QRect& ARect) const;
  void StatusBarDblClick(const QPoint& APos);
  void ForgetStatusBar();
  QColor ButtonFace() const;
  QColor WindowText() const;

  QPointer<TPanelStatusBar> FStatusBar;
  QTimer* FTimer = nullptr;
  int FPanelIndex = -1;
  QColor FStatusCol;
  bool FShowInWindow = false;
  QStringList FJrn;
  TPanelStatusBar::TDblClickHandler FOldStatusBarDblClick;
};

// The panel text of a message: blanks and control characters trimmed, and only the first
// line followed by "..." when the text has several.
QString PanelTextOf(const QString& AText);

}  // namespace kiren
