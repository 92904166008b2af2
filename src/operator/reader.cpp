#include "operator/reader.h"

#include "base/text_utils.h"
#include "operator/texts.h"

namespace kiren::op {

namespace {

constexpr std::uint8_t kUniversalOffAnswer = 0x55;
// First major versions of the features.
constexpr int kVersionCodeSize = 3;
constexpr int kVersionModeSwitch = 4;
constexpr int kVersionReadConfig = 5;

std::optional<int> IntValue(const std::vector<std::string>& AValues, std::size_t AIndex) {
  std::int32_t v = 0;
  if (AIndex < AValues.size() && TryStrToInt(AValues[AIndex], v))
    return v;
  return std::nullopt;
}

}  // namespace

std::uint8_t NextModeValue(int ATag) {
  return static_cast<std::uint8_t>((1 - ATag) & 0xFF);
}

bool ModeAnswerIsOn(TModeKind AKind, std::uint8_t AAnswer) {
  if (AKind == TModeKind::Universal)
    return AAnswer != 0 && AAnswer != kUniversalOffAnswer;
  return AAnswer != 0;
}

std::string ModeStateText(TModeKind AKind, bool AOn) {
  if (AKind == TModeKind::Universal)
    return AOn ? "Режим работы \"Универсальная команда\" включен"
               : "Режим работы \"Универсальная команда\" отключен";
  return AOn ? "Приоритет параметрам эмиссии" : "Параметры эмиссии не приоритетны";
}

TModeOutcome ModeOutcome(TModeKind AKind, int AErrCode, std::uint8_t AMode, std::uint8_t AAnswer) {
  if (AErrCode != kResOk)
    return {false, kMsgNotDone, std::nullopt};
  if (IsModeQuery(AMode)) {
    const bool on = ModeAnswerIsOn(AKind, AAnswer);
    return {true, ModeStateText(AKind, on), on};
  }
  if (AAnswer != AMode)
    return {false, kMsgNotDone, std::nullopt};
  return {true, kMsgOk, AMode == kModeOn};
}

int ModeTagAfter(const TModeOutcome& AOutcome, std::uint8_t AMode, int ATag) {
  if (!AOutcome.Ok)
    return ATag;
  if (IsModeQuery(AMode))
    return AOutcome.On.value_or(false) ? 1 : 0;
  return 1 - ATag;
}

TOutcome ClearOutcome(int AErrCode) {
  switch (AErrCode) {
    case kResOk:
      return {true, kMsgOk};
    case kResNothingToDo:
      return {false, kMsgNothingToClear};
    default:
      return {false, kMsgNotDone};
  }
}

TReaderConfig DecodeConfig(const TConfig& AConfig) {
  TReaderConfig config;
  if (const auto it = AConfig.find(kCmdSetupPerco); it != AConfig.end()) {
    const auto& values = it->second;
    std::optional<std::string>* const texts[] = {&config.BlockNo, &config.Offset, &config.Size};
    for (std::size_t i = 0; i < std::size(texts) && i < values.size(); ++i)
      *texts[i] = values[i];
    if (const auto order = IntValue(values, 3))
      config.ReverseOrder = (*order & 0xFF) != 0;
  }
  if (const auto it = AConfig.find(kCmdSetupMode); it != AConfig.end())
    config.Mode = IntValue(it->second, 0);
  if (const auto it = AConfig.find(kCmdSetupSorvelMode); it != AConfig.end())
    config.EmissionPrior = IntValue(it->second, 0);
  return config;
}

std::string ConfigKeyName(std::uint8_t AKey) {
  switch (AKey) {
    case kCmdSetupPerco:
      return "параметры эмиссии (блок, смещение, размер, обратный порядок)";
    case kCmdSetupMode:
      return "универсальный режим";
    case kCmdSetupSorvelMode:
      return "приоритет параметров эмиссии";
    default:
      return "";
  }
}

TCapabilities Capabilities(int AVerMajor) {
  TCapabilities caps;
  caps.CodeSize = AVerMajor >= kVersionCodeSize;
  caps.ServiceCommands = AVerMajor >= kVersionCodeSize;
  caps.ByteOrder = AVerMajor >= kVersionModeSwitch;
  caps.ModeSwitch = AVerMajor >= kVersionModeSwitch;
  caps.ReadMethod = AVerMajor >= kVersionModeSwitch;
  caps.ReadConfig = AVerMajor >= kVersionReadConfig;
  return caps;
}

}  // namespace kiren::op
