#include "base/utf8.h"

#include <cstdint>

namespace kiren {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of a well-formed sequence starting at i, with its code point; 0 when malformed.
std::size_t DecodeOne(const std::string& s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size())
    return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

}  // namespace

std::u32string Utf8ToU32(const std::string& AText) {
  std::u32string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size();) {
    char32_t cp;
    const std::size_t len = DecodeOne(AText, i, cp);
    out += len ? cp : kReplacement;
    i += len ? len : 1;
  }
  return out;
}

void AppendUtf8(std::string& AOut, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    c = kReplacement;
  if (c < 0x80) {
    AOut += static_cast<char>(c);
  } else if (c < 0x800) {
    AOut += static_cast<char>(0xC0 | (c >> 6));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    AOut += static_cast<char>(0xE0 | (c >> 12));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (c >> 18));
    AOut += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string U32ToUtf8(const std::u32string& AText) {
  std::string out;
  out.reserve(AText.size());
  for (char32_t c : AText)
    AppendUtf8(out, c);
  return out;
}

}  // namespace kiren
