// The journal window over a real SQLite journal, the "Журнал выдачи…" menu item, and the
// access conditions the block-read tab shows for a sector trailer.
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QTableWidget>
#include <QTest>
#include <chrono>

#include "journal/sqlite_journal.h"
#include "sim/card.h"
#include "ui/journal_dialog.h"
#include "window_fixture.h"

namespace kiren::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

std::string FilterError(const std::string& ACode, const std::string& AUid,
                        std::optional<QDate> ASince = {}, std::optional<QDate> AUntil = {}) {
  const auto f = JournalFilterOf(ACode, AUid, ASince, AUntil);
  return std::holds_alternative<std::string>(f) ? std::get<std::string>(f) : std::string();
}

TEST(JournalFilterOf, CodeUidAndDays) {
  const struct {
    const char* Code;
    std::string Hex;
  } codes[] = {{"300", "12C"},   {" 0300 ", "12C"},
               {"0x12c", "12C"}, {"12C", "12C"},
               {"00FF", "FF"},   {"", ""},
               {"0", "0"},       {"18446744073709551616", "10000000000000000"}};
  for (const auto& c : codes) {
    SCOPED_TRACE(c.Code);
    const auto f = JournalFilterOf(c.Code, "", {}, {});
    ASSERT_TRUE(std::holds_alternative<TJournalFilter>(f)) << std::get<std::string>(f);
    EXPECT_EQ(std::get<TJournalFilter>(f).CodeHex, c.Hex);
  }
  for (const char* bad : {"12,5", "0x", "-1", "код"})
    EXPECT_NE(FilterError(bad, ""), "") << bad;
  for (const char* bad : {"04:A1", "0x04A1", "UID"})
    EXPECT_NE(FilterError("", bad), "") << bad;
  EXPECT_EQ(FilterError("", "04 a1 b2 0c"), "");

  // The last day counts whole: the range ends at the next local midnight.
  const QDate day(2026, 12, 11);
  const auto f = std::get<TJournalFilter>(JournalFilterOf("", "", day, day));
  EXPECT_EQ(*f.Until - *f.Since, 24h);
  EXPECT_EQ(
      std::chrono::duration_cast<std::chrono::milliseconds>(f.Since->time_since_epoch()).count(),
      QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch());
  EXPECT_NE(FilterError("", "", day, day.addDays(-1)), "");
}

class TJournalDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    auto journal = OpenSqliteJournal(Path("journal.sqlite3"));
    ASSERT_TRUE(journal) << journal.error().Message;
    Journal = std::move(journal).value();
  }
  std::string Path(const char* AName) const { return (FDir.path() + "/" + AName).toStdString(); }
  void Add(const char* AUid, const char* ACodeHex, Clock::time_point ATime,
           TVerifyOutcome AVerify = TVerifyOutcome::Verified) {
    TJournalRecord r;
    r.Time = ATime;
    r.Station = "station";
    r.Login = "operator";
    r.ReaderPort = "/dev/pts/3";
    r.Firmware = "Kiren-M1 v5.3";
    r.CardUid = AUid;
    r.CardType = "Mifare Classic 1K";
    r.Block = 4;
    r.Offset = 0;
    r.Size = 4;
    r.CodeHex = ACodeHex;
    r.ResultText = "Операция выполнена успешно";
    r.Verify = AVerify;
    ASSERT_TRUE(Journal->Append(r));
  }
  template <typename T>
  T* Get(TJournalDialog& ADialog, const char* AName) const {
    T* w = ADialog.findChild<T*>(QString::fromLatin1(AName));
    EXPECT_NE(w, nullptr) << AName;
    return w;
  }
  static std::vector<std::string> Uids(const TJournalDialog& ADialog) {
    std::vector<std::string> out;
    for (const auto& r : ADialog.Rows())
      out.push_back(r.CardUid);
    return out;
  }

  QTemporaryDir FDir;
  std::unique_ptr<IJournal> Journal;
  const Clock::time_point Now = Clock::now();
};

