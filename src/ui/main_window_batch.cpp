#include "ui/main_window_batch.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include "journal/journal.h"
#include "operator/input.h"
#include "operator/params.h"
#include "ui/main_window.h"
#include "ui/status_informer.h"
#include "ui_main_window.h"
#include "worker/th.h"

namespace kiren {

namespace {

QString Q(const std::string& AText) {
  return QString::fromStdString(AText);
}

const QString kStartText = QStringLiteral("Начать серию");
const QString kStopText = QStringLiteral("Остановить");
const QString kRedStyle = QStringLiteral("color: #c00000;");

// The first code of a new series: the code field's bytes as a number.
std::uint64_t CodeNumber(const Bytes& ACode) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : ACode)
    value = (value << 8) | byte;
  return value;
}

}  // namespace

TBatchPanel::TBatchPanel(TfMain& AWindow) : QObject(&AWindow), FWindow(AWindow) {
  FRun = std::make_unique<op::TBatchRun>(
      AWindow.Issuing(),
      [this](std::unique_ptr<TThAction>& A) {
        return FWindow.FTh != nullptr && FWindow.FTh->TryExec(A) && !A;
      },
      [this](const op::TBatchCardEvent& E) { OnEvent(E); });

  FBox = new QGroupBox(QStringLiteral("Серия"), AWindow.ui->tsEmission);
  FBox->setObjectName(QStringLiteral("gbBatch"));
  auto* grid = new QGridLayout(FBox);
  grid->setContentsMargins(6, 3, 6, 6);
  grid->setVerticalSpacing(3);

  auto* countRow = new QHBoxLayout();
  countRow->addWidget(new QLabel(QStringLiteral("Карт:"), FBox));
  FCount = new QSpinBox(FBox);
  FCount->setObjectName(QStringLiteral("seBatchCount"));
  FCount->setRange(1, 1000000);
  FCount->setValue(50);
  countRow->addWidget(FCount);
  FUntilStopped = new QCheckBox(QStringLiteral("до остановки"), FBox);
  FUntilStopped->setObjectName(QStringLiteral("chBatchUntilStopped"));
  countRow->addWidget(FUntilStopped);
  countRow->addStretch(1);
  FStart = new QPushButton(kStartText, FBox);
  FStart->setObjectName(QStringLiteral("btnBatch"));
  countRow->addWidget(FStart);
  grid->addLayout(countRow, 0, 0, 1, 2);

  auto* seriesRow = new QHBoxLayout();
  seriesRow->addWidget(new QLabel(QStringLiteral("Серия журнала:"), FBox));
  FSeries = new QLineEdit(QStringLiteral("main"), FBox);
  FSeries->setObjectName(QStringLiteral("edtBatchSeries"));
  FSeries->setMaximumWidth(120);
  seriesRow->addWidget(FSeries);
  seriesRow->addStretch(1);
  grid->addLayout(seriesRow, 1, 0, 1, 2);

  FProgressText = new QLabel(FBox);
  FProgressText->setObjectName(QStringLiteral("lBatchProgress"));
  grid->addWidget(FProgressText, 2, 0, 1, 2);
  FLast = new QLabel(FBox);
  FLast->setObjectName(QStringLiteral("lBatchLast"));
  grid->addWidget(FLast, 3, 0, 1, 2);
  FBar = new QProgressBar(FBox);
  FBar->setObjectName(QStringLiteral("pbBatch"));
  FBar->setRange(0, 1);
  FBar->setValue(0);
  grid->addWidget(FBar, 4, 0, 1, 2);
  FProblem = new QLabel(FBox);
  FProblem->setObjectName(QStringLiteral("lBatchProblem"));
  FProblem->setStyleSheet(kRedStyle);
  FProblem->setWordWrap(true);
  FProblem->hide();
  grid->addWidget(FProblem, 5, 0, 1, 2);

  AWindow.ui->gridEmission->addWidget(FBox, AWindow.ui->gridEmission->rowCount(), 0, 1, 2);
  // The window has a fixed size: it grows by the group (and a line for the red reason).
  FBox->setMinimumHeight(FBox->sizeHint().height() + FBox->fontMetrics().height());
  AWindow.setFixedSize(AWindow.width(), AWindow.height() + FBox->minimumHeight() +
                                            AWindow.ui->gridEmission->verticalSpacing());
  connect(FUntilStopped, &QCheckBox::toggled, FCount,
          [this](bool AOn) { FCount->setEnabled(!AOn); });
  connect(FStart, &QPushButton::clicked, this, [this] { StartStopClick(); });
}

