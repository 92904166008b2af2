#include "protocol/protocol.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "base/codepage.h"
#include "base/text_utils.h"
#include "protocol/frame.h"

namespace kiren {

namespace {

constexpr std::size_t kCardInfoMinSize = 10;
constexpr std::size_t kBlockAnswerSize = 2 + std::tuple_size_v<TBlock>;

TStatus StatusAt(const Bytes& AData) {
  return TStatus(TParser::_GetWord(AData.data()));
}

std::vector<std::string> Split(const std::string& AText, char ADelimiter) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at; (at = AText.find(ADelimiter, from)) != std::string::npos; from = at + 1)
    parts.push_back(AText.substr(from, at - from));
  parts.push_back(AText.substr(from));
  return parts;
}

// "key:v1,v2,...;key:..." -> dictionary. An item without a colon gives its key an empty list.
TConfig ParseConfig(const std::string& AText) {
  TConfig config;
  for (const std::string& item : Split(AText, ';')) {
    if (item.empty())
      continue;
    const std::vector<std::string> fields = Split(item, ':');
    std::int32_t key = 0;
    if (!TryStrToInt(fields[0], key))
      throw std::invalid_argument("Неверный ключ в конфигурации: \"" + fields[0] + "\"");
    std::vector<std::string> values;
    if (fields.size() > 1)
      values = Split(fields[1], ',');
    if (!config.emplace(static_cast<std::uint8_t>(key & 0xFF), std::move(values)).second)
      throw std::invalid_argument("Повторяющийся ключ в конфигурации: \"" + fields[0] + "\"");
  }
  return config;
}

}  // namespace

TProtocol::TProtocol(TWriteReadProc AWriteReadProc) : FWriteReadProc(std::move(AWriteReadProc)) {
  if (!FWriteReadProc)
    throw std::invalid_argument("TProtocol: no exchange procedure");
}

int TProtocol::SendCmd(std::uint8_t ACmd, const TRequestProc& AReq, const TParseProc& AParse) {
  const Bytes req = AReq();
  std::uint8_t answerCmd = 0;
  Bytes data;
  const int err = FWriteReadProc(req, answerCmd, data);
  if (err != kResOk)
    return err;
  if (answerCmd != ACmd)
    return kResWrongCommand;
  return AParse(data);
}

int TProtocol::SendCmd(std::uint8_t ACmd, const TRequestProc& AReq, const TParseProc2& AParse) {
  const TParseProc statusOnly = [&AParse](const Bytes& AData) {
    int res = AData.size() == 2 ? kResOk : kResBadAnswer;
    const TStatus status = AData.size() >= 2 ? StatusAt(AData) : TStatus();
    AParse(status, res);
    return res;
  };
  return SendCmd(ACmd, AReq, statusOnly);
}

int TProtocol::GetVer(std::string& VerInfo) {
  std::string text;
  const int res = SendCmd(kCmdGetVerInfo, TBuilder::Req_GetVerInfo, [&](const Bytes& AData) {
    text = AnsiZToUtf8(AData);
    return kResOk;
  });
  VerInfo = text;
  return res;
}

int TProtocol::GetStatus(TStatus& Status) {
  TStatus status;
  const int res = SendCmd(kCmdGetStatus, TBuilder::Req_GetStatus, [&](const Bytes& AData) {
    if (AData.size() != 2)
      return kResBadAnswer;
    status = StatusAt(AData);
    return kResOk;
  });
  Status = status;
  return res;
}

// A card answer whose UID size promises more bytes than arrived is rejected with 4 like any
// other short answer; the record then stays cleared.
int TProtocol::GetCardInfo(TCardInfo& CardInfo) {
  TCardInfo info;
  const int res = SendCmd(kCmdGetCardType, TBuilder::Req_GetCardType, [&](const Bytes& AData) {
    if (AData.size() < 2)
      return kResBadAnswer;
    const TStatus status = StatusAt(AData);
    if (!status.CardPresent()) {
      info.status = status;
      return kResOk;
    }
    if (AData.size() < kCardInfoMinSize)
      return kResBadAnswer;
    const std::uint8_t* p = AData.data() + 2;
    const std::uint16_t type = TParser::GetWord(p);
    const std::uint8_t sak = TParser::GetByte(p);
    const std::uint8_t uidSize = TParser::GetByte(p);
    if (uidSize > TCardInfo::kMaxUIDSize || 6u + uidSize > AData.size())
      return kResBadAnswer;
    info.status = status;
    info.type_ = type;
    info.SAK = sak;
    info.UIDSize = uidSize;
    TParser::GetBuf(p, info.UID.data(), uidSize);
    return kResOk;
  });
  CardInfo = info;
  return res;
}

int TProtocol::GetKirenCard(TKirenCardEx& CardInfo) {
  TKirenCardEx card;
  const int res = SendCmd(kCmdGetKirenCard, TBuilder::Req_GetKirenCard, [&](const Bytes& AData) {
    if (AData.size() < std::size_t(TKirenCardEx::FixedSize()))
      return kResBadAnswer;
    card.LoadFromBuf(AData);
    return kResOk;
  });
  CardInfo = card;
  return res;
}

