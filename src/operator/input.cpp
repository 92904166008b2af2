#include "operator/input.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "base/codepage.h"
#include "base/text_utils.h"
#include "base/utf8.h"
#include "operator/texts.h"

namespace kiren::op {

namespace {

constexpr int kMaxPaddedBytes = 11;

// The whole UTF-8 character around byte APos, so that a message never shows a broken one.
std::string CharAt(const std::string& AText, std::size_t APos) {
  auto continuation = [&](std::size_t i) {
    return (static_cast<unsigned char>(AText[i]) & 0xC0) == 0x80;
  };
  std::size_t first = APos, last = APos + 1;
  while (first > 0 && continuation(first))
    --first;
  while (last < AText.size() && continuation(last))
    ++last;
  return AText.substr(first, last - first);
}

std::string TrimBlanks(const std::string& AText) {
  const auto first = AText.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return AText.substr(first, AText.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string ConversionErrorText(const std::string& AText) {
  return "\"" + AText + "\" не является допустимым целым числом";
}

std::string TrimText(const std::string& AText) {
  std::size_t first = 0, last = AText.size();
  while (first < last && static_cast<unsigned char>(AText[first]) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(AText[last - 1]) <= ' ')
    --last;
  return AText.substr(first, last - first);
}

int StrToInt(const std::string& AText, TField AField) {
  int v = 0;
  if (!TryStrToInt(AText, v))
    throw TInputError(ConversionErrorText(AText), AField);
  return v;
}

int IntInRange(const std::string& AText, int AMin, int AMax, TField AField) {
  const int v = StrToInt(AText, AField);
  if (v < AMin || v > AMax)
    throw TInputError("ожидается целое число от " + std::to_string(AMin) + " до " +
                          std::to_string(AMax) + ", получено \"" + AText + "\"",
                      AField);
  return v;
}

bool TryStrToUInt64(const std::string& AText, bool AHex, std::uint64_t& AValue) {
  const std::string t = TrimBlanks(AText);
  if (t.empty())
    return false;
  const unsigned base = AHex ? 16 : 10;
  std::uint64_t v = 0;
  for (char c : t) {
    const int d = HexDigitValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= base)
      return false;
    if (v > (std::numeric_limits<std::uint64_t>::max() - d) / base)
      return false;
    v = v * base + d;
  }
  AValue = v;
  return true;
}

bool TryParseKey(const std::string& AText, TKey& AKey, TKeyForm AForm) {
  const std::string t = TrimText(AText);
  Bytes bytes;
  if (AForm == TKeyForm::AsciiOrHex && Utf8ToU32(t).size() == AKey.size()) {
    bytes = EncodeText(t, TCodePage::Cp1251);
  } else if (!HexStrToBytes(t, bytes)) {
    return false;
  }
  if (bytes.size() != AKey.size())
    return false;
  std::copy(bytes.begin(), bytes.end(), AKey.begin());
  return true;
}

TKey ParseKey(const std::string& AText, TKeyForm AForm, const std::string& AMessage,
              TField AField) {
  TKey key{};
  if (!TryParseKey(AText, key, AForm))
    throw TInputError(AMessage, AField);
  return key;
}

TCardCodeText CardCodeFromNotation(const std::string& AText) {
  if (AText.rfind("0x", 0) == 0 || AText.rfind("0X", 0) == 0)
    return {AText.substr(2), true};
  return {AText, false};
}

std::string CardCodeNotation(const TCardCodeText& ACode) {
  return ACode.Hex ? "0x" + ACode.Digits : ACode.Digits;
}

Bytes CardCodeBytes(const std::string& AText, bool AHex, int ASize) {
  std::string t = AText;
  // Without a digit there is no code: padding would turn it into zeros.
  if (TrimBlanks(AText).empty())
    throw TInputError(kMsgBadCardCode, TField::CardCode);
  if (!AHex) {
    std::uint64_t v = 0;
    if (!TryStrToUInt64(AText, false, v))
      throw TInputError(kMsgBadCardCode, TField::CardCode);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02llX", static_cast<unsigned long long>(v));
    t = buf;
  }
  if (t.size() % 2 != 0)
    t.insert(0, "0");
  // No code has more than 10 bytes, so padding beyond 11 bytes cannot change what is refused
  // (too long here, or too long for the action), while it could ask for gigabytes of zeros.
  const std::size_t wanted = 2 * static_cast<std::size_t>(std::clamp(ASize, 0, kMaxPaddedBytes));
  if (t.size() < wanted)
    t.insert(0, wanted - t.size(), '0');
  Bytes bytes;
  if (!HexStrToBytes(t, bytes))
    throw TInputError(kMsgBadCardCode, TField::CardCode);
  if (static_cast<long long>(bytes.size()) > ASize)
    throw TInputError(FormatMsg(kMsgCardCodeTooLong, ASize), TField::CardCode);
  return bytes;
}

void IncHexDigits(std::string& AText, std::size_t APosition) {
  static const char kDigits[] = "0123456789ABCDEF";
  // Carry leftwards until a digit takes it without overflow.
  for (;;) {
    if (APosition == 0) {
      AText.insert(0, "0");
      APosition = 1;
    }
    char& c = AText[APosition - 1];
    const int d = HexDigitValue(c);
    if (d < 0)
      throw TInputError(ConversionErrorText("$" + CharAt(AText, APosition - 1)), TField::CardCode);
    if (d + 1 <= 15) {
      c = kDigits[d + 1];
      return;
    }
    c = '0';
    --APosition;
  }
}

std::string IncCardCodeText(const std::string& AText, bool AHex) {
  std::uint64_t v = 0;
  if (TryStrToUInt64(AText, AHex, v)) {
    ++v;  // 2^64 - 1 wraps to 0
    char buf[24];
    std::snprintf(buf, sizeof buf, AHex ? "%llX" : "%llu", static_cast<unsigned long long>(v));
    return buf;
  }
  if (!AHex)
    throw TInputError(kMsgCannotIncCode, TField::CardCode);
  std::string s = AText;
  IncHexDigits(s, s.size());
  if (s.size() % 2 != 0)
    s.insert(0, "0");
  if (s.size() > 20)
    throw TInputError(kMsgIncCodeTooLong, TField::CardCode);
  return s;
}

std::string AddrText(int ABlockNo, int AOffset, int ASize) {
  return "Блок: " + std::to_string(ABlockNo) + ", Смещение: " + std::to_string(AOffset) +
         "\r\nРазмер: " + std::to_string(ASize);
}

std::string TrailerQuestionText(int ASector) {
  return FormatMsg(
             "Запись данных в указанный блок может привести к выходу из строя сектора №%d и "
             "невозможности использовать карту в рамках данной эмиссии. ",
             ASector) +
         "\r\n\r\nЕсли Вы уверены в своих действиях и настаиваете на продолжении, нажмите "
         "\"Да\".";
}

std::string FormatMsg(const std::string& AFormat, int AValue) {
  std::string out = AFormat;
  const auto pos = out.find("%d");
  if (pos != std::string::npos)
    out.replace(pos, 2, std::to_string(AValue));
  return out;
}

}  // namespace kiren::op
