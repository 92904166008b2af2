// Fault matrix of the window: settings.ini with garbage in it or unwritable, a full action
// queue, and closing the window in the middle of an exchange; the window offscreen, a real
// worker and the virtual reader on a pseudo-terminal.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <chrono>

#include "logging/dbg_logger.h"
#include "operator/input.h"
#include "operator/texts.h"
#include "serial/com_port.h"
#include "sim/card.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "window_fixture.h"

namespace kiren::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 20000;

QByteArray FileBytes(const QString& APath) {
  QFile f(APath);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TWindowFaultTest : public TWindowReaderTest {
 protected:
  void SetUp() override {
    TWindowReaderTest::SetUp();
    Firmware.PutCard(sim::NewClassic1K());
    StartReader({});
  }

  // Opens the virtual reader as "Открыть" does; waits for the first card poll.
  void Connect() {
    if (!Window)
      CreateWindow();
    Window->show();
    ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->CardIsHere(); }, kWaitMs));
  }
  // Clicks "Записать" on the emission parameters and waits for the worker to report.
  void WriteParameters() {
    Window->Status().Clear();
    const std::size_t before = Firmware.History().size();
    Get<QPushButton>("bWritePercoStt")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          for (const Bytes& r : Firmware.History())
            if (!r.empty() && r.front() == kCmdSetupPerco)
              return Firmware.History().size() > before;
          return false;
        },
        kWaitMs));
    QTest::qWait(1500);  // the answer, the handler and the next poll
  }
};

// Garbage in settings.ini: the window starts and connects, bad numbers are refused with a
// warning when used, and the file stays as it was until an operation succeeds.
TEST_F(TWindowFaultTest, SettingsWithGarbage) {
  const QByteArray garbage(
      "\xFF\xFE[Comm\x00on]\r\nBlockNo=abc\r\n[Common\r\n=\r\nSize=99999999999\r\n"
      "LBS=x\r\nCardCode=0x\r\n\x01\x02\x03 \r\n",
      78);
  {
    QFile f(SettingsPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(garbage);
  }
  Connect();
  EXPECT_TRUE(Sink->Boxes().empty()) << Sink->Boxes().front().Text;
  Window->close();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !Window->isVisible() && !Window->Connected(); }, kWaitMs));
  EXPECT_EQ(FileBytes(SettingsPath()), garbage) << "closing does not rewrite the file";

  // A bad block number in an intact section (a reader without configuration leaves the
  // loaded fields as they are).
  const QByteArray bad("[Common]\r\nBlockNo=abc\r\nOffset=0\r\nSize=4\r\n");
  {
    QFile f(SettingsPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bad);
  }
  Window.reset();
  Firmware.SetVersion("Kiren-M1 v4.1");  // no configuration read to overwrite the fields
  CreateWindow();
  Connect();
  Sink->Clear();
  Get<QPushButton>("bWritePercoStt")->click();
  EXPECT_EQ(Sink->Warnings().size(), 1u) << "the bad number is refused with a warning";
  QTest::qWait(1000);
  EXPECT_EQ(Firmware.EmissionParams().BlockNo, sim::TEmissionParams().BlockNo) << "nothing sent";
  EXPECT_EQ(FileBytes(SettingsPath()), bad);
}

