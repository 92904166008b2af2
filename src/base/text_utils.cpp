#include "base/text_utils.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/utf8.h"

namespace kiren {

namespace {

char32_t UpperChar(char32_t c) {
  if (c >= U'a' && c <= U'z')
    return c - U'a' + U'A';
  if (c >= U'а' && c <= U'я')
    return c - U'а' + U'А';
  if (c >= U'ѐ' && c <= U'џ')
    return c - 0x50;  // ѐ..џ -> Ѐ..Џ (ё -> Ё among them)
  return c;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool TryStrToInt(const std::string& AText, std::int32_t& AValue) {
  const char* first = AText.data();
  const char* last = first + AText.size();
  if (first != last && *first == '+') {
    ++first;
    if (first == last || *first == '-')
      return false;
  }
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last)
    return false;
  AValue = value;
  return true;
}

bool HexStrToBytes(const std::string& AText, Bytes& ABytes) {
  std::string s;
  ReplaceSubstr(AText, " ", "", s, false);
  ABytes.clear();
  if (s.size() % 2 != 0)
    return false;
  ABytes.assign(s.size() / 2, 0);
  for (std::size_t i = 0; i < ABytes.size(); ++i) {
    int hi = HexDigitValue(s[2 * i]);
    int lo = HexDigitValue(s[2 * i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    ABytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return true;
}

void AppendHexByte(std::string& AOut, std::uint8_t AByte) {
  static const char kDigits[] = "0123456789ABCDEF";
  AOut += kDigits[AByte >> 4];
  AOut += kDigits[AByte & 0x0F];
}

std::string BytesToHexStr(const std::uint8_t* AData, std::size_t ACount) {
  std::string out;
  out.reserve(ACount * 3);
  for (std::size_t i = 0; i < ACount; ++i) {
    if (i)
      out += ' ';
    AppendHexByte(out, AData[i]);
  }
  return out;
}

std::string BytesToHexStr(const Bytes& AData) {
  return BytesToHexStr(AData.data(), AData.size());
}

std::string UpperCase(const std::string& AText) {
  std::u32string s = Utf8ToU32(AText);
  for (char32_t& c : s)
    c = UpperChar(c);
  return U32ToUtf8(s);
}

void ReplaceSubstr(const std::string& AText, const std::string& ASubstr,
                   const std::string& AReplacement, std::string& AResult, bool AIgnoreCase) {
  if (ASubstr.empty()) {
    AResult = AText;
    return;
  }
  // Work on code points so that upper-casing never shifts positions.
  const std::u32string text = Utf8ToU32(AText);
  const std::u32string what = Utf8ToU32(ASubstr);
  std::u32string hay = text, needle = what;
  if (AIgnoreCase) {
    for (char32_t& c : hay)
      c = UpperChar(c);
    for (char32_t& c : needle)
      c = UpperChar(c);
  }
  const std::u32string repl = Utf8ToU32(AReplacement);
  std::u32string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = hay.find(needle, pos)) != std::u32string::npos;
       pos = hit + needle.size()) {
    out.append(text, pos, hit - pos);
    out += repl;
  }
  out.append(text, pos, std::u32string::npos);
  AResult = U32ToUtf8(out);
}

std::string TimeStr(int AHour, int AMin, int ASec, int AMs, bool AWithMs) {
  char buf[32];
  if (AWithMs)
    std::snprintf(buf, sizeof buf, "%d:%.2d:%.2d.%.3d", AHour, AMin, ASec, AMs);
  else
    std::snprintf(buf, sizeof buf, "%d:%.2d:%.2d", AHour, AMin, ASec);
  return buf;
}

TLocalDateTime LocalNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return {tm.tm_year + 1900,
          tm.tm_mon + 1,
          tm.tm_mday,
          tm.tm_hour,
          tm.tm_min,
          tm.tm_sec,
          static_cast<int>(ms < 0 ? ms + 1000 : ms)};
}

std::string NowTimeStr(bool AWithMs) {
  const TLocalDateTime now = LocalNow();
  return TimeStr(now.Hour, now.Min, now.Sec, now.MSec, AWithMs);
}

}  // namespace kiren
