#include "window_fixture.h"

#include <QFile>
#include <fstream>

#include "logging/dbg_logger.h"

namespace kiren::test {

void TWindowTest::SetUp() {
  ASSERT_TRUE(FDir.isValid());
  SmbConf = FDir.path().toStdString() + "/smb.conf";
  FOldSink = SetMessageSink(Sink);
}

void TWindowTest::TearDown() {
  Window.reset();
  SetMessageSink(FOldSink);
}

void TWindowTest::CreateWindow() {
  TMainWindowOptions o;
  o.SmbConfPath = SmbConf;
  o.SettingsPath = SettingsPath();
  o.JournalPath = JournalPath();
  if (!SystemPorts)
    o.ListPorts = [this] { return Ports; };
  o.WatchDevices = SystemPorts;
  Window = std::make_unique<TfMain>(o);
}

void TWindowTest::WriteSmbConf(const std::string& AWorkgroup) {
  std::ofstream(SmbConf) << "[global]\n   workgroup = " << AWorkgroup << "\n";
}

void TWindowTest::WriteSettings(const std::string& AText) {
  std::ofstream(SettingsPath().toStdString()) << AText;
}

QString TWindowTest::SettingsText() const {
  QFile f(SettingsPath());
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8(f.readAll());
}

bool TWindowTest::TabVisible(const char* AName) const {
  auto* tabs = Get<QTabWidget>("PageControl1");
  return tabs->isTabVisible(tabs->indexOf(Get<QWidget>(AName)));
}

QString TWindowTest::StatusText() const {
  const auto* bar = Window->Status().StatusBar();
  return bar->Panel(1).Text;
}

QString TWindowTest::Panel0() const {
  return Window->Status().StatusBar()->Panel(0).Text;
}

void TWindowReaderTest::StartReader(const std::vector<std::string>& AOtherPorts) {
  DbgLogger()->Close();
  DbgLogger()->SetDir(FDir.path().toStdString() + "/Logs");
  Host = std::make_unique<sim::TPtyHost>(Firmware);
  Ports = AOtherPorts;
  Ports.push_back(Host->PortName());
}

void TWindowReaderTest::TearDown() {
  Window.reset();  // waits for the worker
  Host.reset();
  DbgLogger()->Close();
  TWindowTest::TearDown();
}

}  // namespace kiren::test
