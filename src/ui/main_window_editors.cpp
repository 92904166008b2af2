// The four editor tabs of the main window: emission parameters, card code, card issue and
// block read, with their validation, completion handlers and settings.ini.
#include <QAction>

#include "base/message_sink.h"
#include "base/text_utils.h"
#include "logging/dbg_logger.h"
#include "protocol/protocol.h"
#include "ui/editor_rules.h"
#include "ui/main_window.h"
#include "ui/status_informer.h"
#include "ui_main_window.h"
#include "worker/actions.h"
#include "worker/th.h"

namespace kiren {

namespace {

const QString kKeyBlockNo = QStringLiteral("BlockNo");
const QString kKeyOffset = QStringLiteral("Offset");
const QString kKeySize = QStringLiteral("Size");
const QString kKeyLbs = QStringLiteral("LBS");
const QString kKeyCardCode = QStringLiteral("CardCode");
const QString kHexPrefix = QStringLiteral("0x");
const QString kNoUserData = QStringLiteral("00000000000000000000");

std::string S(const QLineEdit* AEdit) {
  return AEdit->text().toStdString();
}

TKey ParseKeyOrThrow(const QLineEdit* AEdit, const std::string& AMessage) {
  TKey key{};
  if (!TryParseKey(S(AEdit), key))
    throw TInputError(AMessage);
  return key;
}

}  // namespace

// ---- Emission parameters ----------------------------------------------------------------------

void TfMain::beBlockNoChange() {
  int block = 0, offset = 0, size = 0;
  if (!TryStrToInt(S(ui->beBlockNo), block) || !TryStrToInt(S(ui->beOffset), offset) ||
      !TryStrToInt(S(ui->beSize), size))
    return;
  ui->lAddr->setText(QString::fromStdString(AddrText(block, offset, size)));
}

void TfMain::beKeyChange(QLineEdit* ASource, QLineEdit* AMirror) {
  if (AMirror->text() != ASource->text())
    AMirror->setText(ASource->text());
}

void TfMain::bWritePercoSttClick() {
  try {
    TPercoPars pars;
    pars.key = ParseKeyOrThrow(ui->beKey, kMsgKeyMustHave6Bytes);
    pars.blockNo = static_cast<std::uint8_t>(StrToInt(S(ui->beBlockNo)));
    if (TProtocol::GetTBlock(pars.blockNo) == pars.blockNo &&
        !MsgQuestion(kMsgTrailerCaption, TrailerQuestionText(TProtocol::GetSector(pars.blockNo))))
      return;
    pars.offset = static_cast<std::uint8_t>(StrToInt(S(ui->beOffset)));
    pars.size = static_cast<std::uint8_t>(StrToInt(S(ui->beSize)));
    pars.lbs = !ui->chLBS->isHidden() && ui->chLBS->isChecked() ? 1 : 0;
    if (pars.offset + pars.size > 16)
      throw TInputError(kMsgOffsetSizeTooBig);
    if (FTh)
      Queue(std::make_unique<TAcPercoStt>(pars, [this](TThAction& a) { PercoSttDone(a); }));
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
  ShowInfo(kMsgOk);
}

// ---- Card code --------------------------------------------------------------------------------

void TfMain::bEmitCardClick() {
  if (!FTh)
    return;
  try {
    const int block = StrToInt(S(ui->beBlockNo));
    const int offset = StrToInt(S(ui->beOffset));
    const int size = StrToInt(S(ui->beSize));
    TKeyList keys;
    keys.KeyA = ParseKeyOrThrow(ui->beKeyA, kMsgBadReadKey);
    keys.KeyB = ParseKeyOrThrow(ui->beKeyB, kMsgBadWriteKey);
    keys.oldKeyB = ParseKeyOrThrow(ui->beOldKeyB, kMsgBadOldWriteKey);
    const Bytes code = CardCodeBytes(S(ui->beCardCode), ui->chHex->isChecked(), size);
    Queue(std::make_unique<TAcWriteCardCode>(static_cast<std::uint8_t>(block),
                                             static_cast<std::uint8_t>(offset), code, keys,
                                             [this](TThAction& a) { CardCodeDone(a); }));
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
  ShowInfo(kMsgOk);
  const TBlock& block = static_cast<TAcWriteCardCode&>(AAction).BlockData();
  ui->edtValueBlock->setText(QString::fromStdString(BytesToHexStr(block.data(), block.size())));
}

void TfMain::IncCardCode() {
  try {
    ui->beCardCode->setText(
        QString::fromStdString(IncCardCodeText(S(ui->beCardCode), ui->chHex->isChecked())));
  } catch (const TInputError& e) {
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
  ui->medtUserData->setText(kNoUserData);
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

void TfMain::btnIssueClick() {
  if (!FTh)
    return;
  try {
    Queue(std::make_unique<TAcIssueCard>(
        VarIssueIndex() + 1, std::to_string(ui->seCodeEmitent->value()),
        std::to_string(ui->seCodeEmission->value()), S(ui->medtPassword),
        ui->medtUserData->text().remove(QChar(' ')).toStdString(),
        [this](TThAction& a) { IssueDone(a); }));
  } catch (const std::exception& e) {
    MsgWarning(e.what());
  }
}

void TfMain::IssueDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  ShowInfo(kMsgOk);
}

// ---- Block read -------------------------------------------------------------------------------

void TfMain::btnReadBlockClick() {
  if (!FTh)
    return;
  Bytes bytes;
  if (!HexStrToBytes(S(ui->medtReadBlockPassword), bytes) || bytes.size() != TKey().size()) {
    MsgWarning(kMsgBadReadBlockKey);
    return;
  }
  TKey key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  Queue(std::make_unique<TAcReadBlock>(static_cast<std::uint8_t>(ui->seReadBlock->value()),
                                       kKeyTypeA, key, [this](TThAction& a) { ReadBlockDone(a); }));
}

void TfMain::ReadBlockDone(TThAction& AAction) {
  if (const std::string error = ActionErrorText(AAction); !error.empty()) {
    ShowError(error);
    return;
  }
  ShowInfo(kMsgOk);
  const TBlock& block = static_cast<TAcReadBlock&>(AAction).BlockData();
  ui->edtValueBlock->setText(QString::fromStdString(BytesToHexStr(block.data(), block.size())));
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
    if (FDevInfo.verMajor >= 4)
      values.emplace_back(kKeyLbs,
                          ui->chLBS->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  }
  if (AGroups & sgCardCode)
    values.emplace_back(kKeyCardCode, ui->chHex->isChecked() ? kHexPrefix + ui->beCardCode->text()
                                                             : ui->beCardCode->text());
  return values.empty() || FSettings.Write(values);
}

}  // namespace kiren
