// "Журнал выдачи": the issuance journal's rows in a table, newest first, filtered by card code,
// UID and a range of days, and exported to CSV for spreadsheets.
#pragma once

#include <QDate>
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "journal/journal.h"

namespace Ui {
class TJournalDialog;
}

namespace kiren {

// The filter the dialog's fields give: code (decimal digits, or hexadecimal with "0x" or with
// a letter A-F), UID and days (both inclusive, local time). A text to show when a field cannot
// be used.
std::variant<TJournalFilter, std::string> JournalFilterOf(const std::string& ACode,
                                                          const std::string& AUid,
                                                          std::optional<QDate> ASince,
                                                          std::optional<QDate> AUntil);

class TJournalDialog : public QDialog {
  Q_OBJECT

 public:
  // Asks where to save the CSV file, ASuggested being the proposed name; empty: cancelled.
  using TAskSavePath = std::function<QString(QWidget* AParent, const QString& ASuggested)>;

  // AJournal may be null (no journal could be opened): the dialog then shows AUnavailable.
  // The journal must outlive the dialog.
  TJournalDialog(IJournal* AJournal, const QString& AUnavailable, QWidget* AParent = nullptr);
  ~TJournalDialog() override;

  // Replaces the file dialog (tests, scripts).
  void SetAskSavePath(TAskSavePath AAsk) { FAskSavePath = std::move(AAsk); }

  // Runs the query of the filter fields and fills the table. False when it failed (the
  // dialog then says why).
  bool Refresh();
  // Writes the rows the filter selects (all of them, not only those shown) to APath.
  bool ExportCsv(const QString& APath);
  // The rows in the table, newest first.
  const std::vector<TJournalRecord>& Rows() const { return FRows; }
  // The text below the table: the number of rows, or what went wrong.
  QString InfoText() const;
  bool InfoIsError() const { return FInfoIsError; }

  // At most this many rows are shown (the newest); the export takes all of them.
  static constexpr std::size_t kMaxRows = 5000;

 private:
  void SetupTable();
  void FillTable();
  void ShowInfo(const QString& AText, bool AError);
  void btnExportClick();
  std::optional<TJournalFilter> FilterOrSay();

  std::unique_ptr<Ui::TJournalDialog> ui;
  IJournal* FJournal;
  QString FUnavailable;
  std::vector<TJournalRecord> FRows;
  bool FInfoIsError = false;
  TAskSavePath FAskSavePath;
};

}  // namespace kiren