TEST_F(TJournalDialogTest, NewestFirstAndFilters) {
  Add("04A1B20C", "12C", Now - 72h);
  Add("04A1B20D", "12D", Now - 1h, TVerifyOutcome::ReaderReportsOther);
  Add("04A1B20C", "12D", Now - 2h);
  TJournalDialog dialog(Journal.get(), {});
  EXPECT_EQ(Uids(dialog), (std::vector<std::string>{"04A1B20D", "04A1B20C", "04A1B20C"}));
  EXPECT_FALSE(dialog.InfoIsError());
  EXPECT_EQ(dialog.InfoText(), QStringLiteral("Записей: 3"));
  auto* table = Get<QTableWidget>(dialog, "tblRows");
  ASSERT_EQ(table->rowCount(), 3);
  EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("04A1B20D"));
  EXPECT_EQ(table->item(0, 3)->text(), QStringLiteral("301"));
  // A row whose check failed stands out in red.
  EXPECT_EQ(table->item(0, 0)->foreground().color(), QColor(255, 0, 0));
  EXPECT_NE(table->item(1, 0)->foreground().color(), QColor(255, 0, 0));

  auto* code = Get<QLineEdit>(dialog, "edtCode");
  auto* uid = Get<QLineEdit>(dialog, "edtUid");
  auto* find = Get<QPushButton>(dialog, "btnFind");
  code->setText("301");  // decimal, as the card-code field shows it
  find->click();
  EXPECT_EQ(Uids(dialog), (std::vector<std::string>{"04A1B20D", "04A1B20C"}));
  uid->setText("04 a1 b2 0c");
  find->click();
  EXPECT_EQ(Uids(dialog), (std::vector<std::string>{"04A1B20C"}));
  code->clear();
  QTest::keyClick(uid, Qt::Key_Return);
  EXPECT_EQ(dialog.Rows().size(), 2u);

  // Days: the row of three days ago is left out by a range of the last two days.
  uid->clear();
  Get<QCheckBox>(dialog, "chSince")->setChecked(true);
  EXPECT_TRUE(Get<QDateEdit>(dialog, "deSince")->isEnabled());
  Get<QDateEdit>(dialog, "deSince")->setDate(QDate::currentDate().addDays(-1));
  Get<QCheckBox>(dialog, "chUntil")->setChecked(true);
  Get<QDateEdit>(dialog, "deUntil")->setDate(QDate::currentDate());
  find->click();
  EXPECT_EQ(Uids(dialog), (std::vector<std::string>{"04A1B20D", "04A1B20C"}));
  Get<QDateEdit>(dialog, "deUntil")->setDate(QDate::currentDate().addDays(-2));
  find->click();
  EXPECT_TRUE(dialog.Rows().empty());
  EXPECT_TRUE(dialog.InfoIsError());
  EXPECT_EQ(table->rowCount(), 0);

  // A code that is no number is said in red; nothing is shown.
  Get<QCheckBox>(dialog, "chSince")->setChecked(false);
  Get<QCheckBox>(dialog, "chUntil")->setChecked(false);
  code->setText("12;5");
  EXPECT_FALSE(dialog.Refresh());
  EXPECT_TRUE(dialog.InfoIsError());
  EXPECT_TRUE(dialog.InfoText().contains("12;5"));
  EXPECT_EQ(table->rowCount(), 0);
}

TEST_F(TJournalDialogTest, ExportsTheFilteredRowsAsCsv) {
  Add("04A1B20C", "12C", Now - 2h);
  Add("04A1B20D", "12D", Now - 1h);
  TJournalDialog dialog(Journal.get(), {});
  const QString file = FDir.path() + "/export.csv";
  QString suggested;
  dialog.SetAskSavePath([&](QWidget*, const QString& ASuggested) {
    suggested = ASuggested;
    return file;
  });
  Get<QLineEdit>(dialog, "edtUid")->setText("04A1B20D");
  Get<QPushButton>(dialog, "btnFind")->click();
  Get<QPushButton>(dialog, "btnExport")->click();
  EXPECT_TRUE(suggested.endsWith(".csv"));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray csv = f.readAll();
  EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
  const QList<QByteArray> lines = csv.trimmed().split('\n');
  ASSERT_EQ(lines.size(), 2);  // header and the one row the filter selects
  EXPECT_TRUE(lines[0].contains(";"));
  EXPECT_TRUE(lines[1].contains("04A1B20D"));
  EXPECT_FALSE(dialog.InfoIsError());
  EXPECT_TRUE(dialog.InfoText().contains("1")) << dialog.InfoText().toStdString();

  // A folder that does not exist: said in red, nothing written.
  EXPECT_FALSE(dialog.ExportCsv(FDir.path() + "/no/such/dir/x.csv"));
  EXPECT_TRUE(dialog.InfoIsError());
  // Cancelling the file dialog writes nothing and says nothing new.
  dialog.SetAskSavePath([](QWidget*, const QString&) { return QString(); });
  const QString before = dialog.InfoText();
  Get<QPushButton>(dialog, "btnExport")->click();
  EXPECT_EQ(dialog.InfoText(), before);
}

