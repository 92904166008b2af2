#include "base/message_sink.h"

#include <iostream>
#include <mutex>

namespace kiren {

namespace {

class TStderrSink : public IMessageSink {
 public:
  void Info(const std::string& AText) override { Print(kInfoCaption, AText); }
  void Warning(const std::string& AText) override { Print(kWarningCaption, AText); }
  bool Question(const std::string& ACaption, const std::string& AText) override {
    Print(ACaption, AText + " -> Нет");
    return false;
  }

 private:
  static void Print(const std::string& ACaption, const std::string& AText) {
    std::cerr << ACaption << ": " << AText << std::endl;
  }
};

std::mutex gSinkLock;
std::shared_ptr<IMessageSink>& SinkSlot() {
  static std::shared_ptr<IMessageSink> sink = std::make_shared<TStderrSink>();
  return sink;
}

// The sink is copied out under the lock, so a box may stay open while another thread
// replaces the sink.
std::shared_ptr<IMessageSink> CurrentSink() {
  std::lock_guard lock(gSinkLock);
  return SinkSlot();
}

}  // namespace

std::shared_ptr<IMessageSink> SetMessageSink(std::shared_ptr<IMessageSink> ASink) {
  if (!ASink)
    ASink = std::make_shared<TStderrSink>();
  std::lock_guard lock(gSinkLock);
  std::swap(SinkSlot(), ASink);
  return ASink;
}

void MsgInfo(const std::string& AText) {
  CurrentSink()->Info(AText);
}
void MsgWarning(const std::string& AText) {
  CurrentSink()->Warning(AText);
}
bool MsgQuestion(const std::string& ACaption, const std::string& AText) {
  return CurrentSink()->Question(ACaption, AText);
}

}  // namespace kiren
