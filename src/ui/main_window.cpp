#include "ui/main_window.h"
#include "ui/main_window_batch.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <algorithm>

#include "base/message_sink.h"
#include "base/text_utils.h"
#include "info/about_box.h"
#include "info/program_icon.h"
#include "journal/journal.h"
#include "logging/program_dir.h"
#include "operator/issuing.h"
#include "operator/reader.h"
#include "operator/texts.h"
#include "serial/usb.h"
#include "serial/virtual_readers.h"
#include "ui/btn_spin_edit.h"
#include "ui/connection_end.h"
#include "ui/device_monitor.h"
#include "ui/journal_dialog.h"
#include "ui/qt_main_thread.h"
#include "ui/status_informer.h"
#include "ui_main_window.h"
#include "worker/actions.h"
#include "worker/th.h"
#include "worker/verify_actions.h"

namespace kiren {

namespace {

// The designed client area; the menu bar comes on top of it.
constexpr int kMinClientWidth = 581;
constexpr int kMinClientHeight = 257;
const QColor kVersionColor(0, 128, 0);
const QColor kNoVersionColor(255, 0, 0);
const QString kNoVersionText = QStringLiteral("Нет информации о версии");
const QString kNoCardText = QStringLiteral("Нет карты");
const std::string kWorkerEndedText = "Соединение со считывателем завершилось";

QString Q(const std::string& AText) {
  return QString::fromStdString(AText);
}

void SetTextColor(QWidget* AWidget, const QColor& AColor) {
  QPalette p = AWidget->palette();
  p.setColor(QPalette::WindowText, AColor);
  AWidget->setPalette(p);
}

// Wide enough for the longest item, as the style draws an editable combo box, and never
// narrower than designed.
void FitComboToItems(QComboBox* ACombo) {
  const QFontMetrics metrics = ACombo->fontMetrics();
  int widest = 0;
  for (int i = 0; i < ACombo->count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(ACombo->itemText(i)));
  QStyleOptionComboBox option;
  option.initFrom(ACombo);
  option.editable = ACombo->isEditable();
  // The line edit keeps a small margin on each side of its text, and a cursor at the end.
  constexpr int kLineEditMargins = 2 * 2 + 2;
  const QSize needed = ACombo->style()->sizeFromContents(
      QStyle::CT_ComboBox, &option, QSize(widest + kLineEditMargins, metrics.height()), ACombo);
  ACombo->setFixedWidth(std::max(needed.width(), ACombo->minimumWidth()));
}

std::vector<std::string> ReaderPorts() {
  std::vector<std::string> ports;
  EnumComPorts(ports, kReaderPidVid);
  return ports;
}

}  // namespace

TfMain::TfMain(TMainWindowOptions AOptions, QWidget* AParent)
    : QMainWindow(AParent),
      ui(std::make_unique<Ui::TfMain>()),
      FOptions(std::move(AOptions)),
      FMainThread(std::make_unique<TQtMainThread>()),
      FGate(FOptions.SmbConfPath),
      FSettings(FOptions.SettingsPath.isEmpty() ? SettingsFilePath(ProgramDir())
                                                : FOptions.SettingsPath) {
  if (!FOptions.ListPorts)
    FOptions.ListPorts = ReaderPorts;
  SetupForm();
  // Start-up, in the order the controls depend on each other.
  FAppClosed = false;
  FCardIsHere = false;
  ui->lVerInfo->clear();
  ui->miUseWiegand->setVisible(false);
  ui->miUseWiegand->setChecked(false);
  miServiceSpace2->setVisible(false);
  // The issue tab starts hidden: the service gate then chooses between it and the card-code
  // tab when the first connection opens.
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsIssue), false);
  RefreshPortList();
  auto* blockNo = new TBtnSpinEdit(ui->beBlockNo, 0, 0, 252);
  auto* offset = new TBtnSpinEdit(ui->beOffset, 0, 0, 12);
  auto* size = new TBtnSpinEdit(ui->beSize, 4, 4, 10);
  for (TBtnSpinEdit* spin : {blockNo, offset, size})
    connect(spin, &TBtnSpinEdit::Changed, this, &TfMain::beBlockNoChange);
  ui->PageControl1->setCurrentWidget(ui->tsPerco);
  beBlockNoChange();
  UpdateControls(true);
  ui->cbVarIssue->setCurrentIndex(0);
  cbVarIssueChange();
  FStatus = new TStatusInformer(this, ui->StatusBar1, 1);
  LoadSettings();
  OpenJournal();
  FBatch = new TBatchPanel(*this);
  ConnectHandlers();
  if (FOptions.WatchDevices)
    FMonitor = new TDeviceMonitor(this, QString::fromStdString(VirtualReadersDir()));
}

