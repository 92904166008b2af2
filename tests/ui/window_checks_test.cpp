// Checked card operations in the window against the virtual reader: the verdict in the status
// bar, the card panel after the write, a journal row for every attempt, the duplicate-code
// question and the question before working without a journal.
#include <QFile>
#include <QTest>

#include "journal/journal.h"
#include "operator/texts.h"
#include "protocol/records.h"
#include "sim/card.h"
#include "sim/faults.h"
#include "ui/journal_dialog.h"
#include "window_fixture.h"

namespace kiren::test {
namespace {

constexpr int kWaitMs = 15000;
const QString kOk = QStringLiteral("Операция выполнена успешно");
const Bytes kUidA{0x04, 0xA1, 0xB2, 0x0C};
const Bytes kUidB{0x04, 0xA1, 0xB2, 0x0D};

class TWindowChecks : public TWindowReaderTest {
 protected:
  void SetUp() override {
    TWindowReaderTest::SetUp();
    Firmware.PutCard(sim::NewClassic1K(kUidA));
    StartReader({});
  }
  void Connect() {
    if (!Window)
      CreateWindow();
    ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->CardIsHere(); }, kWaitMs));
  }
  QString CardText() const { return Get<QPlainTextEdit>("mCardInfo")->toPlainText(); }
  void SwapCard(const Bytes& AUid, const QString& AShownUid) {
    Firmware.RemoveCard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->CardIsHere(); }, kWaitMs));
    Firmware.PutCard(sim::NewClassic1K(AUid));
    ASSERT_TRUE(QTest::qWaitFor([&] { return CardText().contains(AShownUid); }, kWaitMs));
  }
  // Clicks "Записать" on the card-code tab and waits for the verdict.
  QString Write() {
    Window->Status().Clear();
    Get<QPushButton>("bEmitCard")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, kWaitMs));
    QTest::qWait(20);  // the posted warning box, if any
    return StatusText();
  }
  std::vector<TJournalRecord> Rows() const {
    auto rows = Window->Journal()->Query({});
    EXPECT_TRUE(rows) << rows.error().Message;
    return rows ? rows.value() : std::vector<TJournalRecord>{};
  }
};

TEST_F(TWindowChecks, VerifiedWriteIsGreenWithTheCodeTheReaderReports) {
  Connect();
  TJournalDialog* journal = Window->ShowJournalDialog();  // open beside the window
  ASSERT_TRUE(journal->Rows().empty());
  Edit("beCardCode")->setText("300");
  ASSERT_FALSE(CardText().contains("000000012C"));
  EXPECT_EQ(Write(), kOk);
  EXPECT_EQ(StatusColor(), TStatusInformer::kInfoColor);
  // The panel shows what the reader now reports, without waiting for the card to come again.
  EXPECT_TRUE(CardText().contains("000000012C")) << CardText().toStdString();
  EXPECT_TRUE(CardText().contains("UID: 04A1B20C"));
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("301"));
  EXPECT_TRUE(Sink->Boxes().empty());
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Operation, TJournalOperation::CardCodeWrite);
  EXPECT_EQ(rows[0].CardUid, "04A1B20C");
  EXPECT_EQ(rows[0].CodeHex, "12C");
  EXPECT_EQ(rows[0].CodeDec, "300");
  EXPECT_EQ(rows[0].Block, 4);
  EXPECT_EQ(rows[0].Size, 5);
  EXPECT_EQ(rows[0].Firmware, "Kiren-M1 v5.3");
  EXPECT_EQ(rows[0].ReaderPort, Host->PortName());
  EXPECT_EQ(rows[0].Verify, TVerifyOutcome::Verified);
  EXPECT_EQ(journal->Rows().size(), 1u);  // the open journal window follows

  // The emission-parameter write is journaled as well.
  Window->Status().Clear();
  Get<QPushButton>("bWritePercoStt")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, kWaitMs));
  EXPECT_EQ(StatusText(), kOk);
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].Operation, TJournalOperation::EmissionWrite);
}

// Each fault of the reader or the card gives its own red message, the counter still moves
// (the code may be on the card) and the journal keeps the attempt with its outcome.
TEST_F(TWindowChecks, EachFaultShowsItsOwnRedMessage) {
  const auto faults = [](auto ASet) {
    sim::TFaults f;
    ASet(f);
    return f;
  };
  const struct {
    const char* Name;
    sim::TFaults Faults;
    TVerifyOutcome Outcome;
  } cases[] = {
      {"acknowledged but not stored", faults([](sim::TFaults& f) {
         f.WriteNotStored = true;
         f.Count = 1;  // the code block; the trailer is written
       }),
       TVerifyOutcome::ReadBackDiffers},
      {"stored partly", faults([](sim::TFaults& f) {
         f.WritePartial = 2;
         f.Count = 1;
       }),
       TVerifyOutcome::ReadBackDiffers},
      {"emission from another block", faults([](sim::TFaults& f) { f.EmissionBlock = 5; }),
       TVerifyOutcome::ReaderReportsOther},
      {"emission with another key",
       faults([](sim::TFaults& f) { f.EmissionKey = sim::TKey6{1, 2, 3, 4, 5, 6}; }),
       TVerifyOutcome::ReaderCannotRead},
  };
  Connect();
  Edit("beCardCode")->setText("500");
  std::vector<std::string> messages;
  int code = 500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes uid = kUidA;
    uid.back() = static_cast<std::uint8_t>(0x20 + messages.size());
    SwapCard(uid, QString::fromStdString(BytesToHex(uid)));
    Sink->Clear();
    Firmware.SetFaults(c.Faults);
    const QString status = Write();
    Firmware.SetFaults({});
    EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
    EXPECT_TRUE(status.startsWith(QStringLiteral("Код записан, но проверка не пройдена")))
        << status.toStdString();
    EXPECT_EQ(Edit("beCardCode")->text(), QString::number(++code));
    const auto warnings = Sink->Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    messages.push_back(warnings[0]);
    const auto rows = Rows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].CardUid, BytesToHex(uid));
    EXPECT_EQ(rows[0].Verify, c.Outcome);
    EXPECT_EQ(rows[0].ResultCode, 0);
  }
  EXPECT_NE(messages[0].find("Блок 4 после записи"), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("Блок 4 после записи"), std::string::npos) << messages[1];
  for (std::size_t i = 0; i < messages.size(); ++i)
    for (std::size_t j = i + 1; j < messages.size(); ++j)
      EXPECT_NE(messages[i], messages[j]) << cases[i].Name << " / " << cases[j].Name;
  EXPECT_EQ(Rows().size(), std::size(cases));
}

