#include "cli/commands.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "base/text_utils.h"
#include "cli/json.h"
#include "cli/session.h"
#include "serial/usb.h"

namespace kiren::cli {

namespace {

using namespace std::chrono_literals;

const char kSuccessText[] = "Операция выполнена успешно";
const char kNotDoneText[] = "Не выполнено";
const char kLinkLostText[] = "Связь со считывателем потеряна";
const char kInterruptedText[] = "Прервано";
const char kDefaultKey[] = "FF FF FF FF FF FF";
constexpr std::int64_t kDefaultCardWaitS = 10;
constexpr std::int64_t kMaxWaitS = 24 * 3600;
constexpr std::uint8_t kModeOff = 0, kModeOn = 1, kModeQuery = 2;

// ---- Output --------------------------------------------------------------------------------

// Results go to stdout: text lines, or one JSON object per line with --json. Progress notes go
// to stderr.
class TOut {
 public:
  explicit TOut(bool AJson) : FJson(AJson) {}
  void Line(const std::string& AText) const {
    if (!FJson)
      std::cout << AText << std::endl;
  }
  void Object(const TJsonObject& AObject) const {
    if (FJson)
      std::cout << AObject.Str() << std::endl;
  }
  void Note(const std::string& AText) const { std::cerr << AText << std::endl; }
  // A failure outside an action's result: stderr in text mode, an object with --json.
  int Fail(int AExit, const std::string& AText) const {
    if (FJson)
      Object(TJsonObject().Add("ok", false).Add("error", AText));
    else
      std::cerr << "kiren-cli: " << AText << std::endl;
    return AExit;
  }