TBatchPanel::~TBatchPanel() = default;

void TBatchPanel::StartStopClick() {
  if (FRunning)
    Stop();
  else
    Start();
}

bool TBatchPanel::Start() {
  FProblem->hide();
  if (FWindow.FTh == nullptr) {
    FProblem->setText(QStringLiteral("Серия не запущена: считыватель не подключён"));
    FProblem->show();
    return false;
  }
  op::TBatchOptions options;
  try {
    options.Params = op::CardCodeParams(FWindow.CardCodeInput());
  } catch (const op::TInputError& e) {
    FWindow.Status().ShowError(Q(e.what()), QString(), true);
    return false;
  }
  options.FirstCode = CodeNumber(options.Params.Code);
  options.Count = FUntilStopped->isChecked() ? 0 : FCount->value();
  options.Series = FSeries->text().trimmed().toStdString();
  if (options.Series.empty())
    options.Series = "main";
  std::string error;
  if (!FRun->Start(options, error)) {
    FProblem->setText(Q(error));
    FProblem->show();
    return false;
  }
  FRunning = true;
  FWindow.FTh->SetPollPeriod(op::kBatchPollPeriod);
  FStart->setText(kStopText);
  FCount->setEnabled(false);
  FUntilStopped->setEnabled(false);
  FSeries->setEnabled(false);
  FBar->setRange(0, options.Count > 0 ? static_cast<int>(options.Count) : 0);
  FBar->setValue(0);
  FLast->clear();
  ShowProgress();
  // The card in the field when the run starts counts as placed.
  FRun->OnCard(FWindow.FLastCard);
  return true;
}

void TBatchPanel::Stop() {
  FRun->Stop();
  Finish();
}

void TBatchPanel::Finish() {
  if (!FRunning)
    return;
  FRunning = false;
  if (FWindow.FTh != nullptr)
    FWindow.FTh->SetPollPeriod(TTh::kNormalPollPeriod);
  FStart->setText(kStartText);
  FCount->setEnabled(!FUntilStopped->isChecked());
  FUntilStopped->setEnabled(true);
  FSeries->setEnabled(true);
  if (FBar->maximum() == 0)
    FBar->setRange(0, 1);
  ShowProgress();
}

void TBatchPanel::ConnectionEnded() {
  if (!FRunning)
    return;
  FRun->Stop();
  Finish();
  FProblem->setText(QStringLiteral("Серия остановлена: связь со считывателем прекращена"));
  FProblem->show();
}

void TBatchPanel::OnCard(const TCardInfo& ACard) {
  if (!FRunning)
    return;
  FRun->OnCard(ACard);
  ShowProgress();
}

void TBatchPanel::OnEvent(const op::TBatchCardEvent& AEvent) {
  switch (AEvent.Result) {
    case op::TBatchCardResult::Written:
      FProblem->hide();
      break;
    case op::TBatchCardResult::Skipped:
      FWindow.Status().ShowInfo(
          QStringLiteral("UID ") + Q(AEvent.Uid) + QStringLiteral(": ") + Q(AEvent.Text),
          QString());
      break;
    case op::TBatchCardResult::Failed:
    case op::TBatchCardResult::RegisterAway:
      FProblem->setText(QStringLiteral("UID ") + Q(AEvent.Uid) + QStringLiteral(": ") +
                        Q(AEvent.Text.substr(0, AEvent.Text.find('\n'))));
      FProblem->show();
      break;
  }
  ShowProgress();
  if (!FRun->Armed())
    Finish();
}

void TBatchPanel::ShowProgress() {
  const op::TBatchProgress& state = FRun->Progress();
  FProgressText->setText(Q(op::BatchProgressText(state)));
  if (!state.LastUid.empty())
    FLast->setText(QStringLiteral("UID ") + Q(state.LastUid) +
                   (state.LastCodeHex.empty()
                        ? QString()
                        : QStringLiteral(", код ") + Q(state.LastCodeHex) + QStringLiteral(" (") +
                              Q(CodeHexToDecimal(state.LastCodeHex)) + QStringLiteral(")")));
  if (FBar->maximum() > 0)
    FBar->setValue(static_cast<int>(std::min<std::int64_t>(state.Written, FBar->maximum())));
  if (!state.Problem.empty()) {
    FProblem->setText(Q(state.Problem));
    FProblem->show();
  }
}

}  // namespace kiren