TEST_F(TWindowChecks, DuplicateCodeAsksAndNoStopsTheWrite) {
  Connect();
  Edit("beCardCode")->setText("700");
  ASSERT_EQ(Write(), kOk);
  // The same code again on the same card is a repair: no question.
  Edit("beCardCode")->setText("700");
  ASSERT_EQ(Write(), kOk);
  EXPECT_TRUE(Sink->Boxes().empty());
  SwapCard(kUidB, QStringLiteral("04A1B20D"));
  const sim::TBlock16 before = Firmware.Card()->RawBlock(4);

  Edit("beCardCode")->setText("700");
  Sink->Answer = false;
  const QString refused = Write();
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
  EXPECT_TRUE(refused.contains(QStringLiteral("04A1B20C"))) << refused.toStdString();
  ASSERT_EQ(Sink->Boxes().size(), 1u);
  EXPECT_EQ(Sink->Boxes()[0].Kind, "question");
  EXPECT_EQ(Sink->Boxes()[0].Caption, "Повтор кода карты");
  EXPECT_NE(Sink->Boxes()[0].Text.find("04A1B20C"), std::string::npos);
  EXPECT_EQ(Firmware.Card()->RawBlock(4), before);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("700"));
  EXPECT_EQ(Rows().size(), 2u);

  Sink->Clear();
  Sink->Answer = true;
  EXPECT_EQ(Write(), kOk);
  EXPECT_EQ(Sink->Boxes().size(), 1u);
  EXPECT_EQ(Rows().size(), 3u);
}

// Issue and clear: checked, journaled, and the panel shows the reader's new report at once.
TEST_F(TWindowChecks, IssueAndClearAreCheckedAndJournaled) {
  WriteSmbConf("REROD");  // the issue tab
  Connect();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Get<QPushButton>("btnIssue")->isEnabled(); }, kWaitMs));
  Get<QComboBox>("cbVarIssue")->setCurrentIndex(0);
  Get<QSpinBox>("seCodeEmitent")->setValue(100);
  Get<QSpinBox>("seCodeEmission")->setValue(7);
  const QString before = CardText();
  Window->Status().Clear();
  Get<QPushButton>("btnIssue")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, kWaitMs));
  EXPECT_EQ(StatusText(), kOk);
  EXPECT_NE(CardText(), before);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Operation, TJournalOperation::Issue);
  EXPECT_EQ(rows[0].Emitent, 100u);
  EXPECT_EQ(rows[0].Emission, 7u);
  EXPECT_EQ(rows[0].Verify, TVerifyOutcome::Verified);

  Window->Status().Clear();
  Action("miClearCard")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, kWaitMs));
  EXPECT_EQ(StatusText(), kOk);
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Operation, TJournalOperation::Clear);
  EXPECT_EQ(rows[0].Verify, TVerifyOutcome::Verified);
  // Nothing left to clear: the usual message, and the attempt is journaled all the same.
  Window->Status().Clear();
  Action("miClearCard")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !StatusText().isEmpty(); }, kWaitMs));
  EXPECT_EQ(StatusText(), QString::fromStdString(op::kMsgNothingToClear));
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].ResultCode, 8);
}

TEST_F(TWindowChecks, WithoutJournalTheWindowAsksBeforeWriting) {
  {
    QFile f(JournalPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database, only text that fills the header of the file");
  }
  CreateWindow();
  ASSERT_EQ(Window->Journal(), nullptr);
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);  // said at start
  EXPECT_FALSE(StatusText().isEmpty());
  Connect();
  const sim::TBlock16 before = Firmware.Card()->RawBlock(4);
  Edit("beCardCode")->setText("900");
  Sink->Answer = false;
  Write();
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
  ASSERT_EQ(Sink->Boxes().size(), 1u);
  EXPECT_EQ(Sink->Boxes()[0].Caption, op::kMsgJournalCaption);
  EXPECT_EQ(Firmware.Card()->RawBlock(4), before);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("900"));

  Sink->Clear();
  Sink->Answer = true;
  EXPECT_TRUE(Write().startsWith(kOk));
  EXPECT_EQ(StatusColor(), TStatusInformer::kInfoColor);
  EXPECT_EQ(Sink->Boxes().size(), 1u);
  EXPECT_NE(Firmware.Card()->RawBlock(4), before);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("901"));
  // Asked once: the answer holds for the next writes.
  Sink->Clear();
  EXPECT_TRUE(Write().startsWith(kOk));
  EXPECT_TRUE(Sink->Boxes().empty());
}

}  // namespace
}  // namespace kiren::test