TfMain::~TfMain() {
  // The worker calls into this window until it has ended; let it finish first.
  FDestroying = true;
  delete FJournalDialog;  // it reads the journal, which goes with the window
  if (FTh) {
    FTh->Terminate();
    // Sleeps until the worker's next call or its end arrives; no busy loop.
    while (FTh)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

void TfMain::SetupForm() {
  ui->setupUi(this);
  setWindowIcon(ProgramIcon());
  NameServiceSeparators();
  ui->StatusBar1->AddPanel(100);
  ui->StatusBar1->AddPanel(50);
  ui->StatusBar1->setSizeGripEnabled(false);
  for (QLabel* note : findChildren<QLabel*>()) {
    if (!note->property("note").toBool())
      continue;
    SetTextColor(note, Qt::gray);
    QFont f = note->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    note->setFont(f);
  }
  SetTextColor(ui->lAddr, kVersionColor);
  ui->mCardInfo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: palette(button); }"));
  // Hexadecimal pairs only; ">" shows the digits in upper case.
  ui->medtUserData->setInputMask(QStringLiteral(">hh hh hh hh hh hh hh hh hh hh;_"));
  ui->medtPassword->setInputMask(QStringLiteral(">hh hh hh hh hh hh;_"));
  ui->medtReadBlockPassword->setInputMask(QStringLiteral(">hh hh hh hh hh hh;_"));
  ui->medtPassword->setText(QStringLiteral("FF FF FF FF FF FF"));
  ui->medtReadBlockPassword->setText(QStringLiteral("FF FF FF FF FF FF"));
  ui->cbVarIssue->setInsertPolicy(QComboBox::NoInsert);
  FitComboToItems(ui->cbVarIssue);
  // Room for the whole user data and for the widest set of tabs (the issue tab and the
  // card-code tab are never shown together), so no tab hides behind scroll buttons.
  auto* userData = ui->medtUserData;
  userData->setFixedWidth(
      userData->fontMetrics().horizontalAdvance(QStringLiteral("00 ").repeated(10)) +
      userData->fontMetrics().averageCharWidth() * 2);
  ui->PageControl1->tabBar()->setUsesScrollButtons(false);
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsEmission), false);
  // A fixed-size dialog frame: the layout decides the size, at least the designed one.
  setFixedSize(sizeHint().expandedTo(
      QSize(kMinClientWidth, kMinClientHeight + ui->MainMenu1->sizeHint().height())));
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsEmission), true);
}

void TfMain::NameServiceSeparators() {
  static const char* const kNames[] = {"pmiN3", "miServiceSpace", "miServiceSpace2", "pmiN2"};
  std::size_t i = 0;
  for (QAction* a : ui->miService->actions()) {
    if (!a->isSeparator() || i == std::size(kNames))
      continue;
    a->setObjectName(QString::fromLatin1(kNames[i]));
    if (i == 2)
      miServiceSpace2 = a;
    ++i;
  }
}

void TfMain::ConnectHandlers() {
  connect(ui->bOpen, &QPushButton::clicked, this, &TfMain::bOpenClick);
  connect(ui->miExit, &QAction::triggered, this, &QWidget::close);
  connect(ui->miJournal, &QAction::triggered, this, &TfMain::ShowJournalDialog);
  connect(ui->miAbout, &QAction::triggered, this, &TfMain::miAboutClick);
  connect(ui->pmiReadConfig, &QAction::triggered, this, &TfMain::pmiReadConfigClick);
  for (QAction* item : {ui->miSetMode, ui->miCheckMode})
    connect(item, &QAction::triggered, this, [this, item] { miCheckModeClick(item); });
  for (QAction* item : {ui->pmiSetEmissionPrior, ui->pmiCheckEmissionPrior})
    connect(item, &QAction::triggered, this, [this, item] { pmiSetEmissionPriorClick(item); });
  connect(ui->miUseWiegand, &QAction::triggered, this, &TfMain::miUseWiegandClick);
  connect(ui->miClearCard, &QAction::triggered, this, &TfMain::miClearCardClick);
  connect(ui->bWritePercoStt, &QPushButton::clicked, this, &TfMain::bWritePercoSttClick);
  connect(ui->bEmitCard, &QPushButton::clicked, this, &TfMain::bEmitCardClick);
  connect(ui->btnIssue, &QPushButton::clicked, this, &TfMain::btnIssueClick);
  connect(ui->btnReadBlock, &QPushButton::clicked, this, &TfMain::btnReadBlockClick);
  connect(ui->beKey, &QLineEdit::textChanged, this, [this] { beKeyChange(ui->beKey, ui->beKeyA); });
  connect(ui->beKeyA, &QLineEdit::textChanged, this,
          [this] { beKeyChange(ui->beKeyA, ui->beKey); });
  connect(ui->cbVarIssue, &QComboBox::currentIndexChanged, this, &TfMain::cbVarIssueChange);
  connect(ui->cbVarIssue, &QComboBox::editTextChanged, this, &TfMain::cbVarIssueChange);
  connect(ui->seCodeEmitent, &QSpinBox::valueChanged, this, &TfMain::seCodeEmissionChange);
}

