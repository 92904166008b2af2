// Whole operator workflows: the window offscreen, a real device worker, and a virtual reader
// on a pseudo-terminal.
#include <QTest>
#include <filesystem>

#include "logging/dbg_logger.h"
#include "operator/input.h"
#include "operator/texts.h"
#include "serial/virtual_readers.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "window_fixture.h"

namespace kiren::test {
namespace {

constexpr int kWaitMs = 15000;
const Bytes kUid{0x04, 0xA1, 0xB2, 0x0C};

class TWindowE2E : public TWindowReaderTest {
 protected:
  void SetUp() override {
    TWindowReaderTest::SetUp();
    StartReader({"ttyACM9"});
  }

  // Creates the window, selects the virtual reader and opens it; waits for the first card
  // poll, which comes after the version and the configuration.
  void Connect() {
    if (!Window)
      CreateWindow();
    ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(WaitFor([&] { return !Panel0().isEmpty(); }));
  }
  void Disconnect() {
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(WaitFor([&] { return !Window->Connected(); }));
  }
  template <typename F>
  bool WaitFor(F APredicate, int AMs = kWaitMs) {
    return QTest::qWaitFor(APredicate, AMs);
  }
  QString CardText() const { return Get<QPlainTextEdit>("mCardInfo")->toPlainText(); }
  bool WaitCardText(const QString& APart) {
    return WaitFor([&] { return CardText().contains(APart); });
  }
  // Re-presents the card so that the worker reads its content again.
  void RepresentCard() {
    const auto card = Firmware.Card();
    ASSERT_TRUE(card);
    Firmware.RemoveCard();
    ASSERT_TRUE(WaitCardText("Нет карты"));
    Firmware.PutCard(*card);
    ASSERT_TRUE(WaitCardText("UID"));
  }
  // Clicks, then waits for the informer's next message.
  QString Run(QAbstractButton* AButton) {
    Window->Status().Clear();
    AButton->click();
    WaitFor([&] { return !StatusText().isEmpty(); });
    return StatusText();
  }
  QString Run(QAction* AAction) {
    Window->Status().Clear();
    AAction->trigger();
    WaitFor([&] { return !StatusText().isEmpty(); });
    return StatusText();
  }
  sim::TBlock16 Block(int ANo) const { return Firmware.Card()->RawBlock(ANo); }
};

const QString kOk = QStringLiteral("Операция выполнена успешно");

TEST_F(TWindowE2E, ConnectShowCardAndClose) {
  CreateWindow();
  auto* port = Get<QComboBox>("cbPort");
  EXPECT_NE(port->findText(QString::fromStdString(Host->PortName())), -1);
  Connect();
  EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Закрыть"));
  EXPECT_FALSE(port->isEnabled());
  auto* ver = Get<QLabel>("lVerInfo");
  EXPECT_EQ(ver->text(), QStringLiteral("Kiren-M1 v5.3"));
  EXPECT_EQ(ver->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_TRUE(Get<QPushButton>("bWritePercoStt")->isEnabled());
  EXPECT_TRUE(Action("pmiReadConfig")->isEnabled());
  EXPECT_TRUE(Action("miSetMode")->isEnabled());
  // Version 5: the configuration arrived with the reader's emission parameters.
  EXPECT_EQ(Edit("beBlockNo")->text(), QStringLiteral("4"));
  EXPECT_EQ(Edit("beSize")->text(), QStringLiteral("5"));
  ASSERT_TRUE(WaitCardText("Нет карты"));
  EXPECT_FALSE(Get<QPushButton>("bEmitCard")->isEnabled());

  Firmware.PutCard(sim::NewClassic1K(kUid));
  ASSERT_TRUE(WaitCardText("UID: 04A1B20C"));
  EXPECT_TRUE(CardText().startsWith("Тип: Mifare Classic 1K\n"));
  EXPECT_EQ(Panel0(), QStringLiteral("Статус: 0x8001"));
  EXPECT_TRUE(Get<QPushButton>("bEmitCard")->isEnabled());
  EXPECT_TRUE(Get<QPushButton>("btnReadBlock")->isEnabled());

  Firmware.RemoveCard();
  ASSERT_TRUE(WaitCardText("Нет карты"));
  EXPECT_FALSE(Get<QPushButton>("bEmitCard")->isEnabled());

  Disconnect();
  EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Открыть"));
  EXPECT_TRUE(port->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("bWritePercoStt")->isEnabled());
  EXPECT_FALSE(Action("pmiReadConfig")->isEnabled());
  EXPECT_EQ(port->currentText(), QString::fromStdString(Host->PortName()));
}

TEST_F(TWindowE2E, VirtualReaderAppearsAndGoesWithoutRestart) {
  const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", FDir.path().toLocal8Bit());
  SystemPorts = true;
  CreateWindow();
  auto* port = Get<QComboBox>("cbPort");
  const QString name = QString::fromStdString(Host->PortName());
  EXPECT_EQ(port->findText(name), -1);
  TVirtualReader reader;
  reader.HardwareID = "USB\\VID_0483&PID_5740&REV_0200";
  reader.FriendlyName = "Кирен-М1 (" + Host->PortName() + ")";
  reader.Port = Host->PortName();
  const std::string entry = RegisterVirtualReader(reader);
  ASSERT_FALSE(entry.empty());
  EXPECT_TRUE(WaitFor([&] { return port->findText(name) != -1; }));
  Connect();
  EXPECT_EQ(Get<QLabel>("lVerInfo")->text(), QStringLiteral("Kiren-M1 v5.3"));
  UnregisterVirtualReader(entry);
  // The list follows while connected; the connection itself is not touched.
  EXPECT_TRUE(WaitFor([&] { return port->findText(name) == -1; }));
  EXPECT_TRUE(Window->Connected());
  Disconnect();
  qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

TEST_F(TWindowE2E, PortThatDoesNotOpenReturnsToClosed) {
  Ports = {"kiren-no-such-port"};
  CreateWindow();
  Get<QPushButton>("bOpen")->click();
  EXPECT_TRUE(Window->Connected());
  ASSERT_TRUE(WaitFor([&] { return !Window->Connected(); }));
  EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Открыть"));
  EXPECT_TRUE(Get<QLabel>("lVerInfo")->text().isEmpty());
  EXPECT_TRUE(Sink->Boxes().empty());
}

TEST_F(TWindowE2E, UnpluggedReaderReturnsToClosedWithoutTheCard) {
  Firmware.PutCard(sim::NewClassic1K(kUid));
  Connect();
  ASSERT_TRUE(WaitFor([&] { return Get<QPushButton>("bEmitCard")->isEnabled(); }));
  Ports = {"ttyACM9"};  // the reader's port leaves the system with it
  Host->Hangup();
  ASSERT_TRUE(WaitFor([&] { return !Window->Connected(); }));
  EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Открыть"));
  EXPECT_TRUE(Get<QComboBox>("cbPort")->isEnabled());
  EXPECT_EQ(Get<QComboBox>("cbPort")->count(), 1);
  EXPECT_EQ(Get<QComboBox>("cbPort")->currentText(), QStringLiteral("ttyACM9"));
  EXPECT_TRUE(CardText().isEmpty()) << CardText().toStdString();
  EXPECT_TRUE(Panel0().isEmpty());
  EXPECT_FALSE(Window->CardIsHere());
  EXPECT_FALSE(Get<QPushButton>("bEmitCard")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("bWritePercoStt")->isEnabled());
  EXPECT_FALSE(Action("pmiReadConfig")->isEnabled());
  // Opening again switches to the open state without a card until the worker reports one.
  Get<QPushButton>("bOpen")->click();
  EXPECT_FALSE(Get<QPushButton>("bEmitCard")->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !Window->Connected(); }));
}

TEST_F(TWindowE2E, OldReaderForcesCodeSize) {
  Firmware.SetVersion("Kiren-M1 v2.7");
  CreateWindow();
  Edit("beSize")->setText("8");
  Connect();
  EXPECT_EQ(Edit("beSize")->text(), QStringLiteral("5"));
  EXPECT_FALSE(Edit("beSize")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>("chLBS")->isHidden());
  EXPECT_FALSE(Action("miSetMode")->isEnabled());
  Disconnect();
  EXPECT_TRUE(Edit("beSize")->isEnabled());
  EXPECT_EQ(Edit("beSize")->text(), QStringLiteral("5"));
}

TEST_F(TWindowE2E, WriteEmissionParameters) {
  Connect();
  Edit("beBlockNo")->setText("8");
  Edit("beOffset")->setText("2");
  Edit("beSize")->setText("6");
  Edit("beKey")->setText("A0 A1 A2 A3 A4 A5");
  Get<QCheckBox>("chLBS")->setChecked(true);
  EXPECT_EQ(Run(Get<QPushButton>("bWritePercoStt")), kOk);
  EXPECT_EQ(StatusColor(), TStatusInformer::kInfoColor);
  const sim::TEmissionParams p = Firmware.EmissionParams();
  EXPECT_EQ(p.BlockNo, 8);
  EXPECT_EQ(p.Offset, 2);
  EXPECT_EQ(p.Size, 6);
  EXPECT_EQ(p.Lbs, 1);
  EXPECT_EQ(p.Key, (sim::TKey6{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
  EXPECT_EQ(Window->Settings().Value("BlockNo"), QString("8"));
  EXPECT_EQ(Window->Settings().Value("Size"), QString("6"));
  EXPECT_EQ(Window->Settings().Value("LBS"), QString("1"));
  // Read back through the configuration command.
  Edit("beBlockNo")->setText("0");
  EXPECT_EQ(Run(Action("pmiReadConfig")), QStringLiteral("Конфигурация успешно считана"));
  EXPECT_EQ(Edit("beBlockNo")->text(), QStringLiteral("8"));
}

TEST_F(TWindowE2E, ReaderBelowVersion4GetsNoByteOrder) {
  Firmware.SetVersion("Kiren-M1 v3.2");
  WriteSettings("[Common]\nLBS=1\n");
  Connect();
  ASSERT_TRUE(Get<QCheckBox>("chLBS")->isChecked());  // checked, but hidden for this reader
  EXPECT_TRUE(Get<QCheckBox>("chLBS")->isHidden());
  Edit("beBlockNo")->setText("8");
  EXPECT_EQ(Run(Get<QPushButton>("bWritePercoStt")), kOk);
  EXPECT_EQ(Firmware.EmissionParams().BlockNo, 8);
  EXPECT_EQ(Firmware.EmissionParams().Lbs, 0);
  EXPECT_EQ(Window->Settings().Value("BlockNo"), QString("8"));
  EXPECT_EQ(Window->Settings().Value("LBS"), QString("1"));  // not written for this reader
}

TEST_F(TWindowE2E, CardCodeWriteIncrementAndReadBack) {
  WriteSmbConf("REROD");  // the block-read tab
  Firmware.PutCard(sim::NewClassic1K(kUid));
  Connect();
  ASSERT_TRUE(WaitCardText("UID"));
  Edit("beBlockNo")->setText("4");
  Edit("beOffset")->setText("0");
  Edit("beSize")->setText("4");
  Edit("beCardCode")->setText("300");
  Edit("beKeyA")->setText("A0 A1 A2 A3 A4 A5");
  Edit("beKeyB")->setText("B0B1B2B3B4B5");
  // The reader learns where the code lies and the new key A (mirrored into the key field),
  // so that it reads the code back as written.
  ASSERT_EQ(Run(Get<QPushButton>("bWritePercoStt")), kOk);
  EXPECT_EQ(Run(Get<QPushButton>("bEmitCard")), kOk);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("301"));
  EXPECT_EQ(Window->Settings().Value("CardCode"), QString("301"));
  EXPECT_EQ(Edit("edtValueBlock")->text(),
            QStringLiteral("A0 A1 A2 A3 A4 A5 78 77 88 00 B0 B1 B2 B3 B4 B5"));
  EXPECT_EQ(Block(4)[3], 0x2C);
  EXPECT_EQ(Block(4)[2], 0x01);

  // The same card again: its write key is now B0..B5; the key-A attempt fails, the key-B
  // retry writes.
  Edit("beOldKeyB")->setText("B0 B1 B2 B3 B4 B5");
  EXPECT_EQ(Run(Get<QPushButton>("bEmitCard")), kOk);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("302"));
  EXPECT_EQ(Block(4)[3], 0x2D);

  // Read block 4 back with key A.
  Edit("medtReadBlockPassword")->setText("A0A1A2A3A4A5");
  Get<QSpinBox>("seReadBlock")->setValue(4);
  Edit("edtValueBlock")->clear();
  EXPECT_EQ(Run(Get<QPushButton>("btnReadBlock")), kOk);
  EXPECT_EQ(Edit("edtValueBlock")->text(),
            QStringLiteral("00 00 01 2D 00 00 00 00 00 00 00 00 00 00 00 00"));

  // A wrong current write key: red error, field and settings.ini unchanged.
  const QString before = SettingsText();
  Edit("beOldKeyB")->setText("11 11 11 11 11 11");
  EXPECT_EQ(Run(Get<QPushButton>("bEmitCard")), QStringLiteral("Ошибка: Ошибка аутентификации"));
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("302"));
  EXPECT_EQ(SettingsText(), before);
  EXPECT_EQ(Block(4)[3], 0x2D);
}

TEST_F(TWindowE2E, CardCodeValidationWhileConnected) {
  Firmware.PutCard(sim::NewClassic1K(kUid));
  Connect();
  ASSERT_TRUE(WaitCardText("UID"));
  const struct {
    const char* Offset;
    const char* Size;
    const char* Code;
    bool Hex;
    const char* KeyA;
    std::string Warning;
  } cases[] = {
      {"12", "5", "1", false, "FF FF FF FF FF FF", "Недопустимая комбинация смещения и кода карты"},
      {"0", "7", "18446744073709551615", false, "FF FF FF FF FF FF",
       "Введен слишком длинный код карты (максимум 7 байт)"},
      {"0", "8", "18446744073709551616", false, "FF FF FF FF FF FF",
       "Введен некорректный код карты"},
      {"0", "4", "AB CD", true, "FF FF FF FF FF FF", "Введен некорректный код карты"},
      {"0", "4", "1", false, "FF FF FF FF FF", "Введен некорректный ключ на чтение"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Warning);
    Sink->Clear();
    Edit("beOffset")->setText(c.Offset);
    Edit("beSize")->setText(c.Size);
    Get<QCheckBox>("chHex")->setChecked(c.Hex);
    Edit("beCardCode")->setText(c.Code);
    Edit("beKeyA")->setText(c.KeyA);
    Get<QPushButton>("bEmitCard")->click();
    EXPECT_EQ(Sink->Warnings(), std::vector<std::string>{c.Warning});
  }
  // The two write keys are checked after the read key; the block read takes hex pairs only.
  Edit("beKeyA")->setText("FF FF FF FF FF FF");
  const struct {
    const char* Field;
    std::string Warning;
  } keys[] = {{"beKeyB", "Введен некорректный ключ на запись"},
              {"beOldKeyB", "Введен некорректный текущий ключ на запись"}};
  for (const auto& k : keys) {
    Sink->Clear();
    Edit(k.Field)->setText("FF FF FF FF FF");
    Get<QPushButton>("bEmitCard")->click();
    EXPECT_EQ(Sink->Warnings(), std::vector<std::string>{k.Warning});
    Edit(k.Field)->setText("FF FF FF FF FF FF");
  }
  Sink->Clear();
  Edit("medtReadBlockPassword")->setText("A1B2C3D4E5");
  Get<QPushButton>("btnReadBlock")->click();
  EXPECT_EQ(Sink->Warnings(), std::vector<std::string>{op::kMsgBadReadBlockKey});
  Edit("medtReadBlockPassword")->setText("FF FF FF FF FF FF");
  // 2^64 - 1 with size 8: eight FF bytes, then the field wraps to 0.
  Sink->Clear();
  Edit("beKeyA")->setText("FF FF FF FF FF FF");
  Edit("beSize")->setText("8");
  Get<QCheckBox>("chHex")->setChecked(false);
  Edit("beCardCode")->setText("18446744073709551615");
  ASSERT_EQ(Run(Get<QPushButton>("bWritePercoStt")), kOk);  // the reader reads 8 bytes
  EXPECT_EQ(Run(Get<QPushButton>("bEmitCard")), kOk);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("0"));
  EXPECT_EQ(Block(4)[0], 0xFF);
  EXPECT_EQ(Block(4)[7], 0xFF);
  EXPECT_EQ(Block(4)[8], 0x00);
  // Hexadecimal 00FF with size 4 is 00 00 00 FF; the field then shows 100.
  Get<QCheckBox>("chHex")->setChecked(true);
  Edit("beSize")->setText("4");
  Edit("beCardCode")->setText("00FF");
  Edit("beOldKeyB")->setText("FF FF FF FF FF FF");
  Edit("beKeyB")->setText("FF FF FF FF FF FF");
  ASSERT_EQ(Run(Get<QPushButton>("bWritePercoStt")), kOk);
  EXPECT_EQ(Run(Get<QPushButton>("bEmitCard")), kOk);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("100"));
  EXPECT_EQ(Window->Settings().Value("CardCode"), QString("0x100"));
  EXPECT_EQ((std::vector<int>{Block(4)[0], Block(4)[1], Block(4)[2], Block(4)[3]}),
            (std::vector<int>{0, 0, 0, 0xFF}));
  EXPECT_TRUE(Sink->Boxes().empty());
}

