// Test scaffolding for the main window: a window with its own settings file, service gate
// and port list, and a message sink that records the boxes and answers them.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "sim/firmware.h"
#include "sim/pty_host.h"
#include "ui/main_window.h"
#include "ui/status_informer.h"

namespace kiren::test {

// Records every box (from any thread) and answers questions with Answer.
class TRecordingSink : public IMessageSink {
 public:
  struct TBox {
    std::string Kind, Caption, Text;
  };
  void Info(const std::string& AText) override { Add({"info", kInfoCaption, AText}); }
  void Warning(const std::string& AText) override { Add({"warning", kWarningCaption, AText}); }
  bool Question(const std::string& ACaption, const std::string& AText) override {
    Add({"question", ACaption, AText});
    return Answer;
  }
  std::vector<TBox> Boxes() const {
    std::lock_guard lock(FLock);
    return FBoxes;
  }
  std::vector<std::string> Warnings() const {
    std::vector<std::string> out;
    for (const auto& b : Boxes())
      if (b.Kind == "warning")
        out.push_back(b.Text);
    return out;
  }
  void Clear() {
    std::lock_guard lock(FLock);
    FBoxes.clear();
  }
  bool Answer = true;

 private:
  void Add(TBox ABox) {
    std::lock_guard lock(FLock);
    FBoxes.push_back(std::move(ABox));
  }
  mutable std::mutex FLock;
  std::vector<TBox> FBoxes;
};

class TWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the window; the settings file and smb.conf may be prepared before.
  void CreateWindow();
  void WriteSmbConf(const std::string& AWorkgroup);
  void WriteSettings(const std::string& AText);
  QString SettingsText() const;
  QString SettingsPath() const { return FDir.path() + "/settings.ini"; }
  QString JournalPath() const { return FDir.path() + "/journal.sqlite3"; }

  template <typename T>
  T* Get(const char* AName) const {
    T* w = Window->findChild<T*>(QString::fromLatin1(AName));
    EXPECT_NE(w, nullptr) << AName;
    return w;
  }
  QLineEdit* Edit(const char* AName) const { return Get<QLineEdit>(AName); }
  QAction* Action(const char* AName) const { return Get<QAction>(AName); }
  bool TabVisible(const char* AName) const;
  // Text and colour of the informer's panel.
  QString StatusText() const;
  QColor StatusColor() const { return Window->Status().StatusColor(); }
  QString Panel0() const;

  QTemporaryDir FDir;
  std::string SmbConf;
  std::vector<std::string> Ports{"ttyACM0", "ttyACM1"};
  // Use the real port discovery and device watching instead of Ports.
  bool SystemPorts = false;
  std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
  std::shared_ptr<IMessageSink> FOldSink;
  std::unique_ptr<TfMain> Window;
};

// The window beside a virtual reader on a pseudo-terminal; the debug log goes to the test's
// folder. Ports lists the reader's port after AOtherPorts.
class TWindowReaderTest : public TWindowTest {
 protected:
  void StartReader(const std::vector<std::string>& AOtherPorts);
  void TearDown() override;

  sim::TFirmware Firmware;
  std::unique_ptr<sim::TPtyHost> Host;
};

}  // namespace kiren::test
