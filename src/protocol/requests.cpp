// Command bytes of the reader commands.

#include <initializer_list>
#include <stdexcept>

#include "base/codepage.h"
#include "base/message_sink.h"
#include "base/text_utils.h"
#include "base/utf8.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

namespace kiren {

namespace {

Bytes Cmd(std::uint8_t ACmd) {
  return {ACmd};
}

Bytes Cmd(std::uint8_t ACmd, std::uint8_t AArg) {
  return {ACmd, AArg};
}

void Append(Bytes& AOut, const Bytes& APart) {
  AOut.insert(AOut.end(), APart.begin(), APart.end());
}

template <std::size_t N>
void Append(Bytes& AOut, const std::array<std::uint8_t, N>& APart) {
  AOut.insert(AOut.end(), APart.begin(), APart.end());
}

}  // namespace

Bytes TBuilder::Req_GetVerInfo() {
  return Cmd(kCmdGetVerInfo);
}
Bytes TBuilder::Req_GetStatus() {
  return Cmd(kCmdGetStatus);
}
Bytes TBuilder::Req_GetCardType() {
  return Cmd(kCmdGetCardType);
}
Bytes TBuilder::Req_GetKirenCard() {
  return Cmd(kCmdGetKirenCard);
}
Bytes TBuilder::Req_ReadKirenCard() {
  return Cmd(kCmdReadKirenCard);
}
Bytes TBuilder::Req_ClearCard() {
  return Cmd(kCmdClearCard);
}
Bytes TBuilder::Req_GetConfig() {
  return Cmd(kCmdGetConfig);
}

Bytes TBuilder::Req_IssueCard(int AType, const std::string& ACodeEmitent,
                              const std::string& ACodeEmission, const std::string& AFactoryKey,
                              const std::string& AUserData) {
  Bytes emitent, emission, factoryKey;
  ParamToBytes(ACodeEmitent, Bytes(4, 0x00), "Код эмитента", emitent, false, 4);
  ParamToBytes(ACodeEmission, Bytes(2, 0x00), "Код эмиссии", emission, false, 2);
  const Bytes value(4, (AType == 1 || AType == 4) ? 0x00 : 0xFF);
  ParamToBytes(AFactoryKey, Bytes(6, 0xFF), "Заводской ключ", factoryKey, true, 6);
  const Bytes userData = UserDataToBytes(AUserData);

  Bytes req = Cmd(kCmdIssueCard, static_cast<std::uint8_t>(AType & 0xFF));
  for (const Bytes* part :
       std::initializer_list<const Bytes*>{&emitent, &emission, &value, &factoryKey, &userData})
    Append(req, *part);
  return req;
}

Bytes TBuilder::Req_LoadKey(std::uint8_t AKeyType, const TKey& AKey) {
  Bytes req = Cmd(kCmdLoadKey, AKeyType);
  Append(req, AKey);
  return req;
}

Bytes TBuilder::Req_ReadBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType) {
  return {kCmdReadBlock, ABlockNo, AKeyType};
}

Bytes TBuilder::Req_WriteBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, const TBlock& AData) {
  Bytes req{kCmdWriteBlock, ABlockNo, AKeyType};
  Append(req, AData);
  return req;
}

Bytes TBuilder::Req_SetupMode(std::uint8_t AMode) {
  return Cmd(kCmdSetupMode, AMode);
}

Bytes TBuilder::Req_SetupSorvelMode(std::uint8_t AMode) {
  return Cmd(kCmdSetupSorvelMode, AMode);
}

Bytes TBuilder::Req_SetupPerco(const TPercoPars& APercoPars) {
  Bytes req = Cmd(kCmdSetupPerco);
  Append(req, APercoPars.key);
  for (std::uint8_t b : {APercoPars.blockNo, APercoPars.offset, APercoPars.size, APercoPars.lbs})
    req.push_back(b);
  return req;
}

Bytes TBuilder::UserDataToBytes(const std::string& AText) {
  Bytes out;
  for (std::size_t i = 0; i < AText.size(); i += 2) {
    const std::string pair = AText.substr(i, 2);
    int value = 0;
    for (char c : pair) {
      const int digit = HexDigitValue(c);
      if (digit < 0)
        throw std::invalid_argument("Недопустимые пользовательские данные: \"" + AText + "\" (\"" +
                                    pair + "\" не является шестнадцатеричным числом)");
      value = value * 16 + digit;
    }
    out.push_back(static_cast<std::uint8_t>(value));
  }
  return out;
}

void TBuilder::ParamToBytes(const std::string& AText, const Bytes& ADefault,
                            const std::string& AParamName, Bytes& AResult, bool AIsHex,
                            std::uint8_t ASize) {
  AResult.clear();
  bool ok = false;
  if (!AText.empty()) {
    if (AIsHex) {
      Bytes bytes;
      ok = HexStrToBytes(AText, bytes) && bytes.size() == ASize;
      if (ok)
        AResult = bytes;
    } else if (std::int32_t number; TryStrToInt(AText, number)) {
      const auto u = static_cast<std::uint32_t>(number);
      for (std::size_t i = 0; i < ASize && i < 4; ++i)
        AResult.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
      AResult.resize(ASize, 0x00);
      ok = true;
    } else if (Utf8ToU32(AText).size() <= ASize) {
      // A shorter text is padded with zero bytes so that the later fields keep their place.
      AResult = EncodeText(AText, TCodePage::Cp1251);
      AResult.resize(ASize, 0x00);
      ok = true;
    }
  }
  if (ok || ADefault.empty())
    return;
  MsgWarning("Недопустимое значение: \"" + AText + "\" для параметра: \"" + AParamName +
             "\"\r\nИспользуется значение по умолчанию");
  AResult = ADefault;
}

}  // namespace kiren