TEST_F(TWindowE2E, IssueEveryVariantAndClear) {
  WriteSmbConf("REROD");
  Firmware.PutCard(sim::NewClassic1K(kUid));
  CreateWindow();
  EXPECT_FALSE(TabVisible("tsIssue"));
  Connect();
  // The gate opens the issue tab on connection; the card-code tab goes.
  EXPECT_TRUE(TabVisible("tsIssue"));
  EXPECT_FALSE(TabVisible("tsEmission"));
  ASSERT_TRUE(WaitCardText("UID"));
  ASSERT_TRUE(WaitFor([&] { return Get<QPushButton>("btnIssue")->isEnabled(); }));
  EXPECT_TRUE(Action("miClearCard")->isEnabled());
  auto* variant = Get<QComboBox>("cbVarIssue");
  for (int i = 0; i < variant->count(); ++i) {
    SCOPED_TRACE(variant->itemText(i).toStdString());
    variant->setCurrentIndex(i);
    if (Get<QSpinBox>("seCodeEmitent")->isEnabled()) {
      Get<QSpinBox>("seCodeEmitent")->setValue(100);
      Get<QSpinBox>("seCodeEmission")->setValue(7);
    }
    if (Edit("medtUserData")->isEnabled())
      Edit("medtUserData")->setText("0102030405060708090A");
    EXPECT_EQ(Run(Get<QPushButton>("btnIssue")), kOk);
    RepresentCard();
    EXPECT_TRUE(CardText().contains("\n\n")) << CardText().toStdString();
  }
  EXPECT_EQ(Run(Action("miClearCard")), kOk);
  RepresentCard();
  EXPECT_EQ(Run(Action("miClearCard")), QStringLiteral("Нет данных для удаления"));
  Disconnect();
  // Once shown, the issue tab stays after disconnecting.
  EXPECT_TRUE(TabVisible("tsIssue"));
  EXPECT_FALSE(TabVisible("tsEmission"));
  EXPECT_FALSE(Get<QPushButton>("btnIssue")->isEnabled());
}

