// The four editor tabs of the main window: emission parameters, card code, card issue and
// block read, with their validation, completion handlers and settings.ini.
#include <QAction>

#include "base/message_sink.h"
#include "base/text_utils.h"
#include "logging/dbg_logger.h"
#include "operator/issuing.h"
#include "operator/params.h"
#include "operator/reader.h"
#include "operator/texts.h"
#include "protocol/protocol.h"
#include "ui/main_window.h"
#include "ui/status_informer.h"
#include "ui_main_window.h"
#include "worker/actions.h"
#include "worker/th.h"
#include "worker/verify_actions.h"

namespace kiren {

namespace {

const QString kKeyBlockNo = QStringLiteral("BlockNo");
const QString kKeyOffset = QStringLiteral("Offset");
const QString kKeySize = QStringLiteral("Size");
const QString kKeyLbs = QStringLiteral("LBS");
const QString kKeyCardCode = QStringLiteral("CardCode");
const QString kHexPrefix = QStringLiteral("0x");

std::string S(const QLineEdit* AEdit) {
  return AEdit->text().toStdString();
}

}  // namespace

// ---- Emission parameters ----------------------------------------------------------------------

void TfMain::beBlockNoChange() {
  int block = 0, offset = 0, size = 0;
  if (!TryStrToInt(S(ui->beBlockNo), block) || !TryStrToInt(S(ui->beOffset), offset) ||
      !TryStrToInt(S(ui->beSize), size))
    return;
  ui->lAddr->setText(QString::fromStdString(op::AddrText(block, offset, size)));
}

void TfMain::beKeyChange(QLineEdit* ASource, QLineEdit* AMirror) {
  if (AMirror->text() != ASource->text())
    AMirror->setText(ASource->text());
}

op::TEmissionInput TfMain::EmissionInput() const {
  return {.Key = S(ui->beKey),
          .BlockNo = S(ui->beBlockNo),
          .Offset = S(ui->beOffset),
          .Size = S(ui->beSize),
          .ReverseOrder = !ui->chLBS->isHidden() && ui->chLBS->isChecked()};
}

void TfMain::bWritePercoSttClick() {
  try {
    const auto pars = op::EmissionParams(EmissionInput(), [](int ASector) {
      return MsgQuestion(op::kMsgTrailerCaption, op::TrailerQuestionText(ASector));
    });
    if (!pars || !FTh)
      return;
    if (const op::TGate gate = FIssuing->BeforeOperation(TJournalOperation::EmissionWrite);
        !gate.Go) {
      ShowRefusal(gate.Text);
      return;
    }
    Queue(FIssuing->WriteEmission(
        *pars, op::CardSeen(FLastCard),
        [this](const op::TVerdict& v, TAcPercoStt& a) { PercoSttVerdict(v, a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::PercoSttDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  if (!SaveSettings(sgEmission))
    return;
  ShowInfo(op::kMsgOk);
}

// ---- Card code --------------------------------------------------------------------------------

op::TCardCodeInput TfMain::CardCodeInput() const {
  return {.BlockNo = S(ui->beBlockNo),
          .Offset = S(ui->beOffset),
          .Size = S(ui->beSize),
          .KeyA = S(ui->beKeyA),
          .KeyB = S(ui->beKeyB),
          .OldKeyB = S(ui->beOldKeyB),
          .Code = {.Digits = S(ui->beCardCode), .Hex = ui->chHex->isChecked()}};
}

void TfMain::bEmitCardClick() {
  if (!FTh)
    return;
  try {
    const op::TCardCodeParams params = op::CardCodeParams(CardCodeInput());
    const op::TCardSeen card = op::CardSeen(FLastCard);
    if (const op::TGate gate = FIssuing->BeforeCardCodeWrite(params, card); !gate.Go) {
      ShowRefusal(gate.Text);
      return;
    }
    Queue(FIssuing->WriteCardCode(
        params, card, std::nullopt,
        [this](const op::TVerdict& v, TAcWriteCardCodeChecked& a) { CardCodeVerdict(v, a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::CardCodeDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  IncCardCode();
  if (!SaveSettings(sgCardCode))
    return;
  ShowInfo(op::kMsgOk);
  const auto& action = static_cast<TAcWriteCardCode&>(AAction);
  ShowBlockText(TProtocol::GetTBlock(action.BlockNo()), action.BlockData());
}

void TfMain::IncCardCode() {
  try {
    ui->beCardCode->setText(
        QString::fromStdString(op::IncCardCodeText(S(ui->beCardCode), ui->chHex->isChecked())));
  } catch (const op::TInputError& e) {
    MsgWarning(e.what());
  }
}

// ---- Card issue -------------------------------------------------------------------------------

int TfMain::VarIssueIndex() const {
  return ui->cbVarIssue->findText(ui->cbVarIssue->currentText(), Qt::MatchExactly);
}

void TfMain::cbVarIssueChange() {
  ui->seCodeEmitent->setValue(0);
  ui->seCodeEmission->setValue(0);
  ui->medtUserData->setText(QString::fromStdString(op::kNoUserDataText));
  const int index = VarIssueIndex();
  const bool codes = index == 0 || index == 2;
  const bool userData = index == 3 || index == 4;
  ui->seCodeEmitent->setEnabled(codes);
  ui->seCodeEmission->setEnabled(codes);
  ui->medtUserData->setEnabled(userData);
}

void TfMain::seCodeEmissionChange() {
  if (ui->seCodeEmitent->value() < 0)
    ui->seCodeEmitent->setValue(0);
}

op::TIssueInput TfMain::IssueInput() const {
  return {.Variant = std::to_string(VarIssueIndex() + 1),
          .Emitent = std::to_string(ui->seCodeEmitent->value()),
          .Emission = std::to_string(ui->seCodeEmission->value()),
          .FactoryKey = S(ui->medtPassword),
          .UserData = S(ui->medtUserData)};
}

void TfMain::btnIssueClick() {
  if (!FTh)
    return;
  try {
    const op::TIssueParams params = op::IssueParams(IssueInput());
    if (const op::TGate gate = FIssuing->BeforeOperation(TJournalOperation::Issue); !gate.Go) {
      ShowRefusal(gate.Text);
      return;
    }
    Queue(FIssuing->Issue(
        params, op::CardSeen(FLastCard),
        [this](const op::TVerdict& v, TAcIssueCardChecked& a) { IssueVerdict(v, a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::IssueDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  ShowInfo(op::kMsgOk);
}

// ---- Block read -------------------------------------------------------------------------------

op::TReadBlockInput TfMain::ReadBlockInput() const {
  return {.BlockNo = std::to_string(ui->seReadBlock->value()), .Key = S(ui->medtReadBlockPassword)};
}

void TfMain::btnReadBlockClick() {
  if (!FTh)
    return;
  try {
    const op::TReadBlockParams params = op::ReadBlockParams(ReadBlockInput());
    Queue(std::make_unique<TAcReadBlock>(params.BlockNo, kKeyTypeA, params.Key,
                                         [this](TThAction& a) { ReadBlockDone(a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::ReadBlockDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  ShowInfo(op::kMsgOk);
  const auto& action = static_cast<TAcReadBlock&>(AAction);
  ShowBlockText(action.BlockNo(), action.BlockData());
}

// ---- settings.ini -----------------------------------------------------------------------------

void TfMain::LoadSettings() {
  SetMaskKeys(FSettings.MaskKeys());
  const std::pair<const QString&, QLineEdit*> fields[] = {
      {kKeyBlockNo, ui->beBlockNo}, {kKeyOffset, ui->beOffset}, {kKeySize, ui->beSize}};
  for (const auto& [key, edit] : fields)
    if (const auto value = FSettings.Value(key))
      edit->setText(*value);
  int lbs = 0;
  if (const auto value = FSettings.Value(kKeyLbs); value && TryStrToInt(value->toStdString(), lbs))
    ui->chLBS->setChecked(lbs != 0);
  QString code = FSettings.Value(kKeyCardCode)
                     .value_or(ui->chHex->isChecked() ? kHexPrefix + ui->beCardCode->text()
                                                      : ui->beCardCode->text());
  const bool hex = code.startsWith(kHexPrefix);
  if (hex)
    code.remove(0, kHexPrefix.size());
  ui->chHex->setChecked(hex);
  ui->beCardCode->setText(code);
}

bool TfMain::SaveSettings(TSettingsGroups AGroups) {
  if (AGroups == 0)
    AGroups = sgEmission | sgCardCode | sgClose;
  std::vector<std::pair<QString, QString>> values;
  if (AGroups & sgEmission) {
    values.emplace_back(kKeyBlockNo, ui->beBlockNo->text());
    values.emplace_back(kKeyOffset, ui->beOffset->text());
    values.emplace_back(kKeySize, ui->beSize->text());
    if (op::Capabilities(FDevInfo).ByteOrder)
      values.emplace_back(kKeyLbs,
                          ui->chLBS->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  }
  if (AGroups & sgCardCode)
    values.emplace_back(kKeyCardCode, ui->chHex->isChecked() ? kHexPrefix + ui->beCardCode->text()
                                                             : ui->beCardCode->text());
  return values.empty() || FSettings.Write(values);
}

}  // namespace kiren
