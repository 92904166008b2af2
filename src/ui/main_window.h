// The operator's window: connection, reader and card display, service menu and the four
// editor tabs. It talks to the reader only through the device worker (TTh) and its actions.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "operator/params.h"
#include "operator/reader.h"
#include "protocol/records.h"
#include "ui/control_rules.h"
#include "ui/is_kiren.h"
#include "ui/settings_file.h"
#include "worker/device_view.h"

namespace Ui {
class TfMain;
}

class QAction;
class QCheckBox;
class QLineEdit;

namespace kiren {

namespace op {
class TIssuingService;
struct TVerdict;
}  // namespace op

class IJournal;
class TAcClearCardChecked;
class TAcIssueCardChecked;
class TAcPercoStt;
class TAcWriteCardCodeChecked;
class TBatchPanel;
class TBtnSpinEdit;
class TDeviceMonitor;
class TJournalDialog;
class TQtMainThread;
class TStatusInformer;
class TTh;
class TThAction;

struct TMainWindowOptions {
  // Where the service gate reads the workgroup.
  std::string SmbConfPath = kSmbConfPath;
  // settings.ini; empty: beside the program, or the user's config folder (SettingsFilePath).
  QString SettingsPath;
  // Port names for cbPort; empty: the reader's USB ports and the virtual readers.
  std::function<std::vector<std::string>()> ListPorts;
  // Watch udev and the virtual readers' folder for device changes.
  bool WatchDevices = true;
  // journal.sqlite3; empty: beside the program, or the user's data folder (JournalFilePath).
  QString JournalPath;
};

class TfMain : public QMainWindow, public IDeviceView {
  Q_OBJECT

 public:
  explicit TfMain(TMainWindowOptions AOptions = {}, QWidget* AParent = nullptr);
  ~TfMain() override;

  // Called by the worker on the window's thread.
  void ShowDevInfo(const TDevInfo& ADevInfo, int AError) override;
  void ShowConfigInfo(const TConfig& AConfig) override;
  void ShowCardInfo(const TCardInfo& ACardInfo) override;

  bool CardIsHere() const { return FCardIsHere; }
  void SetCardIsHere(bool AValue);
  // A worker exists (open, or closing until it has ended).
  bool Connected() const { return FTh != nullptr; }
  const TDevInfo& DevInfo() const { return FDevInfo; }
  int ModeTag() const { return FModeTag; }
  int EmissionPriorTag() const { return FEmissionPriorTag; }
  void SetModeTag(int ATag) { FModeTag = ATag; }
  void SetEmissionPriorTag(int ATag) { FEmissionPriorTag = ATag; }
  TStatusInformer& Status() const { return *FStatus; }
  const TSettingsFile& Settings() const { return FSettings; }

  // Selects APort in cbPort when it is listed; false otherwise.
  bool SelectPort(const QString& APort);
  void RefreshPortList();
  // Opens the selected port, as "Открыть" does; nothing while a connection is open.
  void Open();

  // Completion handlers of the queued actions.
  void ReadConfigDone(TThAction& AAction);
  void SetupModeDone(TThAction& AAction);
  void EmissionPriorDone(TThAction& AAction);
  void ClearCardDone(TThAction& AAction);
  void PercoSttDone(TThAction& AAction);
  void CardCodeDone(TThAction& AAction);
  void IssueDone(TThAction& AAction);
  void ReadBlockDone(TThAction& AAction);

  // The editors' fields as the operator layer takes them (what the command buttons check).
  op::TEmissionInput EmissionInput() const;
  op::TCardCodeInput CardCodeInput() const;
  op::TIssueInput IssueInput() const;
  op::TReadBlockInput ReadBlockInput() const;

  // The issuance journal; null when it could not be opened (JournalError says why).
  IJournal* Journal() const;
  QString JournalError() const;
  // Checks, journals and judges the card operations the editors give.
  op::TIssuingService& Issuing() const { return *FIssuing; }
  // The "Серия" group of the card-code tab (batch runs).
  TBatchPanel& Batch() const { return *FBatch; }
  // "Файл" → "Журнал выдачи…": shows the journal window (one at a time) and returns it.
  TJournalDialog* ShowJournalDialog();