// settings.ini that cannot be written: the reader is still written, the handler stops
// without the success message, and an existing file keeps its content.
TEST_F(TWindowFaultTest, SettingsUnwritable) {
  // The settings folder's place is taken by a file: nothing can be created there.
  {
    QFile blocker(FDir.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }
  TMainWindowOptions o;
  o.SmbConfPath = SmbConf;
  o.SettingsPath = FDir.path() + "/blocked/settings.ini";
  o.ListPorts = [this] { return Ports; };
  o.WatchDevices = false;
  Window = std::make_unique<TfMain>(o);
  Connect();
  Edit("beBlockNo")->setText("8");
  WriteParameters();
  EXPECT_EQ(Firmware.EmissionParams().BlockNo, 8) << "the reader was written";
  EXPECT_NE(StatusText().toStdString(), op::kMsgOk);
  EXPECT_TRUE(Sink->Boxes().empty());
  EXPECT_FALSE(QFile::exists(o.SettingsPath));
  Window.reset();

  // An existing file whose rewrite fails (the file size limit stands in for a full disk,
  // which also stops root): the old content stays whole.
  CreateWindow();
  Edit("beBlockNo")->setText("12");
  ASSERT_TRUE(Window->SaveSettings(0));
  const QByteArray before = FileBytes(SettingsPath());
  ASSERT_FALSE(before.isEmpty());
  Edit("beBlockNo")->setText("16");
  Edit("beCardCode")->setText(QString(200, '7'));
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  rlimit limit{}, saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = static_cast<rlim_t>(before.size());
  ::setrlimit(RLIMIT_FSIZE, &limit);
  const bool written = Window->SaveSettings(0);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(FileBytes(SettingsPath()), before);
}

// Clicks faster than the reader answers: ten commands wait, the next one is refused with a
// message at once instead of blocking the window, and the queued ones all run.
TEST_F(TWindowFaultTest, FullQueueFromTheWindow) {
  Connect();
  sim::TFaults slow;
  slow.DelayMs = 150;
  slow.OnlyCmd = kCmdSetupPerco;
  Firmware.SetFaults(slow);
  Firmware.ClearHistory();
  auto* button = Get<QPushButton>("bWritePercoStt");
  bool refused = false;
  const auto t0 = Clock::now();
  int clicks = 0;
  for (; clicks < 13 && !refused; ++clicks) {
    Window->Status().Clear();
    button->click();
    refused = StatusText().toStdString() == op::kMsgReaderBusy;
  }
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5)) << "the window did not block";
  EXPECT_TRUE(refused);
  const auto sent = [&] {
    std::size_t n = 0;
    for (const Bytes& r : Firmware.History())
      n += !r.empty() && r.front() == kCmdSetupPerco;
    return n;
  };
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return sent() == static_cast<std::size_t>(clicks - 1); }, kWaitMs));
  EXPECT_TRUE(Window->Connected());
}

// "Открыть" on a port that another program holds: the window returns to the closed state
// at once, without a box.
TEST_F(TWindowFaultTest, PortHeldByAnotherProgram) {
  TMyComPort other;
  ASSERT_TRUE(other.Open(Host->PortName(), true));
  CreateWindow();
  Window->show();
  ASSERT_TRUE(Window->SelectPort(QString::fromStdString(Host->PortName())));
  Get<QPushButton>("bOpen")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Connected(); }, kWaitMs));
  EXPECT_TRUE(Get<QPushButton>("bOpen")->isEnabled());
  EXPECT_TRUE(Sink->Boxes().empty());
  EXPECT_TRUE(Firmware.History().empty());
  ASSERT_TRUE(other.Close());
  Connect();
}

// Closing the window while the worker waits for an answer: the window closes once the
// exchange has timed out, without a hang, and settings.ini is untouched.
TEST_F(TWindowFaultTest, CloseDuringAnExchange) {
  WriteSettings("[Common]\r\nBlockNo=4\r\n");
  const QByteArray before = FileBytes(SettingsPath());
  Connect();
  sim::TFaults silent;
  silent.NoAnswer = true;
  Firmware.SetFaults(silent);
  Firmware.ClearHistory();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Firmware.History().empty(); }, kWaitMs));
  const auto t0 = Clock::now();
  Window->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->isVisible(); }, kWaitMs));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
  EXPECT_FALSE(Window->Connected());
  Window.reset();
  EXPECT_EQ(FileBytes(SettingsPath()), before);
}

