#pragma once

#include <QString>
#include <functional>

#include "base/message_sink.h"

namespace kiren {

enum class TMsgKind { Info, Warning, Question };

struct TMsgBoxRequest {
  TMsgKind Kind = TMsgKind::Info;
  QString Caption;
  QString Text;
};

// Shows a box and returns the operator's answer (true for "Да"; OK boxes return true).
using TMsgBoxDisplay = std::function<bool(const TMsgBoxRequest& ARequest)>;

// Replaces how boxes are displayed (tests answer automatically); an empty function restores
// the application-modal QMessageBox. Returns the display installed before.
TMsgBoxDisplay SetMsgBoxDisplay(TMsgBoxDisplay ADisplay);

// Shows one box on the calling thread, which must be the GUI thread: information and warning
// boxes with an OK button, the question with "Да" and "Нет" and the warning icon.
bool ShowMsgBox(TMsgKind AKind, const QString& ACaption, const QString& AText);

// The message sink of the window: shows the box on the application's (GUI) thread and blocks a
// calling worker thread until the box is closed. Install it with SetMessageSink after the
// QApplication exists; the GUI thread must keep running its event loop while a worker may
// raise a box, or that worker waits for ever.
class TQtMessageSink : public IMessageSink {
 public:
  void Info(const std::string& AText) override;
  void Warning(const std::string& AText) override;
  bool Question(const std::string& ACaption, const std::string& AText) override;

 private:
  bool ShowOnGuiThread(TMsgKind AKind, const std::string& ACaption, const std::string& AText);
};

}  // namespace kiren