TEST_F(TJournalDialogTest, WithoutJournalSaysWhyAndCloses) {
  TJournalDialog dialog(nullptr, QStringLiteral("Журнал занят другой программой."));
  dialog.show();
  EXPECT_TRUE(dialog.InfoIsError());
  EXPECT_EQ(dialog.InfoText(), QStringLiteral("Журнал занят другой программой."));
  EXPECT_FALSE(Get<QPushButton>(dialog, "btnExport")->isEnabled());
  EXPECT_FALSE(dialog.Refresh());
  Get<QPushButton>(dialog, "btnClose")->click();
  EXPECT_FALSE(dialog.isVisible());
}

class TWindowJournalTest : public TWindowReaderTest {};

TEST_F(TWindowJournalTest, MenuOpensOneJournalWindowOverTheWindowsJournal) {
  CreateWindow();
  ASSERT_NE(Window->Journal(), nullptr) << Window->JournalError().toStdString();
  EXPECT_TRUE(QFile::exists(JournalPath()));
  Action("miJournal")->trigger();
  auto* dialog = Window->findChild<TJournalDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->InfoText(), QStringLiteral("Записей: 0"));
  EXPECT_EQ(Window->ShowJournalDialog(), dialog);  // the same window again, refreshed
  dialog->close();
  QTest::qWait(0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(Window->findChild<TJournalDialog*>(), nullptr);
}

TEST_F(TWindowJournalTest, JournalThatCannotOpenIsSaidInItsWindow) {
  ASSERT_TRUE(QFile(JournalPath()).open(QIODevice::WriteOnly));
  {
    QFile f(JournalPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database, only text that fills the header of the file");
  }
  CreateWindow();
  EXPECT_EQ(Window->Journal(), nullptr);
  EXPECT_FALSE(Window->JournalError().isEmpty());
  TJournalDialog* dialog = Window->ShowJournalDialog();
  EXPECT_TRUE(dialog->InfoIsError());
  EXPECT_EQ(dialog->InfoText(), Window->JournalError());
}

// Reading a sector trailer shows its access conditions in words; a data block clears them.
TEST_F(TWindowJournalTest, TrailerReadShowsAccessConditions) {
  WriteSmbConf("REROD");  // the block-read tab
  Firmware.PutCard(sim::NewClassic1K({0x04, 0xA1, 0xB2, 0x0C}));
  StartReader({});
  CreateWindow();
  ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
  Get<QPushButton>("bOpen")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->CardIsHere(); }, 15000));
  auto* memo = Get<QPlainTextEdit>("mAccessConditions");
  const auto read = [&](int ABlock) {
    Window->Status().Clear();
    Get<QSpinBox>("seReadBlock")->setValue(ABlock);
    Get<QPushButton>("btnReadBlock")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, 15000));
    EXPECT_EQ(StatusText(), QStringLiteral("Операция выполнена успешно"));
  };
  read(7);
  EXPECT_TRUE(Edit("edtValueBlock")->text().contains("FF 07 80 69"));
  const QString text = memo->toPlainText();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Блок 7 — трейлер сектора 1\n")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("байты 6–8 FF 07 80"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Блок 4"))) << text.toStdString();
  EXPECT_TRUE(memo->isReadOnly());
  // With KIREN_TRAILER_SHOT set to a file name, the window is saved there (run under Xvfb with
  // QT_QPA_PLATFORM=xcb to see the fonts an operator sees).
  if (const QString shot = qEnvironmentVariable("KIREN_TRAILER_SHOT"); !shot.isEmpty()) {
    Window->show();
    Get<QTabWidget>("PageControl1")->setCurrentWidget(Get<QWidget>("tsReadBlock"));
    QTest::qWait(100);
    EXPECT_TRUE(Window->grab().save(shot)) << shot.toStdString();
  }
  read(4);
  EXPECT_TRUE(memo->toPlainText().isEmpty());
  // The tab's own controls stay where they were.
  EXPECT_TRUE(Edit("edtValueBlock")->isReadOnly());
}

}  // namespace
}  // namespace kiren::test
