#include "base/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <unordered_map>

#include "base/utf8.h"

namespace kiren {

namespace {

// Windows-1251 as two tables, filled once through iconv: byte -> code point and back.
struct TCp1251Tables {
  std::array<char32_t, 256> toUnicode{};
  std::unordered_map<char32_t, std::uint8_t> fromUnicode;

  TCp1251Tables() {
    iconv_t cd = iconv_open("UTF-32LE", "CP1251");
    for (int b = 0; b < 256; ++b) {
      toUnicode[b] = (cd == reinterpret_cast<iconv_t>(-1)) ? Fallback(b) : Convert(cd, b);
      if (toUnicode[b] != kUndefinedChar)
        fromUnicode.emplace(toUnicode[b], std::uint8_t(b));
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
      iconv_close(cd);
  }

  static char32_t Convert(iconv_t cd, int b) {
    char in = static_cast<char>(b);
    unsigned char out[4] = {};
    char* pin = &in;
    char* pout = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &pin, &inLeft, &pout, &outLeft) == static_cast<std::size_t>(-1))
      return kUndefinedChar;
    return char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 |
           char32_t(out[3]) << 24;
  }

  // Without iconv's CP1251 module at least ASCII and the Cyrillic alphabet stay intact.
  static char32_t Fallback(int b) {
    if (b < 0x80)
      return char32_t(b);
    if (b >= 0xC0)
      return char32_t(0x410 + (b - 0xC0));
    if (b == 0xA8)
      return 0x401;
    if (b == 0xB8)
      return 0x451;
    return kUndefinedChar;
  }
};

const TCp1251Tables& Cp1251() {
  static const TCp1251Tables tables;
  return tables;
}

}  // namespace

Bytes EncodeText(const std::string& AText, TCodePage ACodePage) {
  Bytes out;
  switch (ACodePage) {
    case TCodePage::Utf8:
      out.assign(AText.begin(), AText.end());
      break;
    case TCodePage::Utf16LE:
      for (char32_t c : Utf8ToU32(AText)) {
        auto put = [&out](char32_t u) {
          out.push_back(std::uint8_t(u & 0xFF));
          out.push_back(std::uint8_t(u >> 8));
        };
        if (c >= 0x10000) {
          c -= 0x10000;
          put(0xD800 + (c >> 10));
          put(0xDC00 + (c & 0x3FF));
        } else {
          put(c);
        }
      }
      break;
    case TCodePage::Cp1251: {
      const auto& map = Cp1251().fromUnicode;
      for (char32_t c : Utf8ToU32(AText)) {
        auto it = map.find(c);
        out.push_back(it == map.end() ? kCp1251Unmappable : it->second);
      }
      break;
    }
  }
  return out;
}

std::string DecodeText(const std::uint8_t* AData, std::size_t ASize, TCodePage ACodePage) {
  std::string out;
  switch (ACodePage) {
    case TCodePage::Utf8:
      out = U32ToUtf8(Utf8ToU32(std::string(AData, AData + ASize)));
      break;
    case TCodePage::Utf16LE: {
      std::u32string s;
      for (std::size_t i = 0; i + 1 < ASize; i += 2) {
        char32_t u = AData[i] | (AData[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < ASize) {
          char32_t lo = AData[i + 2] | (AData[i + 3] << 8);
          if (lo >= 0xDC00 && lo <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
          }
        }
        s += u;
      }
      if (ASize % 2)
        s += kUndefinedChar;
      out = U32ToUtf8(s);
      break;
    }
    case TCodePage::Cp1251: {
      const auto& table = Cp1251().toUnicode;
      for (std::size_t i = 0; i < ASize; ++i)
        AppendUtf8(out, table[AData[i]]);
      break;
    }
  }
  return out;
}

std::string DecodeText(const Bytes& AData, TCodePage ACodePage) {
  return DecodeText(AData.data(), AData.size(), ACodePage);
}

std::string AnsiZToUtf8(const Bytes& AData) {
  const auto end = std::find(AData.begin(), AData.end(), std::uint8_t{0});
  return DecodeText(AData.data(), static_cast<std::size_t>(end - AData.begin()));
}

}  // namespace kiren
