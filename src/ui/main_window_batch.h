// The "Серия" group of the card-code tab: a batch run of card-code writes armed in the window.
// The operator sets how many cards (or until stopped) and starts; each new card placed then gets
// the next code of the journal series. The group shows the progress, the last UID and code and
// why no card is written while the journal is away.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "operator/batch.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace kiren {

class TfMain;

class TBatchPanel : public QObject {
  Q_OBJECT

 public:
  // Builds the group into the card-code tab of AWindow.
  explicit TBatchPanel(TfMain& AWindow);
  ~TBatchPanel() override;

  // The card of every poll (from the window's ShowCardInfo).
  void OnCard(const TCardInfo& ACard);
  // The worker ended: the run stops.
  void ConnectionEnded();

  // Arms a run (the start button's work); false with the reason shown when it cannot start.
  bool Start();
  void Stop();
  const op::TBatchRun& Run() const { return *FRun; }

  QGroupBox* Box() const { return FBox; }
  QSpinBox* CountSpin() const { return FCount; }
  QCheckBox* UntilStoppedBox() const { return FUntilStopped; }
  QLineEdit* SeriesEdit() const { return FSeries; }
  QPushButton* StartButton() const { return FStart; }
  QLabel* ProgressLabel() const { return FProgressText; }
  QLabel* LastLabel() const { return FLast; }
  QLabel* ProblemLabel() const { return FProblem; }
  QProgressBar* ProgressBar() const { return FBar; }

 private:
  void StartStopClick();
  void OnEvent(const op::TBatchCardEvent& AEvent);
  void ShowProgress();
  void Finish();

  TfMain& FWindow;
  std::unique_ptr<op::TBatchRun> FRun;
  QGroupBox* FBox = nullptr;
  QSpinBox* FCount = nullptr;
  QCheckBox* FUntilStopped = nullptr;
  QLineEdit* FSeries = nullptr;
  QPushButton* FStart = nullptr;
  QLabel* FProgressText = nullptr;
  QLabel* FLast = nullptr;
  QLabel* FProblem = nullptr;
  QProgressBar* FBar = nullptr;
  bool FRunning = false;
};

}  // namespace kiren