// Issuing values the window cannot use are refused in the warning box before anything is
// queued, so the card in the field is neither cleared nor issued.
TEST_F(TWindowE2E, IssueRefusalsLeaveTheCard) {
  WriteSmbConf("REROD");
  Firmware.PutCard(sim::NewClassic1K(kUid));
  CreateWindow();
  Connect();
  ASSERT_TRUE(WaitFor([&] { return Get<QPushButton>("btnIssue")->isEnabled(); }));
  auto* variant = Get<QComboBox>("cbVarIssue");
  variant->setCurrentIndex(0);
  Get<QSpinBox>("seCodeEmitent")->setValue(100);
  ASSERT_EQ(Run(Get<QPushButton>("btnIssue")), kOk);
  std::vector<sim::TBlock16> before;
  for (int b = 0; b < 8; ++b)
    before.push_back(Block(b));
  const struct {
    const char* Variant;
    const char* FactoryKey;
    std::string Warning;
  } cases[] = {{"другой", "FF FF FF FF FF FF", op::kMsgBadVariant},
               {"Сорвел", "FF FF", op::kMsgBadFactoryKey}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Variant);
    Sink->Clear();
    variant->setEditText(QString::fromUtf8(c.Variant));
    Edit("medtPassword")->setText(c.FactoryKey);
    Get<QPushButton>("btnIssue")->click();
    EXPECT_EQ(Sink->Warnings(), std::vector<std::string>{c.Warning});
    RepresentCard();
    for (int b = 0; b < 8; ++b)
      EXPECT_EQ(Block(b), before[static_cast<std::size_t>(b)]) << "block " << b;
  }
}

