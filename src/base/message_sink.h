#pragma once

#include <memory>
#include <string>

namespace kiren {

// Where the modal message boxes go. The window installs one that shows a box on the GUI
// thread and blocks the caller until it closes; tests install recorders.
class IMessageSink {
 public:
  virtual ~IMessageSink() = default;
  virtual void Info(const std::string& AText) = 0;
  virtual void Warning(const std::string& AText) = 0;
  // True when the operator chose "Yes".
  virtual bool Question(const std::string& ACaption, const std::string& AText) = 0;
};

// Captions of the information and warning boxes.
inline const std::string kInfoCaption = "Информация";
inline const std::string kWarningCaption = "Предупреждение";

// Installs ASink (nullptr restores the default, which writes to stderr and answers "No").
// Returns the sink that was installed before.
std::shared_ptr<IMessageSink> SetMessageSink(std::shared_ptr<IMessageSink> ASink);

void MsgInfo(const std::string& AText);
void MsgWarning(const std::string& AText);
bool MsgQuestion(const std::string& ACaption, const std::string& AText);

}  // namespace kiren