  void LoadSettings();
  // False when settings.ini could not be written.
  bool SaveSettings(TSettingsGroups AGroups);
  void IncCardCode();

 protected:
  void closeEvent(QCloseEvent* AEvent) override;
  bool event(QEvent* AEvent) override;

 private:
  void SetupForm();
  void ConnectHandlers();
  void NameServiceSeparators();
  void ThreadTerminated(const TTh& AWorker);
  // A connection that ended by itself: why, in red in the status bar; the version is no
  // longer shown as current.
  void ReportConnectionEnd(const TTh& AWorker);
  TControlState State() const;
  void UpdateControls(bool APortClosed);
  void UpdateServiceControls(bool AConnected);
  void UpdateModeMenu();
  // A finished universal-mode or priority command: status text and the item's tag.
  void ModeDone(op::TModeKind AKind, TThAction& AAction, int& ATag);
  // Queues an action on the worker. A full queue (10 actions waiting) refuses it with an
  // error in the status bar rather than blocking the window.
  bool Queue(std::unique_ptr<TThAction> AAction);
  // The combo box item whose text is typed in cbVarIssue; -1 for any other text.
  int VarIssueIndex() const;
  bool IssueTabVisible() const;
  void ShowError(const std::string& AText);
  void ShowInfo(const std::string& AText);
  void OpenJournal();
  // A block in edtValueBlock; a sector trailer also gets its access conditions in words.
  void ShowBlockText(int ABlockNo, const TBlock& AData);
  // The verdict of a checked operation in the status bar; details of a failed check or a
  // missing journal row also in a warning box.
  void ShowVerdict(const op::TVerdict& AVerdict);
  // An operation the operator declined (duplicate code, no journal): why, in red.
  void ShowRefusal(const std::string& AText);
  void CardCodeVerdict(const op::TVerdict& AVerdict, TAcWriteCardCodeChecked& AAction);
  void IssueVerdict(const op::TVerdict& AVerdict, TAcIssueCardChecked& AAction);
  void ClearVerdict(const op::TVerdict& AVerdict, TAcClearCardChecked& AAction);
  void PercoSttVerdict(const op::TVerdict& AVerdict, TAcPercoStt& AAction);
  // The card panel with the content the reader reported after a checked operation.
  void ShowReportedCard(const std::string& AText);
  void JournalChanged();

  // Operator events.
  void bOpenClick();
  void pmiReadConfigClick();
  void miCheckModeClick(QAction* ASender);
  void pmiSetEmissionPriorClick(QAction* ASender);
  void miUseWiegandClick();
  void miClearCardClick();
  void miAboutClick();
  void bWritePercoSttClick();
  void bEmitCardClick();
  void btnIssueClick();
  void btnReadBlockClick();
  void beBlockNoChange();
  void beKeyChange(QLineEdit* ASource, QLineEdit* AMirror);
  void cbVarIssueChange();
  void seCodeEmissionChange();

  std::unique_ptr<Ui::TfMain> ui;
  TMainWindowOptions FOptions;
  std::unique_ptr<TQtMainThread> FMainThread;
  TTh* FTh = nullptr;
  std::string FThPort;    // the port the worker was created for
  int FVersionError = 0;  // the last version query's result
  bool FAppClosed = false;
  bool FDestroying = false;
  TStatusInformer* FStatus = nullptr;
  bool FCardIsHere = false;
  TDevInfo FDevInfo;
  int FModeTag = 0;            // miSetMode.Tag: 1 = universal mode on
  int FEmissionPriorTag = 0;   // pmiSetEmissionPrior.Tag: 1 = priority on
  mutable TServiceGate FGate;  // evaluated on first use
  TSettingsFile FSettings;
  TDeviceMonitor* FMonitor = nullptr;
  QAction* miServiceSpace2 = nullptr;  // separator before the priority items, hidden
  std::unique_ptr<op::TIssuingService> FIssuing;
  QPointer<TJournalDialog> FJournalDialog;
  TCardInfo FLastCard;            // the card of the last poll
  TBatchPanel* FBatch = nullptr;  // owned by the window as a child object

  friend class TBatchPanel;
};

}  // namespace kiren