// ---- Port list and device changes ---------------------------------------------------------

void TfMain::RefreshPortList() {
  const QString current = ui->cbPort->currentText();
  QStringList items;
  for (const std::string& port : FOptions.ListPorts())
    items << Q(port);
  QSignalBlocker block(ui->cbPort);
  ui->cbPort->clear();
  ui->cbPort->addItems(items);
  const int index = ui->cbPort->findText(current, Qt::MatchExactly);
  ui->cbPort->setCurrentIndex(index >= 0 ? index : (items.isEmpty() ? -1 : 0));
}

bool TfMain::SelectPort(const QString& APort) {
  const int index = ui->cbPort->findText(APort, Qt::MatchExactly);
  if (index >= 0)
    ui->cbPort->setCurrentIndex(index);
  return index >= 0;
}

bool TfMain::event(QEvent* AEvent) {
  if (AEvent->type() == TRefreshPortsEvent::kType) {
    if (static_cast<TRefreshPortsEvent*>(AEvent)->WParam == 1)
      RefreshPortList();
    return true;
  }
  return QMainWindow::event(AEvent);
}

// ---- Connection -----------------------------------------------------------------------------

void TfMain::Open() {
  if (!FTh)
    bOpenClick();
}

void TfMain::bOpenClick() {
  if (FTh) {
    FTh->Terminate();
    return;
  }
  UpdateControls(false);
  FStatus->Clear();  // a previous connection's end is no longer news
  FThPort = ui->cbPort->currentText().toStdString();
  FVersionError = 0;
  FTh = TTh::Create(
      FThPort, ui->miUseWiegand->isChecked(), [this](TTh* ASender) { ThreadTerminated(*ASender); },
      *this, *FMainThread);
  int offset = 0, size = 0;
  if (!TryStrToInt(ui->beOffset->text().toStdString(), offset))
    offset = 0;
  if (!TryStrToInt(ui->beSize->text().toStdString(), size))
    size = op::kFixedCodeSize;
  if (offset + size <= op::kBlockSize)
    FTh->SetCodeSize(size);
}

void TfMain::ThreadTerminated(const TTh& AWorker) {
  FTh = nullptr;
  FLastCard = {};
  FBatch->ConnectionEnded();
  // Operations whose completion never came may have reached the card: journal them.
  if (FIssuing->PendingCount() > 0)
    FIssuing->AbandonPending(kWorkerEndedText);
  if (FDestroying)
    return;
  if (FAppClosed) {
    close();
    return;
  }
  ReportConnectionEnd(AWorker);
  // The card shown was the worker's: without a connection nothing is known about the field
  // (after a hang-up the last card would stay on screen and keep the card commands enabled).
  ui->mCardInfo->clear();
  ui->StatusBar1->SetPanelText(0, QString());
  FCardIsHere = false;
  RefreshPortList();
  UpdateControls(true);
  ui->beSize->setEnabled(true);
}

void TfMain::ReportConnectionEnd(const TTh& AWorker) {
  TConnectionEnd end;
  end.Reason = AWorker.EndReason();
  if (end.Reason == TEndReason::Requested)
    return;
  end.Port = FThPort;
  end.PortError = AWorker.PortErrorStr();
  end.VersionError = FVersionError;
  if (end.Reason == TEndReason::PortBusy)
    end.Holders = PortHolders(PortDevicePath(FThPort));
  FStatus->ShowError(Q(ConnectionEndText(end)), QString(), false);
  if (end.Reason != TEndReason::NoVersion)  // that one already shows in red
    SetTextColor(ui->lVerInfo, palette().color(QPalette::WindowText));
}

void TfMain::closeEvent(QCloseEvent* AEvent) {
  if (FTh) {
    // Close once the worker has ended (ThreadTerminated closes again).
    FAppClosed = true;
    FTh->Terminate();
    AEvent->ignore();
  } else {
    AEvent->accept();
  }
  SaveSettings(sgClose);
}

// ---- What the worker shows ------------------------------------------------------------------