int TProtocol::GetKirenCard(TKirenCard& CardInfo) {
  TKirenCard card;
  const int res = SendCmd(kCmdReadKirenCard, TBuilder::Req_ReadKirenCard, [&](const Bytes& AData) {
    const std::size_t n = AData.size();
    if (n == 0 || n > TKirenCard::kSize || n % 5 != 0)
      return kResBadAnswer;
    std::copy(AData.begin(), AData.end(), card.data.begin());
    return kResOk;
  });
  CardInfo = card;
  return res;
}

void TProtocol::ClearCard(int& ErrCode) {
  ErrCode = SendCmd(kCmdClearCard, TBuilder::Req_ClearCard, [](const Bytes& AData) {
    if (AData.size() != 1)
      return kResNotExecuted;
    if (AData[0] == 0)
      return kResNothingToDo;
    if (AData[0] <= 7)
      return kResOk;
    return kResNotExecuted;
  });
}

int TProtocol::GetConfig(TConfig& Config) {
  TConfig decoded;
  const int res = SendCmd(kCmdGetConfig, TBuilder::Req_GetConfig, [&](const Bytes& AData) {
    if (AData.empty())
      return kResNothingToDo;
    decoded = ParseConfig(AnsiZToUtf8(AData));
    return kResOk;
  });
  for (auto& [key, values] : decoded)
    Config[key] = std::move(values);
  return res;
}

int TProtocol::IssueCard(int AType, const std::string& ACodeEmitent,
                         const std::string& ACodeEmission, const std::string& AFactoryKey,
                         const std::string& AUserData, TStatus& Status) {
  TStatus status;
  Status = status;
  const int res = SendCmd(
      kCmdIssueCard,
      [&] {
        return TBuilder::Req_IssueCard(AType, ACodeEmitent, ACodeEmission, AFactoryKey, AUserData);
      },
      [&](TStatus AStatus, int&) { status = AStatus; });
  Status = status;
  return res;
}

int TProtocol::LoadKey(std::uint8_t AKeyType, const TKey& AKey, TStatus& Status) {
  TStatus status;
  const int res = SendCmd(
      kCmdLoadKey, [&] { return TBuilder::Req_LoadKey(AKeyType, AKey); },
      [&](TStatus AStatus, int&) { status = AStatus; });
  Status = status;
  return res;
}

int TProtocol::ReadBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, TStatus& Status,
                         TBlock& AData) {
  TStatus status;
  TBlock block{};
  const int res = SendCmd(
      kCmdReadBlock, [&] { return TBuilder::Req_ReadBlock(ABlockNo, AKeyType); },
      [&](const Bytes& AAnswer) {
        if (AAnswer.size() < 2)
          return kResBadAnswer;
        status = StatusAt(AAnswer);
        if (AAnswer.size() >= kBlockAnswerSize)
          std::copy_n(AAnswer.begin() + 2, block.size(), block.begin());
        return kResOk;
      });
  Status = status;
  AData = block;
  return res;
}

int TProtocol::WriteBlock(std::uint8_t ABlockNo, const TBlock& AData, std::uint8_t AKeyType,
                          TStatus& Status) {
  TStatus status;
  const int res = SendCmd(
      kCmdWriteBlock, [&] { return TBuilder::Req_WriteBlock(ABlockNo, AKeyType, AData); },
      [&](TStatus AStatus, int&) { status = AStatus; });
  Status = status;
  return res;
}

int TProtocol::SetupMode(std::uint8_t AMode, std::uint8_t& AAnswer) {
  std::uint8_t answer = 0;
  const int res = SendCmd(
      kCmdSetupMode, [&] { return TBuilder::Req_SetupMode(AMode); },
      [&](const Bytes& AData) {
        if (AData.size() != 1)
          return kResBadAnswer;
        answer = AData[0];
        return kResOk;
      });
  AAnswer = answer;
  return res;
}

int TProtocol::SetupPerco(const TPercoPars& AStt, TStatus& Status) {
  TStatus status;
  const int res = SendCmd(
      kCmdSetupPerco, [&] { return TBuilder::Req_SetupPerco(AStt); },
      [&](const Bytes& AData) {
        if (AData.size() != 2)
          return kResBadAnswer;
        status = StatusAt(AData);
        return kResOk;
      });
  Status = status;
  return res;
}

int TProtocol::SetupEmissionPrior(std::uint8_t AMode, std::uint8_t& AAnswer) {
  std::uint8_t answer = 0;
  const int res = SendCmd(
      kCmdSetupSorvelMode, [&] { return TBuilder::Req_SetupSorvelMode(AMode); },
      [&](const Bytes& AData) {
        if (AData.size() != 3)
          return kResBadAnswer;
        if ((AData[1] | AData[2]) != 1)
          return kResRefused;
        answer = AData[0];
        return kResOk;
      });
  AAnswer = answer;
  return res;
}

int TProtocol::GetSector(int ABlockNo) {
  return ABlockNo < 128 ? ABlockNo / 4 : 32 + (ABlockNo - 128) / 16;
}

void TProtocol::GetSectorRange(int ASector, int& AStartBlock, int& AEndBlock) {
  AStartBlock = ASector <= 32 ? 4 * ASector : 16 * ASector - 384;
  AEndBlock = AStartBlock + (ASector <= 31 ? 3 : 15);
}

int TProtocol::GetTBlock(int ABlockNo) {
  int start = 0, end = 0;
  GetSectorRange(GetSector(ABlockNo), start, end);
  return end;
}

}  // namespace kiren