TEST_F(TWindowE2E, ModeAndPriorityCommands) {
  Connect();
  EXPECT_EQ(Run(Action("miCheckMode")),
            QStringLiteral("Режим работы \"Универсальная команда\" отключен"));
  EXPECT_EQ(Run(Action("miSetMode")), kOk);
  EXPECT_EQ(Firmware.Mode(), 1);
  EXPECT_EQ(Action("miSetMode")->text(), QStringLiteral("Отключить универсальный режим"));
  EXPECT_EQ(Run(Action("miSetMode")), kOk);
  EXPECT_EQ(Firmware.Mode(), 0);
  EXPECT_EQ(Run(Action("pmiSetEmissionPrior")), kOk);
  EXPECT_EQ(Firmware.EmissionPrior(), 1);
  EXPECT_TRUE(Action("pmiSetEmissionPrior")->isChecked());
  EXPECT_EQ(Run(Action("pmiCheckEmissionPrior")), QStringLiteral("Приоритет параметрам эмиссии"));
}

TEST_F(TWindowE2E, FullQueueIsRefusedWithoutBlocking) {
  Connect();
  auto* item = Action("pmiReadConfig");
  // The worker cannot report while this thread is busy, so the queue fills up.
  for (int i = 0; i < 15; ++i)
    item->trigger();
  EXPECT_EQ(StatusText(), QString::fromStdString(op::kMsgReaderBusy));
  EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
  // The queued commands still complete.
  EXPECT_TRUE(WaitFor([&] { return StatusText() == "Конфигурация успешно считана"; }));
}

TEST_F(TWindowE2E, ClosingWhileConnectedWaitsForTheWorker) {
  Connect();
  Window->show();
  EXPECT_FALSE(Window->close());
  EXPECT_TRUE(Window->isVisible());
  EXPECT_FALSE(Window->close());  // repeats the terminate request
  ASSERT_TRUE(WaitFor([&] { return !Window->isVisible(); }));
  EXPECT_FALSE(Window->Connected());
}

}  // namespace
}  // namespace kiren::test
