// The main window offscreen, without a reader: start-up, what the worker's calls show, the
// completion handlers, validation of the commands and settings.ini.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "operator/input.h"
#include "operator/texts.h"
#include "protocol/protocol.h"
#include "ui/connection_end.h"
#include "ui/device_monitor.h"
#include "window_fixture.h"
#include "worker/actions.h"

namespace kiren::test {
namespace {

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

// Finished actions as the worker hands them to the completion handlers.
struct TDoneMode : TAcSetupMode {
  TDoneMode(int AMode, int AAnswer, int AErr) : TAcSetupMode(static_cast<std::uint8_t>(AMode), {}) {
    FAnswer = static_cast<std::uint8_t>(AAnswer);
    FErrCode = AErr;
  }
};
struct TDonePerco : TAcPercoStt {
  TDonePerco(int AErr, std::uint16_t AStatus) : TAcPercoStt(TPercoPars{}, {}) {
    FErrCode = AErr;
    FStatus = TStatus(AStatus);
  }
};
struct TDoneCardCode : TAcWriteCardCode {
  TDoneCardCode(int AErr, std::uint16_t AStatus)
      : TAcWriteCardCode(4, 0, Bytes{0x12, 0x34}, TKeyList{}, {}) {
    FErrCode = AErr;
    FStatus = TStatus(AStatus);
    FData.fill(0xAB);
  }
};

TDevInfo Version(int AMajor, std::uint8_t AMode = 0) {
  TDevInfo d;
  d.UpdateFromVerInfo("Kiren-M1 v" + std::to_string(AMajor) + ".1");
  d.mode = AMode;
  return d;
}

TCardInfo Card(std::uint16_t AStatus, std::string ADesc = {}) {
  TCardInfo c;
  c.status = TStatus(AStatus);
  c.type_ = 0x0400;
  c.SAK = 0x08;
  c.UIDSize = 4;
  c.UID = {0x04, 0xA1, 0xB2, 0x0C};
  c.desc = std::move(ADesc);
  return c;
}

using TMainWindow = TWindowTest;

TEST(ConnectionEndText, OneLinePerReason) {
  using R = TEndReason;
  const std::vector<TPortHolder> none, one = {{41, "minicom"}}, two = {{41, "minicom"}, {7, ""}};
  const struct {
    TEndReason Reason;
    std::string PortError;
    int VersionError;
    std::vector<TPortHolder> Holders;
    const char* Text;
  } cases[] = {
      {R::Requested, "", 0, none, ""},
      {R::PortBusy, "", 0, none, "Порт pts/3 занят другой программой"},
      {R::PortBusy, "", 0, one, "Порт pts/3 занят программой minicom (PID 41)"},
      {R::PortBusy, "", 0, two, "Порт pts/3 заняли программы minicom (PID 41), ? (PID 7)"},
      {R::PortNotFound, "", 0, none, "Порт pts/3 не найден"},
      {R::PortFailed, "Permission denied", 0, none, "Порт pts/3 не открывается: Permission denied"},
      {R::DeviceGone, "", 0, none, "Считыватель отключён (Порт pts/3)"},
      {R::NoVersion, "", kResTimeout, none, "Считыватель не ответил на запрос версии (Порт pts/3)"},
      {R::NoVersion, "", kResBadAnswer, none, "Запрос версии не выполнен, ошибка 4 (Порт pts/3)"},
      {R::Failure, "", 0, none, "Связь со считывателем прервана из-за ошибки (Порт pts/3)"},
  };
  for (const auto& c : cases) {
    const TConnectionEnd end{c.Reason, "pts/3", c.PortError, c.VersionError, c.Holders};
    EXPECT_EQ(ConnectionEndText(end), c.Text);
  }
}

TEST_F(TMainWindow, StartUpState) {
  CreateWindow();
  EXPECT_EQ(Window->windowTitle(), QStringLiteral("Настройка Кирен-М1"));
  EXPECT_GE(Window->height(), 250);
  EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Открыть"));
  EXPECT_TRUE(Get<QComboBox>("cbPort")->isEnabled());
  EXPECT_EQ(Get<QComboBox>("cbPort")->currentText(), QStringLiteral("ttyACM0"));
  EXPECT_FALSE(Get<QPushButton>("bWritePercoStt")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("bEmitCard")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("btnIssue")->isEnabled());
  EXPECT_TRUE(Get<QLabel>("lVerInfo")->text().isEmpty());
  EXPECT_FALSE(Action("miUseWiegand")->isVisible());
  EXPECT_FALSE(Action("miUseWiegand")->isChecked());
  EXPECT_FALSE(Action("miServiceSpace2")->isVisible());
  EXPECT_FALSE(Action("pmiReadConfig")->isEnabled());
  EXPECT_FALSE(Action("miSetMode")->isEnabled());
  EXPECT_TRUE(Action("miClearCard")->isEnabled());  // design state while tsIssue is hidden
  EXPECT_EQ(Action("miSetMode")->text(), QStringLiteral("Включить универсальный режим"));
  // The issue tab starts hidden; without the gate the block-read tab is hidden too.
  EXPECT_FALSE(TabVisible("tsIssue"));
  EXPECT_TRUE(TabVisible("tsEmission"));
  EXPECT_FALSE(TabVisible("tsReadBlock"));
  EXPECT_EQ(Get<QTabWidget>("PageControl1")->currentWidget(), Get<QWidget>("tsPerco"));
  EXPECT_EQ(Get<QLabel>("lAddr")->text(), QStringLiteral("Блок: 0, Смещение: 0\r\nРазмер: 4"));
  EXPECT_EQ(Edit("beSize")->text(), QStringLiteral("4"));
  EXPECT_EQ(Edit("beKey")->text(), QStringLiteral("FF FF FF FF FF FF"));
  EXPECT_EQ(Edit("medtUserData")->text().remove(' '), QStringLiteral("00000000000000000000"));
  EXPECT_EQ(Edit("medtPassword")->text(), QStringLiteral("FF FF FF FF FF FF"));
  EXPECT_FALSE(Edit("medtUserData")->isEnabled());
  EXPECT_TRUE(Get<QSpinBox>("seCodeEmitent")->isEnabled());
  EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(TMainWindow, GateShowsTheBlockReadTab) {
  WriteSmbConf("REROD");
  CreateWindow();
  EXPECT_TRUE(TabVisible("tsReadBlock"));
  EXPECT_FALSE(TabVisible("tsIssue"));  // shown only once connected
}

TEST_F(TMainWindow, PortListKeepsSelectionAcrossDeviceChanges) {
  Ports = {};
  CreateWindow();
  auto* cb = Get<QComboBox>("cbPort");
  EXPECT_EQ(cb->currentIndex(), -1);
  Ports = {"ttyACM0", "pts/7"};
  QCoreApplication::postEvent(Window.get(), new TRefreshPortsEvent(1));
  QCoreApplication::processEvents();
  EXPECT_EQ(cb->count(), 2);
  EXPECT_EQ(cb->currentText(), QStringLiteral("ttyACM0"));
  ASSERT_TRUE(Window->SelectPort("pts/7"));
  Ports = {"ttyACM3", "pts/7"};
  QCoreApplication::postEvent(Window.get(), new TRefreshPortsEvent(2));  // ignored
  QCoreApplication::processEvents();
  EXPECT_EQ(cb->itemText(0), QStringLiteral("ttyACM0"));
  QCoreApplication::postEvent(Window.get(), new TRefreshPortsEvent(1));
  QCoreApplication::processEvents();
  EXPECT_EQ(cb->currentText(), QStringLiteral("pts/7"));
  Ports = {"ttyACM3"};
  QCoreApplication::postEvent(Window.get(), new TRefreshPortsEvent(1));
  QCoreApplication::processEvents();
  EXPECT_EQ(cb->currentText(), QStringLiteral("ttyACM3"));
}

TEST_F(TMainWindow, ShowDevInfoByVersion) {
  const struct {
    int Major;
    int Error;
    bool SizeEnabled, LbsVisible, ModeEnabled;
    const char* Size;
  } cases[] = {
      {2, 0, false, false, false, "5"}, {3, 0, true, false, false, "7"},
      {4, 0, true, true, true, "7"},    {5, 0, true, true, true, "7"},
      {0, 3, false, false, false, "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Major);
    CreateWindow();
    Edit("beSize")->setText("7");
    const TDevInfo dev = c.Error ? TDevInfo{} : Version(c.Major, 1);
    Window->ShowDevInfo(dev, c.Error);
    auto* ver = Get<QLabel>("lVerInfo");
    EXPECT_EQ(ver->text(), c.Error ? QStringLiteral("Нет информации о версии")
                                   : QString::fromStdString(dev.verInfo));
    EXPECT_EQ(ver->palette().color(QPalette::WindowText), c.Error ? kRed : kGreen);
    EXPECT_EQ(Edit("beSize")->text(), QString(c.Size));
    EXPECT_EQ(Edit("beSize")->isEnabled(), c.SizeEnabled);
    EXPECT_EQ(!Get<QCheckBox>("chLBS")->isHidden(), c.LbsVisible);
    EXPECT_EQ(Action("miSetMode")->isEnabled(), c.ModeEnabled);
    EXPECT_EQ(Window->ModeTag(), c.ModeEnabled ? 1 : 0);
    EXPECT_EQ(Action("miSetMode")->text(), c.ModeEnabled
                                               ? QStringLiteral("Отключить универсальный режим")
                                               : QStringLiteral("Включить универсальный режим"));
    EXPECT_EQ(Action("pmiReadConfig")->isEnabled(), c.Major > 2);
  }
}

TEST_F(TMainWindow, ShowCardInfoTextsAndPanel) {
  CreateWindow();
  auto* memo = Get<QPlainTextEdit>("mCardInfo");
  Window->ShowCardInfo(Card(0x8001, "Код карты: 0123456789"));
  EXPECT_EQ(memo->toPlainText(),
            QStringLiteral("Тип: Mifare Classic 1K\nUID: 04A1B20C\n\nКод карты: 0123456789"));
  EXPECT_EQ(Panel0(), QStringLiteral("Статус: 0x8001"));
  EXPECT_TRUE(Window->CardIsHere());
  Window->ShowCardInfo(Card(0x8001));
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("Тип: Mifare Classic 1K\nUID: 04A1B20C"));
  Window->ShowCardInfo(Card(0x00AB));
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("Нет карты"));
  EXPECT_EQ(Panel0(), QStringLiteral("Статус: 0x00AB"));
  EXPECT_FALSE(Window->CardIsHere());
}

TEST_F(TMainWindow, ConfigurationFillsFieldsAndTags) {
  CreateWindow();
  Window->ShowConfigInfo({{0x51, {"300", "2", "6", "257"}}, {0x52, {"1"}}, {0xA8, {"1"}}});
  EXPECT_EQ(Edit("beBlockNo")->text(), QStringLiteral("252"));
  EXPECT_EQ(Edit("beOffset")->text(), QStringLiteral("2"));
  EXPECT_EQ(Edit("beSize")->text(), QStringLiteral("6"));
  EXPECT_TRUE(Get<QCheckBox>("chLBS")->isChecked());
  EXPECT_EQ(Get<QLabel>("lAddr")->text(), QStringLiteral("Блок: 252, Смещение: 2\r\nРазмер: 6"));
  EXPECT_EQ(Action("miSetMode")->text(), QStringLiteral("Отключить универсальный режим"));
  EXPECT_TRUE(Action("pmiSetEmissionPrior")->isChecked());
  Window->ShowConfigInfo({{0x51, {"8", "0", "4", "256"}}});  // low 8 bits are 0
  EXPECT_FALSE(Get<QCheckBox>("chLBS")->isChecked());
  EXPECT_EQ(Window->ModeTag(), 1);  // keys not given keep their controls
}

TEST_F(TMainWindow, ModeAndPriorityAnswers) {
  CreateWindow();
  const QColor info = TStatusInformer::kInfoColor, error = TStatusInformer::kErrorColor;
  const struct {
    bool Priority;
    int TagBefore, Mode, Answer, Err;
    const char* Text;
    bool IsError;
    int TagAfter;
  } cases[] = {
      {false, 1, 2, 0, 0, "Режим работы \"Универсальная команда\" отключен", false, 0},
      {false, 0, 2, 0x55, 0, "Режим работы \"Универсальная команда\" отключен", false, 0},
      {false, 0, 2, 1, 0, "Режим работы \"Универсальная команда\" включен", false, 1},
      {false, 0, 2, 7, 0, "Режим работы \"Универсальная команда\" включен", false, 1},
      {false, 0, 1, 1, 0, "Операция выполнена успешно", false, 1},
      {false, 1, 0, 0, 0, "Операция выполнена успешно", false, 0},
      {false, 0, 1, 0, 0, "Не выполнено", true, 0},
      {false, 0, 2, 1, 3, "Не выполнено", true, 0},
      {true, 1, 2, 0, 0, "Параметры эмиссии не приоритетны", false, 0},
      {true, 0, 2, 0x55, 0, "Приоритет параметрам эмиссии", false, 1},
      {true, 0, 1, 1, 0, "Операция выполнена успешно", false, 1},
      {true, 1, 0, 1, 0, "Не выполнено", true, 1},
      {true, 0, 1, 1, 6, "Не выполнено", true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    TDoneMode action(c.Mode, c.Answer, c.Err);
    if (c.Priority) {
      Window->SetEmissionPriorTag(c.TagBefore);
      Window->EmissionPriorDone(action);
      EXPECT_EQ(Window->EmissionPriorTag(), c.TagAfter);
      EXPECT_EQ(Action("pmiSetEmissionPrior")->isChecked(), c.TagAfter == 1);
    } else {
      Window->SetModeTag(c.TagBefore);
      Window->SetupModeDone(action);
      EXPECT_EQ(Window->ModeTag(), c.TagAfter);
      EXPECT_EQ(Action("miSetMode")->text(), c.TagAfter == 1
                                                 ? QStringLiteral("Отключить универсальный режим")
                                                 : QStringLiteral("Включить универсальный режим"));
    }
    EXPECT_EQ(StatusText(), QString::fromUtf8(c.Text));
    EXPECT_EQ(StatusColor(), c.IsError ? error : info);
  }
}

TEST_F(TMainWindow, ClearCardAndReadConfigAnswers) {
  CreateWindow();
  const struct {
    int Err;
    const char* Text;
  } cases[] = {{0, "Операция выполнена успешно"},
               {8, "Нет данных для удаления"},
               {5, "Не выполнено"},
               {3, "Не выполнено"}};
  for (const auto& c : cases) {
    TAcClearCard action(TOnActionDone{});
    action.SetErrCode(c.Err);
    Window->ClearCardDone(action);
    EXPECT_EQ(StatusText(), QString::fromUtf8(c.Text));
  }
  TAcReadConfig config(TOnActionDone{});
  config.SetErrCode(3);
  Window->ReadConfigDone(config);
  EXPECT_EQ(StatusText(), QStringLiteral("Ошибка при чтении конфигурации: 3"));
  config.SetErrCode(0);
  Window->ReadConfigDone(config);
  EXPECT_EQ(StatusText(), QStringLiteral("Конфигурация успешно считана"));
}

TEST_F(TMainWindow, WriteParametersValidation) {
  CreateWindow();
  auto click = [this] {
    Sink->Clear();
    Window->findChild<QPushButton*>("bWritePercoStt")->click();
  };
  // The button is disabled while closed; call through the handler by enabling it.
  Get<QPushButton>("bWritePercoStt")->setEnabled(true);
  const struct {
    const char* Key;
    const char* Block;
    const char* Offset;
    const char* Size;
    std::vector<std::string> Boxes;  // "question:<sector>" or warning texts
  } cases[] = {
      {"FF FF FF FF FF", "4", "0", "4", {op::kMsgKeyMustHave6Bytes}},
      {"FF FF FF FF FF F", "4", "0", "4", {op::kMsgKeyMustHave6Bytes}},
      {"FF FF FF FF FF FF", "4", "0", "4", {}},
      {"ABCDEF", "3", "0", "4", {"question:0"}},
      {"FF FF FF FF FF FF", "7", "0", "4", {"question:1"}},
      {"FF FF FF FF FF FF", "4", "12", "5", {op::kMsgOffsetSizeTooBig}},
      {"FF FF FF FF FF FF", "3", "12", "5", {"question:0", op::kMsgOffsetSizeTooBig}},
      {"FF FF FF FF FF FF", "", "0", "4", {op::ConversionErrorText("")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Key) + " block " + c.Block);
    Edit("beKey")->setText(c.Key);
    Edit("beBlockNo")->setText(c.Block);
    Edit("beOffset")->setText(c.Offset);
    Edit("beSize")->setText(c.Size);
    click();
    std::vector<std::string> got;
    for (const auto& b : Sink->Boxes())
      got.push_back(b.Kind == "question"
                        ? "question:" +
                              std::to_string(b.Text.find("№0") != std::string::npos ? 0 : 1)
                        : b.Text);
    EXPECT_EQ(got, c.Boxes);
    for (const auto& b : Sink->Boxes())
      if (b.Kind == "question") {
        EXPECT_EQ(b.Caption, "ВНИМАНИЕ!");
      }
  }
  // "No" ends the command silently.
  Sink->Answer = false;
  Edit("beBlockNo")->setText("3");
  Edit("beOffset")->setText("12");
  Edit("beSize")->setText("5");
  click();
  ASSERT_EQ(Sink->Boxes().size(), 1u);
  EXPECT_EQ(Sink->Boxes()[0].Kind, "question");
}

TEST_F(TMainWindow, KeyMirrorAndIssueVariants) {
  CreateWindow();
  Edit("beKey")->setText("A0 A1 A2 A3 A4 A5");
  EXPECT_EQ(Edit("beKeyA")->text(), QStringLiteral("A0 A1 A2 A3 A4 A5"));
  Edit("beKeyA")->setText("ключ12");
  EXPECT_EQ(Edit("beKey")->text(), QStringLiteral("ключ12"));

  auto* cb = Get<QComboBox>("cbVarIssue");
  auto* emitent = Get<QSpinBox>("seCodeEmitent");
  auto* emission = Get<QSpinBox>("seCodeEmission");
  auto* user = Edit("medtUserData");
  const struct {
    const char* Text;
    bool Codes, User;
  } cases[] = {{"DEVU", false, false},  // "Сорвел" is selected at start
               {"Сорвел", true, false},
               {"Комбинированный", true, false},
               {"Пользовательский", false, true},
               {"Пользовательский + value", false, true},
               {"другой", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    emitent->setValue(12);
    emission->setValue(34);
    user->setText("0102030405060708090A");
    cb->setEditText(QString::fromUtf8(c.Text));
    EXPECT_EQ(emitent->value(), 0);
    EXPECT_EQ(emission->value(), 0);
    EXPECT_EQ(user->text().remove(' '), QStringLiteral("00000000000000000000"));
    EXPECT_EQ(emitent->isEnabled(), c.Codes);
    EXPECT_EQ(emission->isEnabled(), c.Codes);
    EXPECT_EQ(user->isEnabled(), c.User);
  }
}

// Every issuing variant shows whole in the combo box, so "Пользовательский" and
// "Пользовательский + value" never look alike. With KIREN_VARIANTS_SHOT set to a file name,
// a picture of the issue tab with each variant chosen in turn is saved there.
TEST_F(TMainWindow, VariantCaptionsShowWhole) {
  CreateWindow();
  auto* tabs = Get<QTabWidget>("PageControl1");
  auto* page = Get<QWidget>("tsIssue");
  tabs->setTabVisible(tabs->indexOf(page), true);
  tabs->setCurrentWidget(page);
  Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  auto* cb = Get<QComboBox>("cbVarIssue");
  QLineEdit* edit = cb->lineEdit();
  ASSERT_NE(edit, nullptr);
  // QLineEdit keeps 2 pixels on either side of its text, and the cursor takes one more.
  const int room = edit->contentsRect().width() - edit->textMargins().left() -
                   edit->textMargins().right() - 2 * 2 - 1;
  // Where the cursor stands after a text that surely fits: the end of the text plus a fixed
  // offset. A text that does not fit is scrolled, and its end stands further left.
  const auto cursorAfter = [&](const QString& AText) {
    edit->setCursorPosition(static_cast<int>(AText.size()));
    return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() -
           edit->fontMetrics().horizontalAdvance(AText);
  };
  cb->setEditText(QStringLiteral("."));
  const int unscrolled = cursorAfter(QStringLiteral("."));
  QList<QImage> shots;
  for (int i = 0; i < cb->count(); ++i) {
    cb->setCurrentIndex(i);
    QCoreApplication::processEvents();
    const QString text = cb->itemText(i);
    const int advance = edit->fontMetrics().horizontalAdvance(text);
    EXPECT_LE(advance, room) << text.toStdString();
    EXPECT_EQ(cursorAfter(text), unscrolled) << text.toStdString();
    shots << page->grab().toImage();
  }
  EXPECT_LE(Window->width(), Window->screen()->availableGeometry().width());

  const QString shotPath = qEnvironmentVariable("KIREN_VARIANTS_SHOT");
  if (shotPath.isEmpty())
    return;
  QImage sheet(shots.front().width(), shots.front().height() * static_cast<int>(shots.size()),
               QImage::Format_RGB32);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  for (qsizetype i = 0; i < shots.size(); ++i)
    painter.drawImage(0, static_cast<int>(i) * shots.front().height(), shots[i]);
  painter.end();
  EXPECT_TRUE(sheet.save(shotPath)) << shotPath.toStdString();
}

TEST_F(TMainWindow, MaskedEditsTakeHexDigitsOnly) {
  CreateWindow();
  auto* key = Edit("medtReadBlockPassword");
  key->clear();
  key->setFocus();
  QTest::keyClicks(key, "a1zG-b2 c3d4e5f6");
  EXPECT_EQ(key->text(), QStringLiteral("A1 B2 C3 D4 E5 F6"));
}

TEST_F(TMainWindow, LoadSettings) {
  const QString start = QStringLiteral("Блок: 0, Смещение: 0\r\nРазмер: 4");
  const struct {
    const char* Ini;
    const char* Block;
    bool Lbs;
    bool Hex;
    const char* Code;
    QString Addr;
  } cases[] = {
      {"[Common]\nBlockNo=300\nOffset=2\nSize=6\nLBS=1\nCardCode=0x1F\n", "252", true, true, "1F",
       QStringLiteral("Блок: 252, Смещение: 2\r\nРазмер: 6")},
      {"[Common]\nBlockNo=8\nLBS=x\nCardCode=0X1F\n", "8", false, false, "0X1F",
       QStringLiteral("Блок: 8, Смещение: 0\r\nРазмер: 4")},
      {"[Common]\nCardCode=12345\n", "0", false, false, "12345", start},
      {"", "0", false, false, "0", start},
      // Garbage: a block that is not a number stays and the label keeps its text; values the
      // INI reader cannot give as text count as missing.
      {"\xff\xfe\x01junk\n[[[\n[Common]\nBlockNo=1,2\nSize=@Invalid()\nLBS=@Variant(\\0)\n"
       "CardCode=0x\n",
       "1,2", false, true, "", start},
      {"\177ELF\x02\x01\x01 =\n\t=[\n", "0", false, false, "0", start},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ini);
    Window.reset();
    WriteSettings(c.Ini);
    CreateWindow();
    EXPECT_EQ(Edit("beBlockNo")->text(), QString(c.Block));
    EXPECT_EQ(Get<QCheckBox>("chLBS")->isChecked(), c.Lbs);
    EXPECT_EQ(Get<QCheckBox>("chHex")->isChecked(), c.Hex);
    EXPECT_EQ(Edit("beCardCode")->text(), QString(c.Code));
    EXPECT_EQ(Get<QLabel>("lAddr")->text(), c.Addr);
  }
}

TEST_F(TMainWindow, SavedAfterSuccessOnly) {
  CreateWindow();
  Edit("beBlockNo")->setText("8");
  Edit("beOffset")->setText("1");
  Edit("beSize")->setText("5");
  Get<QCheckBox>("chLBS")->setChecked(true);
  TDonePerco failed(3, 0x0001);
  Window->PercoSttDone(failed);
  EXPECT_EQ(StatusText(), QStringLiteral("Ошибка 3"));
  EXPECT_FALSE(QFile::exists(SettingsPath()));
  // A reader below version 4 has no byte-order flag: LBS is not stored.
  Window->ShowDevInfo(Version(3), 0);
  TDonePerco ok(0, 0x0001);
  Window->PercoSttDone(ok);
  EXPECT_EQ(StatusText(), QStringLiteral("Операция выполнена успешно"));
  EXPECT_EQ(Window->Settings().Value("BlockNo"), QString("8"));
  EXPECT_EQ(Window->Settings().Value("Offset"), QString("1"));
  EXPECT_EQ(Window->Settings().Value("Size"), QString("5"));
  EXPECT_FALSE(Window->Settings().Value("LBS"));
  EXPECT_FALSE(Window->Settings().Value("CardCode"));
  Window->ShowDevInfo(Version(4), 0);
  Window->PercoSttDone(ok);
  EXPECT_EQ(Window->Settings().Value("LBS"), QString("1"));
  // Closing stores nothing more.
  const QString before = SettingsText();
  Window->close();
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(TMainWindow, CardCodeDoneIncrementsAndStores) {
  CreateWindow();
  auto* code = Edit("beCardCode");
  code->setText("299");
  TDoneCardCode failed(7, 0x0003);
  Window->CardCodeDone(failed);
  EXPECT_EQ(StatusText(), QStringLiteral("Ошибка: Ошибка аутентификации"));
  EXPECT_EQ(code->text(), QStringLiteral("299"));
  EXPECT_FALSE(QFile::exists(SettingsPath()));

  TDoneCardCode ok(0, 0x0001);
  Window->CardCodeDone(ok);
  EXPECT_EQ(code->text(), QStringLiteral("300"));
  EXPECT_EQ(Window->Settings().Value("CardCode"), QString("300"));
  EXPECT_EQ(Edit("edtValueBlock")->text(),
            QString("AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB"));
  Get<QCheckBox>("chHex")->setChecked(true);
  code->setText("00FF");
  Window->CardCodeDone(ok);
  EXPECT_EQ(code->text(), QStringLiteral("100"));
  EXPECT_EQ(Window->Settings().Value("CardCode"), QString("0x100"));
  // An increment that is refused leaves the field as it is, with a warning.
  code->setText(QString(20, 'F'));
  Window->CardCodeDone(ok);
  EXPECT_EQ(Sink->Warnings(), std::vector<std::string>{op::kMsgIncCodeTooLong});
  EXPECT_EQ(code->text(), QString(20, 'F'));
}

TEST_F(TMainWindow, UnwritableSettingsStopTheHandlerSilently) {
  QDir().mkpath(SettingsPath());  // a folder where the file should be
  CreateWindow();
  Edit("beCardCode")->setText("5");
  Edit("edtValueBlock")->clear();
  TDoneCardCode ok(0, 0x0001);
  Window->CardCodeDone(ok);
  EXPECT_EQ(Edit("beCardCode")->text(), QStringLiteral("6"));
  EXPECT_TRUE(StatusText().isEmpty());
  EXPECT_TRUE(Edit("edtValueBlock")->text().isEmpty());
  EXPECT_TRUE(Sink->Boxes().empty());
}

TEST_F(TMainWindow, ClosesAtOnceWithoutWorker) {
  CreateWindow();
  Window->show();
  EXPECT_TRUE(Window->close());
  EXPECT_FALSE(Window->isVisible());
}

}  // namespace
}  // namespace kiren::test
