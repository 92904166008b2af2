// The wording of the reader's mode, priority and clear answers, the configuration in named
// fields, and the firmware capabilities.
#include <gtest/gtest.h>

#include "operator/reader.h"
#include "operator/texts.h"

namespace kiren::op {
namespace {

const std::string kUniversalOn = "Режим работы \"Универсальная команда\" включен";
const std::string kUniversalOff = "Режим работы \"Универсальная команда\" отключен";
const std::string kPriorOn = "Приоритет параметрам эмиссии";
const std::string kPriorOff = "Параметры эмиссии не приоритетны";

TEST(OperatorReader, ModeOutcomes) {
  const struct {
    TModeKind Kind;
    int ErrCode;
    std::uint8_t Mode, Answer;
    bool Ok;
    std::string Text;
    std::optional<bool> On;
    int TagBefore, TagAfter;
  } cases[] = {
      {TModeKind::Universal, 0, kModeQuery, 0, true, kUniversalOff, false, 1, 0},
      {TModeKind::Universal, 0, kModeQuery, 0x55, true, kUniversalOff, false, 1, 0},
      {TModeKind::Universal, 0, kModeQuery, 1, true, kUniversalOn, true, 0, 1},
      {TModeKind::Universal, 0, kModeQuery, 7, true, kUniversalOn, true, 0, 1},
      {TModeKind::EmissionPrior, 0, kModeQuery, 0x55, true, kPriorOn, true, 0, 1},
      {TModeKind::EmissionPrior, 0, kModeQuery, 0, true, kPriorOff, false, 1, 0},
      // Any byte from the query upwards only asks (the switch item sends (1 - tag) mod 256).
      {TModeKind::Universal, 0, 172, 0x55, true, kUniversalOff, false, 0x55, 0},
      {TModeKind::Universal, 0, kModeOn, 1, true, kMsgOk, true, 0, 1},
      {TModeKind::EmissionPrior, 0, kModeOff, 0, true, kMsgOk, false, 1, 0},
      {TModeKind::Universal, 0, kModeOn, 0, false, kMsgNotDone, std::nullopt, 0, 0},
      {TModeKind::Universal, 3, kModeQuery, 1, false, kMsgNotDone, std::nullopt, 1, 1},
      {TModeKind::EmissionPrior, 2, kModeOn, 1, false, kMsgNotDone, std::nullopt, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text + " mode " + std::to_string(c.Mode) + " answer " +
                 std::to_string(c.Answer));
    const TModeOutcome outcome = ModeOutcome(c.Kind, c.ErrCode, c.Mode, c.Answer);
    EXPECT_EQ(outcome.Ok, c.Ok);
    EXPECT_EQ(outcome.Text, c.Text);
    EXPECT_EQ(outcome.On, c.On);
    EXPECT_EQ(ModeTagAfter(outcome, c.Mode, c.TagBefore), c.TagAfter);
  }
}

TEST(OperatorReader, ClearOutcomes) {
  EXPECT_EQ(ClearOutcome(0).Text, kMsgOk);
  EXPECT_TRUE(ClearOutcome(0).Ok);
  EXPECT_EQ(ClearOutcome(kResNothingToDo).Text, kMsgNothingToClear);
  EXPECT_FALSE(ClearOutcome(kResNothingToDo).Ok);
  EXPECT_EQ(ClearOutcome(kResTimeout).Text, kMsgNotDone);
}

TEST(OperatorReader, ConfigInNamedFields) {
  const TReaderConfig full =
      DecodeConfig({{81, {"12", "0", "4", "256"}}, {82, {"1"}}, {168, {"0"}}, {33, {"x"}}});
  EXPECT_EQ(full.BlockNo, "12");
  EXPECT_EQ(full.Offset, "0");
  EXPECT_EQ(full.Size, "4");
  EXPECT_EQ(full.ReverseOrder, false);  // only the low 8 bits count
  EXPECT_EQ(full.Mode, 1);
  EXPECT_EQ(full.EmissionPrior, 0);

  // Short or unreadable entries leave the rest unknown.
  const TReaderConfig partial = DecodeConfig({{81, {"5", "x"}}, {82, {}}, {168, {"on"}}});
  EXPECT_EQ(partial.BlockNo, "5");
  EXPECT_EQ(partial.Offset, "x");
  EXPECT_EQ(partial.Size, std::nullopt);
  EXPECT_EQ(partial.ReverseOrder, std::nullopt);
  EXPECT_EQ(partial.Mode, std::nullopt);
  EXPECT_EQ(partial.EmissionPrior, std::nullopt);
  EXPECT_EQ(DecodeConfig({{81, {"1", "2", "3", "1"}}}).ReverseOrder, true);

  EXPECT_EQ(ConfigKeyName(82), "универсальный режим");
  EXPECT_EQ(ConfigKeyName(33), "");
}

TEST(OperatorReader, CapabilitiesByVersion) {
  const auto caps = [](int AMajor) {
    const TCapabilities c = Capabilities(AMajor);
    return std::vector<bool>{c.CodeSize,   c.ServiceCommands, c.ByteOrder,
                             c.ModeSwitch, c.ReadMethod,      c.ReadConfig};
  };
  using V = std::vector<bool>;
  EXPECT_EQ(caps(0), V(6, false));
  EXPECT_EQ(caps(2), V(6, false));
  EXPECT_EQ(caps(3), (V{true, true, false, false, false, false}));
  EXPECT_EQ(caps(4), (V{true, true, true, true, true, false}));
  EXPECT_EQ(caps(5), V(6, true));
  TDevInfo dev;
  dev.UpdateFromVerInfo("Kiren-M1 v4.2");
  EXPECT_EQ(Capabilities(dev).ByteOrder, dev.AllowByteOrderChange());
  EXPECT_EQ(Capabilities(dev).ReadConfig, dev.AllowReadConfig());
  EXPECT_EQ(Capabilities(dev).CodeSize, dev.AllowCodeSizeChange());
}

}  // namespace
}  // namespace kiren::op
