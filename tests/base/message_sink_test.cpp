#include "base/message_sink.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiren {
namespace {

class TRecordingSink : public IMessageSink {
 public:
  std::vector<std::string> log;
  bool answer = true;
  void Info(const std::string& AText) override { log.push_back("I:" + AText); }
  void Warning(const std::string& AText) override { log.push_back("W:" + AText); }
  bool Question(const std::string& ACaption, const std::string& AText) override {
    log.push_back("Q:" + ACaption + ":" + AText);
    return answer;
  }
};

TEST(MessageSink, DefaultWritesToStderrAndAnswersNo) {
  SetMessageSink(nullptr);
  testing::internal::CaptureStderr();
  MsgWarning("Текст");
  MsgInfo("Инфо");
  const bool yes = MsgQuestion("Вопрос", "Да?");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(yes);
  EXPECT_NE(err.find("Предупреждение: Текст"), std::string::npos);
  EXPECT_NE(err.find("Информация: Инфо"), std::string::npos);
  EXPECT_NE(err.find("Вопрос: Да?"), std::string::npos);
}

TEST(MessageSink, ReplacementReceivesCallsAndCanBeRestored) {
  auto sink = std::make_shared<TRecordingSink>();
  auto previous = SetMessageSink(sink);
  ASSERT_NE(previous, nullptr);
  MsgInfo("a");
  MsgWarning("b");
  EXPECT_TRUE(MsgQuestion("c", "d"));
  sink->answer = false;
  EXPECT_FALSE(MsgQuestion("e", "f"));
  EXPECT_EQ(sink->log, (std::vector<std::string>{"I:a", "W:b", "Q:c:d", "Q:e:f"}));
  EXPECT_EQ(SetMessageSink(previous), sink);
  testing::internal::CaptureStderr();
  MsgInfo("g");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(sink->log.size(), 4u);
}

}  // namespace
}  // namespace kiren