// Why a connection ended shows in red in the status bar and in the informer's journal, and
// the version shown is no longer green; the operator's own "Закрыть" says nothing.
class TConnectionEndTest : public TWindowFaultTest {
 protected:
  QString Port() const { return QString::fromStdString(Host->PortName()); }
  QColor VersionColor() const {
    return Get<QLabel>("lVerInfo")->palette().color(QPalette::WindowText);
  }
  void Disconnect() {
    Get<QPushButton>("bOpen")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Connected(); }, kWaitMs));
  }
  void ClickOpen() {
    ASSERT_FALSE(Window->Connected());
    Get<QPushButton>("bOpen")->click();
  }
  void ExpectEndShown(const QString& AText) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Connected(); }, kWaitMs));
    EXPECT_EQ(StatusText(), AText);
    EXPECT_EQ(StatusColor(), TStatusInformer::kErrorColor);
    ASSERT_FALSE(Window->Status().Journal().isEmpty());
    EXPECT_TRUE(Window->Status().Journal().back().endsWith(QStringLiteral(" - ") + AText))
        << Window->Status().Journal().back().toStdString();
    EXPECT_NE(VersionColor(), kGreen);
    EXPECT_EQ(Get<QPushButton>("bOpen")->text(), QStringLiteral("Открыть"));
    EXPECT_TRUE(Sink->Boxes().empty());
  }

  const QColor kGreen{0, 128, 0};
};

std::string OwnProgramName() {
  QFile f(QStringLiteral("/proc/self/comm"));
  return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toStdString() : std::string();
}

TEST_F(TConnectionEndTest, ClosedByTheOperatorSaysNothing) {
  Connect();
  EXPECT_EQ(VersionColor(), kGreen);
  Disconnect();
  EXPECT_TRUE(StatusText().isEmpty()) << StatusText().toStdString();
  EXPECT_TRUE(Window->Status().Journal().isEmpty());
  EXPECT_EQ(VersionColor(), kGreen);
}

// The holder is found through /proc: here it is this test program itself.
TEST_F(TConnectionEndTest, PortHeldByAnotherProgramIsNamed) {
  Connect();
  Disconnect();
  TMyComPort other;
  ASSERT_TRUE(other.Open(Host->PortName(), true));
  Firmware.ClearHistory();
  ClickOpen();
  ExpectEndShown(QStringLiteral("Порт %1 занят программой %2 (PID %3)")
                     .arg(Port(), QString::fromStdString(OwnProgramName()))
                     .arg(::getpid()));
  EXPECT_TRUE(Firmware.History().empty());
  // Once free the port opens, and the old news leaves the status bar.
  ASSERT_TRUE(other.Close());
  Connect();
  EXPECT_TRUE(StatusText().isEmpty());
  EXPECT_EQ(VersionColor(), kGreen);
}

TEST_F(TConnectionEndTest, PortGone) {
  Connect();
  Disconnect();
  Ports = {"kiren-no-such-port"};
  Window->RefreshPortList();
  ClickOpen();
  ExpectEndShown(QStringLiteral("Порт kiren-no-such-port не найден"));
}

TEST_F(TConnectionEndTest, ReaderUnplugged) {
  Connect();
  Host->Hangup();
  ExpectEndShown(QStringLiteral("Считыватель отключён (Порт %1)").arg(Port()));
  EXPECT_FALSE(Get<QLabel>("lVerInfo")->text().isEmpty()) << "the last version stays readable";
}

TEST_F(TConnectionEndTest, NoAnswerToTheVersionQuery) {
  Connect();
  Disconnect();
  sim::TFaults silent;
  silent.NoAnswer = true;
  Firmware.SetFaults(silent);
  ClickOpen();
  ExpectEndShown(QStringLiteral("Считыватель не ответил на запрос версии (Порт %1)").arg(Port()));
  EXPECT_EQ(Get<QLabel>("lVerInfo")->text(), QStringLiteral("Нет информации о версии"));
  EXPECT_EQ(VersionColor(), QColor(255, 0, 0));
}

}  // namespace
}  // namespace kiren::test