void TfMain::ShowDevInfo(const TDevInfo& ADevInfo, int AError) {
  FVersionError = AError;
  if (AError == 0) {
    ui->lVerInfo->setText(Q(ADevInfo.verInfo));
    SetTextColor(ui->lVerInfo, kVersionColor);
  } else {
    ui->lVerInfo->setText(kNoVersionText);
    SetTextColor(ui->lVerInfo, kNoVersionColor);
  }
  FDevInfo = ADevInfo;
  FIssuing->SetReader(
      {ui->cbPort->currentText().toStdString(), AError == 0 ? ADevInfo.verInfo : ""});
  const op::TCapabilities caps = op::Capabilities(FDevInfo);
  if (caps.CodeSize) {
    UpdateServiceControls(true);
    if (ui->miSetMode->isEnabled()) {
      FModeTag = FDevInfo.mode;
      UpdateModeMenu();
    }
  } else {
    ui->beSize->setText(QString::number(op::kFixedCodeSize));
  }
  ui->beSize->setEnabled(caps.CodeSize);
  ui->chLBS->setVisible(caps.ByteOrder);
}

void TfMain::ShowCardInfo(const TCardInfo& ACardInfo) {
  FLastCard = ACardInfo;
  const bool present = ACardInfo.status.CardPresent();
  QString text = kNoCardText;
  if (present) {
    text = QStringLiteral("Тип: ") + Q(ACardInfo.CardType()) + QStringLiteral("\r\nUID: ") +
           Q(ACardInfo.UIDStr());
    if (!ACardInfo.desc.empty())
      text += QStringLiteral("\r\n\r\n") + Q(ACardInfo.desc);
  }
  if (ui->mCardInfo->toPlainText() != QString(text).replace(QStringLiteral("\r\n"), "\n"))
    ui->mCardInfo->setPlainText(text);
  ui->StatusBar1->SetPanelText(
      0, QStringLiteral("Статус: 0x") +
             QStringLiteral("%1").arg(ACardInfo.status.data, 4, 16, QChar('0')).toUpper());
  SetCardIsHere(present);
  FBatch->OnCard(ACardInfo);
}

void TfMain::SetCardIsHere(bool AValue) {
  if (AValue == FCardIsHere)
    return;
  FCardIsHere = AValue;
  UpdateControls(FTh == nullptr);
}

void TfMain::ShowConfigInfo(const TConfig& AConfig) {
  const op::TReaderConfig config = op::DecodeConfig(AConfig);
  const std::pair<const std::optional<std::string>&, QLineEdit*> fields[] = {
      {config.BlockNo, ui->beBlockNo}, {config.Offset, ui->beOffset}, {config.Size, ui->beSize}};
  for (const auto& [value, edit] : fields)
    if (value)
      edit->setText(Q(*value));
  if (config.ReverseOrder)
    ui->chLBS->setChecked(*config.ReverseOrder);
  if (config.Mode)
    FModeTag = *config.Mode;
  if (config.EmissionPrior)
    FEmissionPriorTag = *config.EmissionPrior;
  UpdateModeMenu();
}

// ---- Enabling rules ---------------------------------------------------------------------------

bool TfMain::IssueTabVisible() const {
  return ui->PageControl1->isTabVisible(ui->PageControl1->indexOf(ui->tsIssue));
}

TControlState TfMain::State() const {
  TControlState s;
  s.WorkerExists = FTh != nullptr;
  s.CardIsHere = FCardIsHere;
  s.VerMajor = FDevInfo.verMajor;
  s.ServiceGate = FGate.IsKiren();
  s.IssueTabVisible = IssueTabVisible();
  return s;
}

void TfMain::UpdateControls(bool APortClosed) {
  const TControlFlags f = ControlRules(State(), APortClosed);
  ui->cbPort->setEnabled(f.PortEnabled);
  ui->bOpen->setText(Q(f.OpenCaption));
  ui->bWritePercoStt->setEnabled(f.WritePercoSttEnabled);
  ui->bEmitCard->setEnabled(f.EmitCardEnabled);
  ui->btnReadBlock->setEnabled(f.EmitCardEnabled);
  ui->miUseWiegand->setEnabled(f.UseWiegandEnabled);
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsReadBlock),
                                  f.ReadBlockTabVisible);
  UpdateServiceControls(FTh != nullptr);
}

