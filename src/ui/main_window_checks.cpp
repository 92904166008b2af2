// The window's checked card operations: the issuing service that guards, journals and judges
// them, the issuance journal and its window, and the access conditions of a sector trailer in
// the block-read tab.
#include <QMetaObject>

#include "base/message_sink.h"
#include "base/text_utils.h"
#include "journal/journal.h"
#include "operator/block_text.h"
#include "operator/issuing.h"
#include "operator/journal_open.h"
#include "operator/texts.h"
#include "ui/journal_dialog.h"
#include "ui/main_window.h"
#include "ui/status_informer.h"
#include "ui_main_window.h"
#include "worker/verify_actions.h"

namespace kiren {

namespace {

const std::string kDuplicateCaption = "Повтор кода карты";

// The informer cuts a message at its first carriage return; the journal keeps the rest.
QString InformerText(const std::string& AText) {
  return QString::fromStdString(AText).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

}  // namespace

void TfMain::OpenJournal() {
  op::TJournalOpening journal = op::OpenJournal({.Path = FOptions.JournalPath.toStdString()});
  const bool ok = journal.Ok();
  op::TIssuingQuestions questions{
      .GoOnWithoutJournal =
          [](const std::string& AText) { return MsgQuestion(op::kMsgJournalCaption, AText); },
      .WriteDuplicate =
          [](const TCodeOnOtherCard&, const std::string& AText) {
            return MsgQuestion(kDuplicateCaption, AText);
          }};
  FIssuing = std::make_unique<op::TIssuingService>(std::move(journal), op::LocalStation(),
                                                   std::move(questions));
  if (!ok)
    FStatus->ShowError(InformerText(FIssuing->JournalError()), QString(), false);
}

IJournal* TfMain::Journal() const {
  return FIssuing->Journal();
}

QString TfMain::JournalError() const {
  return QString::fromStdString(FIssuing->JournalError());
}

TJournalDialog* TfMain::ShowJournalDialog() {
  if (!FJournalDialog) {
    FJournalDialog = new TJournalDialog(Journal(), JournalError(), this);
    FJournalDialog->setAttribute(Qt::WA_DeleteOnClose);
  } else {
    FJournalDialog->Refresh();
  }
  FJournalDialog->show();
  FJournalDialog->raise();
  FJournalDialog->activateWindow();
  return FJournalDialog;
}

void TfMain::JournalChanged() {
  if (FJournalDialog && FJournalDialog->isVisible())
    FJournalDialog->Refresh();
}

void TfMain::ShowBlockText(int ABlockNo, const TBlock& AData) {
  ui->edtValueBlock->setText(QString::fromStdString(BytesToHexStr(AData.data(), AData.size())));
  QString text;
  if (const auto access = op::TrailerAccessText(ABlockNo, AData))
    text = QStringLiteral("Блок %1 — трейлер сектора %2\n")
               .arg(ABlockNo)
               .arg(TProtocol::GetSector(ABlockNo)) +
           QString::fromStdString(*access).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  ui->mAccessConditions->setPlainText(text);
  ui->mAccessConditions->setToolTip(text);
}

// ---- Verdicts -------------------------------------------------------------------------------

void TfMain::ShowVerdict(const op::TVerdict& AVerdict) {
  JournalChanged();
  if (AVerdict.Ok) {
    FStatus->ShowInfo(InformerText(AVerdict.Text), QString());
    return;
  }
  // A card that failed its check, or an operation missing from the journal, stays in the
  // status bar until the next message, and the operator gets every finding in a box (posted,
  // so that the worker is not held while the box is open).
  const bool details = AVerdict.CheckFailed || AVerdict.Journaling == op::TJournaling::Failed;
  FStatus->ShowError(InformerText(AVerdict.Text), QString(), !details);
  if (details)
    QMetaObject::invokeMethod(
        this, [text = AVerdict.Text] { MsgWarning(text); }, Qt::QueuedConnection);
}

void TfMain::ShowRefusal(const std::string& AText) {
  FStatus->ShowError(InformerText(AText), QString(), true);
}

void TfMain::ShowReportedCard(const std::string& AText) {
  if (!FLastCard.status.CardPresent())
    return;
  TCardInfo card = FLastCard;
  card.desc = AText;
  ShowCardInfo(card);
}

void TfMain::CardCodeVerdict(const op::TVerdict& AVerdict, TAcWriteCardCodeChecked& AAction) {
  if (AVerdict.CounterMoves) {
    // A code whose write went out is never offered again, whatever its check found.
    IncCardCode();
    if (!SaveSettings(sgCardCode))
      return;
  }
  ShowVerdict(AVerdict);
  if (!AVerdict.Done)
    return;
  ShowBlockText(TProtocol::GetTBlock(AAction.BlockNo()), AAction.BlockData());
  if (AAction.Reported())
    ShowReportedCard(AAction.Reported()->Text);
}

void TfMain::IssueVerdict(const op::TVerdict& AVerdict, TAcIssueCardChecked& AAction) {
  ShowVerdict(AVerdict);
  if (AAction.Reported())
    ShowReportedCard(AAction.Reported()->Text);
}

void TfMain::ClearVerdict(const op::TVerdict& AVerdict, TAcClearCardChecked& AAction) {
  ShowVerdict(AVerdict);
  if (AAction.Reported())
    ShowReportedCard(AAction.Reported()->Text);
}

void TfMain::PercoSttVerdict(const op::TVerdict& AVerdict, TAcPercoStt&) {
  if (AVerdict.Done && !SaveSettings(sgEmission))
    return;
  ShowVerdict(AVerdict);
}

}  // namespace kiren
