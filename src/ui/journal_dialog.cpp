#include "ui/journal_dialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QSaveFile>
#include <QTableWidgetItem>
#include <chrono>

#include "journal/journal_export.h"
#include "ui_journal_dialog.h"

namespace kiren {

namespace {

const QColor kErrorColor(255, 0, 0);

QString Q(const std::string& AText) {
  return QString::fromStdString(AText);
}

QString OptNumber(const std::optional<int>& AValue) {
  return AValue ? QString::number(*AValue) : QString();
}

QString OptNumber(const std::optional<std::uint32_t>& AValue) {
  return AValue ? QString::number(*AValue) : QString();
}

QString LocalTime(const TJournalRecord& ARow) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(ARow.Time.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString ResultText(const TJournalRecord& ARow) {
  QString text = Q(ARow.ResultText);
  if (ARow.ResultCode != 0 && !text.contains(QString::number(ARow.ResultCode)))
    text = QString::number(ARow.ResultCode) + QStringLiteral(": ") + text;
  return text;
}

struct TColumn {
  const char* Caption;
  QString (*Text)(const TJournalRecord&);
};

// The operator's columns; the CSV file carries every field.
constexpr TColumn kColumns[] = {
    {"Время", LocalTime},
    {"Операция", [](const TJournalRecord& r) { return Q(OperationText(r.Operation)); }},
    {"UID карты", [](const TJournalRecord& r) { return Q(r.CardUid); }},
    {"Код", [](const TJournalRecord& r) { return Q(r.CodeDec); }},
    {"Код (hex)", [](const TJournalRecord& r) { return Q(r.CodeHex); }},
    {"Проверка", [](const TJournalRecord& r) { return Q(VerifyOutcomeText(r.Verify)); }},
    {"Результат", ResultText},
    {"Тип карты", [](const TJournalRecord& r) { return Q(r.CardType); }},
    {"Блок", [](const TJournalRecord& r) { return OptNumber(r.Block); }},
    {"Смещение", [](const TJournalRecord& r) { return OptNumber(r.Offset); }},
    {"Размер", [](const TJournalRecord& r) { return OptNumber(r.Size); }},
    {"Формат", [](const TJournalRecord& r) { return Q(r.Layout); }},
    {"Эмитент", [](const TJournalRecord& r) { return OptNumber(r.Emitent); }},
    {"Эмиссия", [](const TJournalRecord& r) { return OptNumber(r.Emission); }},
    {"Порт", [](const TJournalRecord& r) { return Q(r.ReaderPort); }},
    {"Версия считывателя", [](const TJournalRecord& r) { return Q(r.Firmware); }},
    {"Рабочее место", [](const TJournalRecord& r) { return Q(r.Station); }},
    {"Оператор", [](const TJournalRecord& r) { return Q(r.Login); }},
};

bool Failed(const TJournalRecord& ARow) {
  switch (ARow.Verify) {
    case TVerifyOutcome::ReadBackDiffers:
    case TVerifyOutcome::ReaderReportsOther:
    case TVerifyOutcome::ReaderCannotRead:
      return true;
    case TVerifyOutcome::Verified:
    case TVerifyOutcome::NotChecked:
      break;
  }
  return ARow.ResultCode != 0;
}

std::chrono::system_clock::time_point LocalMidnight(const QDate& ADay) {
  return std::chrono::system_clock::time_point(
      std::chrono::milliseconds(QDateTime(ADay, QTime(0, 0)).toMSecsSinceEpoch()));
}

bool HasHexLetter(const std::string& AText) {
  for (const char c : AText)
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
      return true;
  return false;
}

std::string Trimmed(const std::string& AText) {
  return QString::fromStdString(AText).trimmed().toStdString();
}

QString AskWithFileDialog(QWidget* AParent, const QString& ASuggested) {
  return QFileDialog::getSaveFileName(AParent, QStringLiteral("Экспорт журнала"), ASuggested,
                                      QStringLiteral("CSV (*.csv)"));
}

}  // namespace

std::variant<TJournalFilter, std::string> JournalFilterOf(const std::string& ACode,
                                                          const std::string& AUid,
                                                          std::optional<QDate> ASince,
                                                          std::optional<QDate> AUntil) {
  TJournalFilter filter;
  const std::string code = Trimmed(ACode);
  if (!code.empty()) {
    const bool hex = code.rfind("0x", 0) == 0 || code.rfind("0X", 0) == 0 || HasHexLetter(code);
    const auto normal = hex ? NormalizeCodeHex(code) : CodeDecimalToHex(code);
    if (!normal)
      return "Код карты «" + code + "» не является числом.";
    filter.CodeHex = *normal;
  }
  const std::string uid = Trimmed(AUid);
  if (!uid.empty()) {
    if (!NormalizeCodeHex(uid) || uid.rfind("0x", 0) == 0 || uid.rfind("0X", 0) == 0)
      return "UID «" + uid + "» должен состоять из шестнадцатеричных цифр.";
    filter.CardUid = uid;
  }
  if (ASince && AUntil && *AUntil < *ASince)
    return std::string("Начальная дата позже конечной.");
  if (ASince)
    filter.Since = LocalMidnight(*ASince);
  if (AUntil)
    filter.Until = LocalMidnight(AUntil->addDays(1));
  return filter;
}

TJournalDialog::TJournalDialog(IJournal* AJournal, const QString& AUnavailable, QWidget* AParent)
    : QDialog(AParent),
      ui(std::make_unique<Ui::TJournalDialog>()),
      FJournal(AJournal),
      FUnavailable(AUnavailable),
      FAskSavePath(AskWithFileDialog) {
  ui->setupUi(this);
  const QDate today = QDate::currentDate();
  ui->deSince->setDate(today.addDays(-30));
  ui->deUntil->setDate(today);
  SetupTable();
  connect(ui->btnFind, &QPushButton::clicked, this, &TJournalDialog::Refresh);
  connect(ui->btnExport, &QPushButton::clicked, this, &TJournalDialog::btnExportClick);
  for (QLineEdit* edit : {ui->edtCode, ui->edtUid})
    connect(edit, &QLineEdit::returnPressed, this, &TJournalDialog::Refresh);
  if (!FJournal) {
    for (QWidget* w : {static_cast<QWidget*>(ui->btnFind), static_cast<QWidget*>(ui->btnExport)})
      w->setEnabled(false);
    ShowInfo(FUnavailable.isEmpty() ? QStringLiteral("Журнал недоступен.") : FUnavailable, true);
    return;
  }
  Refresh();
}

TJournalDialog::~TJournalDialog() = default;

void TJournalDialog::SetupTable() {
  QTableWidget* t = ui->tblRows;
  t->setColumnCount(static_cast<int>(std::size(kColumns)));
  QStringList captions;
  for (const TColumn& c : kColumns)
    captions << QString::fromUtf8(c.Caption);
  t->setHorizontalHeaderLabels(captions);
  t->verticalHeader()->setVisible(false);
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
  t->horizontalHeader()->setStretchLastSection(true);
}

std::optional<TJournalFilter> TJournalDialog::FilterOrSay() {
  auto filter =
      JournalFilterOf(ui->edtCode->text().toStdString(), ui->edtUid->text().toStdString(),
                      ui->chSince->isChecked() ? std::optional(ui->deSince->date()) : std::nullopt,
                      ui->chUntil->isChecked() ? std::optional(ui->deUntil->date()) : std::nullopt);
  if (const auto* error = std::get_if<std::string>(&filter)) {
    ShowInfo(Q(*error), true);
    return std::nullopt;
  }
  return std::get<TJournalFilter>(filter);
}

bool TJournalDialog::Refresh() {
  if (!FJournal)
    return false;
  FRows.clear();
  auto filter = FilterOrSay();
  if (!filter) {
    FillTable();
    return false;
  }
  filter->Limit = kMaxRows;
  auto rows = FJournal->Query(*filter);
  if (!rows) {
    FillTable();
    ShowInfo(Q(rows.error().Message), true);
    return false;
  }
  FRows = std::move(rows).value();
  FillTable();
  QString info = QStringLiteral("Записей: %1").arg(FRows.size());
  if (FRows.size() == kMaxRows)
    info += QStringLiteral(" (показаны последние %1; экспорт сохранит все)").arg(kMaxRows);
  ShowInfo(info, false);
  return true;
}

void TJournalDialog::FillTable() {
  QTableWidget* t = ui->tblRows;
  t->setUpdatesEnabled(false);
  t->clearContents();
  t->setRowCount(static_cast<int>(FRows.size()));
  for (int row = 0; row < static_cast<int>(FRows.size()); ++row) {
    const TJournalRecord& r = FRows[static_cast<std::size_t>(row)];
    const bool failed = Failed(r);
    for (int col = 0; col < static_cast<int>(std::size(kColumns)); ++col) {
      auto* item = new QTableWidgetItem(kColumns[col].Text(r));
      if (failed)
        item->setForeground(kErrorColor);
      t->setItem(row, col, item);
    }
  }
  t->resizeColumnsToContents();
  t->setUpdatesEnabled(true);
}

void TJournalDialog::ShowInfo(const QString& AText, bool AError) {
  FInfoIsError = AError;
  ui->lInfo->setText(AText);
  QPalette p = ui->lInfo->palette();
  p.setColor(QPalette::WindowText, AError ? kErrorColor : palette().color(QPalette::WindowText));
  ui->lInfo->setPalette(p);
}

QString TJournalDialog::InfoText() const {
  return ui->lInfo->text();
}

bool TJournalDialog::ExportCsv(const QString& APath) {
  if (!FJournal)
    return false;
  auto filter = FilterOrSay();
  if (!filter)
    return false;
  auto rows = FJournal->Query(*filter);
  if (!rows) {
    ShowInfo(Q(rows.error().Message), true);
    return false;
  }
  const std::string csv = JournalToCsv(rows.value());
  QSaveFile file(APath);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.commit()) {
    ShowInfo(QStringLiteral("Не удалось сохранить файл %1: %2").arg(APath, file.errorString()),
             true);
    return false;
  }
  ShowInfo(QStringLiteral("Сохранено записей: %1 в файл %2")
               .arg(rows.value().size())
               .arg(QDir::toNativeSeparators(APath)),
           false);
  return true;
}

void TJournalDialog::btnExportClick() {
  const QString suggested =
      QDir::home().filePath(QStringLiteral("journal-%1.csv")
                                .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
  const QString path = FAskSavePath ? FAskSavePath(this, suggested) : QString();
  if (!path.isEmpty())
    ExportCsv(path);
}

}  // namespace kiren