void TfMain::UpdateServiceControls(bool AConnected) {
  const TServiceFlags f = ServiceRules(State(), AConnected);
  ui->miSetMode->setEnabled(f.SetModeEnabled);
  ui->miCheckMode->setEnabled(f.SetModeEnabled);
  ui->pmiReadConfig->setEnabled(f.ReadConfigEnabled);
  ui->pmiSetEmissionPrior->setEnabled(f.EmissionPriorEnabled);
  ui->pmiCheckEmissionPrior->setEnabled(f.EmissionPriorEnabled);
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsIssue), f.IssueTabVisible);
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tsEmission), f.EmissionTabVisible);
  if (f.ClearCardEnabled) {
    ui->miClearCard->setEnabled(*f.ClearCardEnabled);
    ui->btnIssue->setEnabled(*f.ClearCardEnabled);
  }
}

void TfMain::UpdateModeMenu() {
  ui->miSetMode->setText(Q(ModeMenuCaption(FModeTag)));
  ui->pmiSetEmissionPrior->setChecked(FEmissionPriorTag == 1);
}

// ---- Service menu -----------------------------------------------------------------------------

bool TfMain::Queue(std::unique_ptr<TThAction> AAction) {
  if (!FTh)
    return false;
  if (FTh->TryExec(AAction))
    return true;
  if (FIssuing)
    FIssuing->Withdraw(*AAction);
  ShowError(op::kMsgReaderBusy);
  return false;
}

void TfMain::ShowError(const std::string& AText) {
  FStatus->ShowError(Q(AText), QString(), true);
}

void TfMain::ShowInfo(const std::string& AText) {
  FStatus->ShowInfo(Q(AText), QString());
}

void TfMain::pmiReadConfigClick() {
  if (!FTh)
    return;
  Queue(std::make_unique<TAcReadConfig>([this](TThAction& a) { ReadConfigDone(a); }));
}

void TfMain::ReadConfigDone(TThAction& AAction) {
  if (AAction.ErrCode() != 0) {
    ShowError("Ошибка при чтении конфигурации: " + std::to_string(AAction.ErrCode()));
    return;
  }
  ShowInfo("Конфигурация успешно считана");
  ShowConfigInfo(static_cast<TAcReadConfig&>(AAction).Config());
}

void TfMain::miCheckModeClick(QAction* ASender) {
  if (!FTh)
    return;
  const std::uint8_t mode = ASender == ui->miCheckMode ? kModeQuery : op::NextModeValue(FModeTag);
  try {
    Queue(std::make_unique<TAcSetupMode>(mode, [this](TThAction& a) { SetupModeDone(a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::ModeDone(op::TModeKind AKind, TThAction& AAction, int& ATag) {
  const auto& action = static_cast<TAcSetupMode&>(AAction);
  const op::TModeOutcome outcome =
      op::ModeOutcome(AKind, AAction.ErrCode(), action.Mode(), action.Answer());
  if (outcome.Ok)
    ShowInfo(outcome.Text);
  else
    ShowError(outcome.Text);
  ATag = op::ModeTagAfter(outcome, action.Mode(), ATag);
  UpdateModeMenu();
  UpdateControls(FTh == nullptr);
}

void TfMain::SetupModeDone(TThAction& AAction) {
  ModeDone(op::TModeKind::Universal, AAction, FModeTag);
}

void TfMain::pmiSetEmissionPriorClick(QAction* ASender) {
  UpdateModeMenu();  // the check mark follows the reader's answer, not the click
  if (!FTh)
    return;
  const std::uint8_t mode =
      ASender == ui->pmiCheckEmissionPrior ? kModeQuery : op::NextModeValue(FEmissionPriorTag);
  try {
    Queue(std::make_unique<TAcSetupEmissionPrior>(mode,
                                                  [this](TThAction& a) { EmissionPriorDone(a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::EmissionPriorDone(TThAction& AAction) {
  ModeDone(op::TModeKind::EmissionPrior, AAction, FEmissionPriorTag);
}

void TfMain::miUseWiegandClick() {
  // QAction has already toggled its check mark.
  if (FTh)
    FTh->UseWiegand(ui->miUseWiegand->isChecked());
}

void TfMain::miClearCardClick() {
  if (!FTh)
    return;
  try {
    if (const op::TGate gate = FIssuing->BeforeOperation(TJournalOperation::Clear); !gate.Go) {
      ShowRefusal(gate.Text);
      return;
    }
    Queue(FIssuing->Clear(
        op::CardSeen(FLastCard),
        [this](const op::TVerdict& v, TAcClearCardChecked& a) { ClearVerdict(v, a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::ClearCardDone(TThAction& AAction) {
  const op::TOutcome outcome = op::ClearOutcome(AAction.ErrCode());
  if (outcome.Ok)
    ShowInfo(outcome.Text);
  else
    ShowError(outcome.Text);
}

void TfMain::miAboutClick() {
  ShowAboutBox(this);
}

}  // namespace kiren