 private:
  bool FJson;
};

// The outcome of one operation: its text line, or a JSON object with ok, code and text first.
int Report(const TOut& AOut, bool AOk, int ACode, const std::string& AText,
           const TJsonObject& AExtra = TJsonObject()) {
  AOut.Line(AText);
  AOut.Object(TJsonObject().Add("ok", AOk).Add("code", ACode).Add("text", AText).Merge(AExtra));
  return AOk ? kExitOk : kExitFailed;
}

// Why a wait of the session ended without its goal; APrefix names what was being done.
int WaitFailed(const TOut& AOut, const TSession& ASession, const std::string& ATimeoutText,
               const std::string& APrefix = {}) {
  if (ASession.Ended())
    return AOut.Fail(kExitConnection, APrefix + kLinkLostText);
  if (gInterrupted)
    return AOut.Fail(kExitFailed, APrefix + kInterruptedText);
  return AOut.Fail(kExitFailed, ATimeoutText);
}

// ---- Values --------------------------------------------------------------------------------

// A 6-byte key given as hexadecimal digits (blanks between pairs optional).
TKey ParseKey(const TArgs& AArgs, const std::string& AName, const std::string& AError) {
  Bytes bytes;
  if (!HexStrToBytes(AArgs.Get(AName, kDefaultKey), bytes) || bytes.size() != 6)
    throw TUsageError(AError);
  TKey key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

std::string CardLine(const TCardInfo& ACard) {
  if (!ACard.status.CardPresent())
    return "Нет карты";
  std::string line = "Тип: " + ACard.CardType() + "; UID: " + ACard.UIDStr();
  if (!ACard.desc.empty()) {
    std::string desc;
    ReplaceSubstr(ACard.desc, "\r\n", "; ", desc, false);
    line += "; " + desc;
  }
  return line;
}

TJsonObject CardJson(const TCardInfo& ACard) {
  TJsonObject card;
  card.Add("status", BytesToHex({static_cast<std::uint8_t>(ACard.status.data >> 8),
                                 static_cast<std::uint8_t>(ACard.status.data)}))
      .Add("present", ACard.status.CardPresent());
  if (ACard.status.CardPresent())
    card.Add("type", ACard.CardType()).Add("uid", ACard.UIDStr()).Add("desc", ACard.desc);
  return card;
}

// How long to wait for a card: --wait seconds.
std::chrono::milliseconds CardWait(const TArgs& AArgs) {
  return std::chrono::seconds(AArgs.GetInt("wait", 1, kMaxWaitS, kDefaultCardWaitS));
}

// Waits for a card in the field.
bool WaitCard(TSession& ASession, std::chrono::milliseconds AWait, const TOut& AOut) {
  if (ASession.Card().status.CardPresent())
    return true;
  AOut.Note("Поднесите карту к считывателю...");
  return ASession.WaitFor([&] { return ASession.Card().status.CardPresent(); }, AWait);
}

// ---- Commands ------------------------------------------------------------------------------

// A validated command: runs on a connected session and returns the exit status.
using TRun = std::function<int(TSession& ASession)>;

int CmdPorts(const TOut& AOut) {
  std::vector<std::string> ports;
  EnumComPorts(ports, kReaderPidVid);
  for (const auto& port : ports)
    AOut.Line(port);
  if (ports.empty())
    AOut.Note("Порты считывателя не найдены");
  AOut.Object(TJsonObject().Add("ports", ports));
  return kExitOk;
}

struct TModeTexts {
  bool (*IsOn)(std::uint8_t AAnswer);
  const char* OnText;
  const char* OffText;
  bool EmissionPrior;
};

// The universal mode counts the answers 0 and 0x55 as off, the emission priority only 0.
const TModeTexts kUniversalMode = {[](std::uint8_t A) { return A != 0 && A != 0x55; },
                                   "Режим работы \"Универсальная команда\" включен",
                                   "Режим работы \"Универсальная команда\" отключен", false};
const TModeTexts kEmissionPrior = {[](std::uint8_t A) { return A != 0; },
                                   "Приоритет параметрам эмиссии",
                                   "Параметры эмиссии не приоритетны", true};

struct TModeResult {
  bool Ok = false;
  int Code = kResNotExecuted;
  std::string Text;
  bool On = false;
  std::uint8_t Answer = 0;

  TJsonObject Json() const {
    return TJsonObject()
        .Add("ok", Ok)
        .Add("code", Code)
        .Add("text", Text)
        .Add("answer", Answer)
        .Add("on", On);
  }
};

// Switches (0, 1) or queries (2) one of the two modes and words the answer as the window does.
TModeResult SetupMode(TSession& ASession, const TModeTexts& ATexts, std::uint8_t AMode) {
  TModeResult result;
  TOnActionDone done = [&](TThAction& A) {
    auto& action = static_cast<TAcSetupMode&>(A);
    result.Code = action.ErrCode();
    result.Answer = action.Answer();
    if (action.ErrCode() != kResOk) {
      result.Text = kNotDoneText;
    } else if (AMode >= kModeQuery) {
      result.Ok = true;
      result.On = ATexts.IsOn(action.Answer());
      result.Text = result.On ? ATexts.OnText : ATexts.OffText;
    } else {
      result.Ok = action.Answer() == AMode;
      result.On = result.Ok && AMode == kModeOn;
      result.Text = result.Ok ? kSuccessText : kNotDoneText;
    }
  };
  std::unique_ptr<TThAction> action;
  if (ATexts.EmissionPrior)
    action = std::make_unique<TAcSetupEmissionPrior>(AMode, done);
  else
    action = std::make_unique<TAcSetupMode>(AMode, done);
  if (!ASession.Run(std::move(action)))
    result.Text = ASession.Ended() ? kLinkLostText : kInterruptedText;
  return result;
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

TRun CmdInfo(const TArgs& AArgs, const TOut& AOut) {
  return [&AArgs, &AOut](TSession& ASession) {
    const TDevInfo& dev = ASession.DevInfo();
    const TModeResult mode = SetupMode(ASession, kUniversalMode, kModeQuery);
    const TModeResult prior = SetupMode(ASession, kEmissionPrior, kModeQuery);
    if (ASession.Ended())
      return AOut.Fail(kExitConnection, kLinkLostText);

    AOut.Line("Версия: " + dev.verInfo);
    AOut.Line("Универсальный режим: " + mode.Text);
    AOut.Line("Приоритет: " + prior.Text);
    TJsonObject config;
    if (ASession.Config()) {
      AOut.Line("Конфигурация:");
      for (const auto& [key, values] : *ASession.Config()) {
        std::string line = "  " + std::to_string(key) + ":";
        for (std::size_t i = 0; i < values.size(); ++i)
          line += (i ? ", " : " ") + values[i];
        const std::string name = ConfigKeyName(key);
        AOut.Line(line + (name.empty() ? "" : " — " + name));
        config.Add(std::to_string(key), values);
      }
    } else {
      AOut.Line(dev.AllowReadConfig() ? "Конфигурация: не считана"
                                      : "Конфигурация: не поддерживается");
    }
    TJsonObject info;
    info.Add("ok", mode.Ok && prior.Ok)
        .Add("port", AArgs.Port)
        .Add("version", dev.verInfo)
        .Add("major", dev.verMajor)
        .Add("minor", dev.verMinor)
        .Add("mode", mode.Json())
        .Add("emission_prior", prior.Json());
    if (ASession.Config())
      info.Add("config", config);
    else
      info.AddRaw("config", "null");
    AOut.Object(info);
    return mode.Ok && prior.Ok ? kExitOk : kExitFailed;
  };
}

TRun CmdWatch(const TArgs&, const TOut& AOut) {
  return [&AOut](TSession& ASession) {
    AOut.Line("Версия: " + ASession.DevInfo().verInfo);
    AOut.Object(TJsonObject().Add("event", "device").Add("version", ASession.DevInfo().verInfo));
    std::optional<TCardInfo> shown;
    auto show = [&](const TCardInfo& ACard) {
      if (shown && *shown == ACard)
        return;
      shown = ACard;
      AOut.Line(CardLine(ACard));
      AOut.Object(TJsonObject().Add("event", "card").Merge(CardJson(ACard)));
    };
    show(ASession.Card());
    ASession.OnCard = show;
    ASession.WaitFor([] { return false; });
    ASession.OnCard = nullptr;
    if (ASession.Ended())
      return AOut.Fail(kExitConnection, kLinkLostText);
    return kExitOk;  // stopped by SIGINT or SIGTERM
  };
}

TRun CmdReadBlock(const TArgs& AArgs, const TOut& AOut) {
  const auto block = static_cast<std::uint8_t>(AArgs.Require("block", 0, 255));
  const TKey key = ParseKey(AArgs, "key", "Не удалось распознать пароль для считывания блока");
  const auto wait = CardWait(AArgs);
  return [=, &AOut](TSession& ASession) {
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    int code = kResNotExecuted;
    std::string error;
    TBlock data{};
    auto action = std::make_unique<TAcReadBlock>(block, kKeyTypeA, key, [&](TThAction& A) {
      code = A.ErrCode();
      error = ActionErrorText(A);
      data = static_cast<TAcReadBlock&>(A).BlockData();
    });
    if (!ASession.Run(std::move(action)))
      return WaitFailed(AOut, ASession, kInterruptedText);
    if (!error.empty())
      return Report(AOut, false, code, error);
    const std::string hex = BytesToHexStr(data.data(), data.size());
    AOut.Line("Блок " + std::to_string(block) + ": " + hex);
    return Report(AOut, true, code, kSuccessText,
                  TJsonObject().Add("block", static_cast<int>(block)).Add("data", hex));
  };
}

TRun CmdWriteParams(const TArgs& AArgs, const TOut& AOut) {
  TPercoPars pars;
  pars.key = ParseKey(AArgs, "key", "Ключ должен содержать 6 байт");
  pars.blockNo = static_cast<std::uint8_t>(AArgs.Require("block", 0, 252));
  pars.offset = static_cast<std::uint8_t>(AArgs.GetInt("offset", 0, 12, 0));
  pars.size = static_cast<std::uint8_t>(AArgs.Require("size", 4, 10));
  pars.lbs = AArgs.Has("reverse") ? 1 : 0;
  if (TProtocol::GetTBlock(pars.blockNo) == pars.blockNo && !AArgs.Has("force"))
    throw TUsageError("блок " + std::to_string(pars.blockNo) + " хранит ключи сектора №" +
                      std::to_string(TProtocol::GetSector(pars.blockNo)) +
                      "; запись в него может вывести сектор из строя (подтвердите --force)");
  if (pars.offset + pars.size > 16)
    throw TUsageError("Заданное смещение и кол-во байт не укладываются в размер блока 16 байт");
  return [=, &AOut](TSession& ASession) {
    int code = kResNotExecuted;
    std::string error;
    auto action = std::make_unique<TAcPercoStt>(pars, [&](TThAction& A) {
      code = A.ErrCode();
      error = ActionErrorText(A);
    });
    if (!ASession.Run(std::move(action)))
      return WaitFailed(AOut, ASession, kInterruptedText);
    return Report(AOut, error.empty(), code, error.empty() ? kSuccessText : error);
  };
}

// The card code as the window builds it: decimal, or hexadecimal after "0x", as ASize bytes.
Bytes ParseCardCode(const std::string& AText, int ASize) {
  std::string hex;
  if (AText.rfind("0x", 0) == 0 || AText.rfind("0X", 0) == 0) {
    hex = AText.substr(2);
  } else {
    std::uint64_t value = 0;
    const char* end = AText.data() + AText.size();
    const auto [ptr, ec] = std::from_chars(AText.data(), end, value);
    if (AText.empty() || ec != std::errc() || ptr != end)
      throw TUsageError("Введен некорректный код карты");
    char buf[24];
    std::snprintf(buf, sizeof(buf), "%02llX", static_cast<unsigned long long>(value));
    hex = buf;
  }
  if (hex.size() % 2 != 0)
    hex = "0" + hex;
  const std::size_t digits = 2 * static_cast<std::size_t>(ASize);
  if (hex.size() < digits)
    hex.insert(0, digits - hex.size(), '0');
  Bytes code;
  if (!HexStrToBytes(hex, code))
    throw TUsageError("Введен некорректный код карты");
  if (code.size() > static_cast<std::size_t>(ASize))
    throw TUsageError("Введен слишком длинный код карты (максимум " + std::to_string(ASize) +
                      " байт)");
  return code;
}

// Adds one to a big-endian code; false when it would overflow.
bool IncrementCode(Bytes& ACode) {
  for (auto it = ACode.rbegin(); it != ACode.rend(); ++it)
    if (++*it != 0)
      return true;
  return false;
}

TRun CmdWriteCode(const TArgs& AArgs, const TOut& AOut) {
  const auto block = static_cast<std::uint8_t>(AArgs.Require("block", 0, 252));
  const auto offset = static_cast<std::uint8_t>(AArgs.GetInt("offset", 0, 12, 0));
  const int size = static_cast<int>(AArgs.GetInt("size", 4, 10, 4));
  const auto count = AArgs.GetInt("count", 1, 1000000, 1);
  const auto wait = CardWait(AArgs);
  TKeyList keys;
  keys.KeyA = ParseKey(AArgs, "key-a", "Введен некорректный ключ на чтение");
  keys.KeyB = ParseKey(AArgs, "key-b", "Введен некорректный ключ на запись");
  keys.oldKeyB = ParseKey(AArgs, "old-key-b", "Введен некорректный текущий ключ на запись");
  if (!AArgs.Has("code"))
    throw TUsageError("не задан параметр --code");
  const Bytes firstCode = ParseCardCode(AArgs.Get("code", ""), size);
  try {
    // The action's own checks, before anything is sent.
    TAcWriteCardCode(block, offset, firstCode, keys, nullptr);
  } catch (const std::invalid_argument& e) {
    throw TUsageError(e.what());
  }

  return [=, &AOut](TSession& ASession) {
    Bytes code = firstCode;
    std::string lastUid;  // the card written last must change or leave the field first
    ASession.OnCard = [&](const TCardInfo& ACard) {
      if (ACard.status.CardPresent() || lastUid.empty())
        return;
      lastUid.clear();
      AOut.Note("Карта снята");
    };
    auto isNewCard = [&] {
      return ASession.Card().status.CardPresent() && ASession.Card().UIDStr() != lastUid;
    };
    for (std::int64_t n = 1; n <= count; ++n) {
      const std::string number = std::to_string(n) + " из " + std::to_string(count);
      if (!isNewCard()) {
        AOut.Note("Карта " + number + ": поднесите карту к считывателю...");
        if (!ASession.WaitFor(isNewCard, wait))
          return WaitFailed(AOut, ASession, "Карта " + number + " не поднесена",
                            "Карта " + number + ": ");
      }
      const std::string uid = ASession.Card().UIDStr();
      const std::string codeHex = BytesToHex(code);
      int result = kResNotExecuted;
      std::string error;
      TBlock trailer{};
      auto action =
          std::make_unique<TAcWriteCardCode>(block, offset, code, keys, [&](TThAction& A) {
            result = A.ErrCode();
            error = ActionErrorText(A);
            trailer = static_cast<TAcWriteCardCode&>(A).BlockData();
          });
      if (!ASession.Run(std::move(action)))
        return WaitFailed(AOut, ASession, kInterruptedText, "Карта " + number + ": ");
      const bool ok = error.empty();
      const std::string text = ok ? kSuccessText : error;
      AOut.Line("Карта " + number + " (UID " + uid + "), код " + codeHex + ": " + text);
      AOut.Object(TJsonObject()
                      .Add("ok", ok)
                      .Add("code", result)
                      .Add("text", text)
                      .Add("card", static_cast<std::int64_t>(n))
                      .Add("uid", uid)
                      .Add("card_code", codeHex)
                      .Add("trailer", ok ? BytesToHexStr(trailer.data(), trailer.size()) : ""));
      if (!ok)
        return kExitFailed;
      lastUid = uid;
      if (n < count && !IncrementCode(code))
        return AOut.Fail(kExitFailed, "Не удалось увеличить код карты на 1");
    }
    return kExitOk;
  };
}

TRun CmdIssue(const TArgs& AArgs, const TOut& AOut) {
  const int variant = static_cast<int>(AArgs.Require("variant", 1, 5));
  const std::string emitent = AArgs.Get("emitent", "0");
  const std::string emission = AArgs.Get("emission", "0");
  const std::string factoryKey = AArgs.Get("factory-key", kDefaultKey);
  const std::string userData = AArgs.Get("user-data", "00000000000000000000");
  const auto wait = CardWait(AArgs);
  return [=, &AOut](TSession& ASession) {
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    int code = kResNotExecuted;
    std::string error;
    auto action = std::make_unique<TAcIssueCard>(variant, emitent, emission, factoryKey, userData,
                                                 [&](TThAction& A) {
                                                   code = A.ErrCode();
                                                   error = ActionErrorText(A);
                                                 });
    if (!ASession.Run(std::move(action)))
      return WaitFailed(AOut, ASession, kInterruptedText);
    return Report(AOut, error.empty(), code, error.empty() ? kSuccessText : error);
  };
}

TRun CmdClear(const TArgs& AArgs, const TOut& AOut) {
  const auto wait = CardWait(AArgs);
  return [=, &AOut](TSession& ASession) {
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    int code = kResNotExecuted;
    auto action = std::make_unique<TAcClearCard>([&](TThAction& A) { code = A.ErrCode(); });
    if (!ASession.Run(std::move(action)))
      return WaitFailed(AOut, ASession, kInterruptedText);
    const char* text = code == kResOk            ? kSuccessText
                       : code == kResNothingToDo ? "Нет данных для удаления"
                                                 : kNotDoneText;
    return Report(AOut, code == kResOk, code, text);
  };
}

TRun CmdMode(const TArgs& AArgs, const TOut& AOut, const TModeTexts& ATexts) {
  if (AArgs.Words.size() != 1)
    throw TUsageError("ожидается on, off или query");
  const std::string& word = AArgs.Words[0];
  std::uint8_t mode = kModeQuery;
  if (word == "on")
    mode = kModeOn;
  else if (word == "off")
    mode = kModeOff;
  else if (word != "query")
    throw TUsageError("ожидается on, off или query, получено \"" + word + "\"");
  return [mode, &ATexts, &AOut](TSession& ASession) {
    const TModeResult result = SetupMode(ASession, ATexts, mode);
    if (ASession.Ended())
      return AOut.Fail(kExitConnection, kLinkLostText);
    return Report(AOut, result.Ok, result.Code, result.Text,
                  TJsonObject().Add("answer", result.Answer).Add("on", result.On));
  };
}

// Validates the command's options and gives the step that runs on the connection.
TRun Prepare(const TArgs& AArgs, const TOut& AOut) {
  using TPrepare = TRun (*)(const TArgs&, const TOut&);
  static const std::map<std::string, TPrepare> kCommands = {
      {"info", CmdInfo},
      {"watch", CmdWatch},
      {"read-block", CmdReadBlock},
      {"write-params", CmdWriteParams},
      {"write-code", CmdWriteCode},
      {"issue", CmdIssue},
      {"clear", CmdClear},
      {"mode", [](const TArgs& A, const TOut& O) { return CmdMode(A, O, kUniversalMode); }},
      {"priority", [](const TArgs& A, const TOut& O) { return CmdMode(A, O, kEmissionPrior); }},
  };
  const std::string& name = AArgs.Command->Name;
  const auto it = kCommands.find(name);
  if (it == kCommands.end())
    throw TUsageError("неизвестная команда " + name);
  return it->second(AArgs, AOut);
}

const std::vector<TOptionSpec> kWaitOption = {
    {"wait", "СЕК", "сколько ждать карту в поле, по умолчанию 10 с"}};

// AText followed by blanks up to AWidth characters (UTF-8 letters count once).
std::string PadRight(const std::string& AText, std::size_t AWidth) {
  std::size_t width = 0;
  for (const char ch : AText)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
      ++width;
  return width >= AWidth ? AText : AText + std::string(AWidth - width, ' ');
}

std::vector<TOptionSpec> WithWait(std::vector<TOptionSpec> AOptions) {
  AOptions.insert(AOptions.end(), kWaitOption.begin(), kWaitOption.end());
  return AOptions;
}

}  // namespace

const std::vector<TCommandSpec>& Commands() {
  static const std::vector<TCommandSpec> commands = {
      {"ports", false, "", "порты подключённых считывателей", {}},
      {"info", true, "", "версия, универсальный режим, приоритет, конфигурация", {}},
      {"watch", true, "", "строка на каждую смену карты в поле, до Ctrl+C", {}},
      {"read-block", true, "", "прочитать блок карты ключом A",
       WithWait({{"block", "N", "номер блока 0..255 (обязательно)"},
                 {"key", "HEX", "ключ A, 6 байт, по умолчанию FF FF FF FF FF FF"}})},
      {"write-params",
       true,
       "",
       "записать параметры эмиссии в считыватель",
       {{"block", "N", "номер блока 0..252 (обязательно)"},
        {"offset", "N", "смещение в блоке 0..12, по умолчанию 0"},
        {"size", "N", "кол-во байт кода 4..10 (обязательно)"},
        {"key", "HEX", "ключ на чтение, 6 байт, по умолчанию FF FF FF FF FF FF"},
        {"reverse", nullptr, "обратный порядок байт"},
        {"force", nullptr, "разрешить блок ключей сектора"}}},
      {"write-code", true, "", "записать код карты и новые ключи сектора",
       WithWait({{"block", "N", "номер блока 0..252 (обязательно)"},
                 {"offset", "N", "смещение в блоке 0..12, по умолчанию 0"},
                 {"size", "N", "кол-во байт кода 4..10, по умолчанию 4"},
                 {"code", "КОД", "код: десятичный или 0xHEX (обязательно)"},
                 {"key-a", "HEX", "новый ключ на чтение, по умолчанию FF..FF"},
                 {"key-b", "HEX", "новый ключ на запись, по умолчанию FF..FF"},
                 {"old-key-b", "HEX", "текущий ключ на запись, по умолчанию FF..FF"},
                 {"count", "N",
                  "сколько карт записать подряд: код +1 после каждой успешной записи, "
                  "остановка на первой неудачной"}})},
      {"issue", true, "", "очистить и эмитировать карту",
       WithWait({{"variant", "N",
                  "1 Сорвел, 2 DEVU, 3 Комбинированный, 4 Пользовательский, "
                  "5 Пользовательский + value (обязательно)"},
                 {"emitent", "ТЕКСТ", "код эмитента, по умолчанию 0"},
                 {"emission", "ТЕКСТ", "код эмиссии, по умолчанию 0"},
                 {"factory-key", "HEX", "заводской ключ, по умолчанию FF FF FF FF FF FF"},
                 {"user-data", "HEX", "данные пользователя, по умолчанию 10 нулевых байт"}})},
      {"clear", true, "", "очистить карту", WithWait({})},
      {"mode", true, "on|off|query", "универсальный режим: включить, отключить, проверить", {}},
      {"priority", true, "on|off|query", "приоритет параметрам эмиссии", {}},
  };
  return commands;
}

std::string HelpText(const TCommandSpec* ACommand) {
  std::string text;
  if (ACommand == nullptr) {
    text =
        "Использование:\n"
        "  kiren-cli [--json] ports\n"
        "  kiren-cli [--json] ПОРТ КОМАНДА [ПАРАМЕТРЫ]\n\n"
        "ПОРТ — имя порта, как его выводит ports (ttyACM0, pts/4).\n\nКоманды:\n";
    for (const auto& command : Commands()) {
      std::string name = command.Name;
      if (*command.Words)
        name += std::string(" ") + command.Words;
      text += "  " + PadRight(name, 24) + command.Summary + "\n";
    }
    text +=
        "\n  --json        вывод в JSON, по объекту на строку\n"
        "  --mask-keys   ключи в запросах загрузки ключа в журнале обмена: ** ** ** ** ** **\n"
        "  --help        справка; kiren-cli КОМАНДА --help — по команде\n"
        "  --version     версия программы\n\n"
        "Код выхода: 0 — успешно, 1 — операция не выполнена, 2 — ошибка в параметрах,\n"
        "3 — порт не открылся, нет версии или связь потеряна.\n";
    return text;
  }
  text = std::string("Использование: kiren-cli ") + (ACommand->NeedsPort ? "ПОРТ " : "") +
         ACommand->Name + (*ACommand->Words ? std::string(" ") + ACommand->Words : "") +
         (ACommand->Options.empty() ? "" : " [ПАРАМЕТРЫ]") + "\n" + ACommand->Summary + "\n";
  if (!ACommand->Options.empty())
    text += "\nПараметры:\n";
  for (const auto& option : ACommand->Options) {
    std::string name = std::string("--") + option.Name;
    if (option.Value)
      name += std::string(" ") + option.Value;
    text += "  " + PadRight(name, 20) + option.Help + "\n";
  }
  return text;
}

int RunCommand(const TArgs& AArgs) {
  const TOut out(AArgs.Json);
  try {
    if (std::string(AArgs.Command->Name) == "ports")
      return CmdPorts(out);
    const TRun run = Prepare(AArgs, out);
    TSession session(AArgs.Port);
    std::string error;
    if (!session.Connect(error))
      return out.Fail(gInterrupted ? kExitFailed : kExitConnection, error);
    return run(session);
  } catch (const TUsageError& e) {
    return out.Fail(kExitUsage, e.what());
  }
}

}  // namespace kiren::cli
