#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace kiren {

// 8-bit and wide encodings that texts take outside memory (wire and log files).
enum class TCodePage { Cp1251, Utf8, Utf16LE };

// Byte that stands for a character the code page cannot hold.
constexpr std::uint8_t kCp1251Unmappable = '?';
// Character that stands for a byte with no character in the code page (0x98 in Windows-1251)
// or for malformed input.
constexpr char32_t kUndefinedChar = 0xFFFD;

// UTF-8 text to bytes in the code page. Never throws, never truncates: each character
// becomes its encoding or the code page's replacement.
Bytes EncodeText(const std::string& AText, TCodePage ACodePage = TCodePage::Cp1251);

// Bytes in the code page to UTF-8 text, with the same replacement rule.
std::string DecodeText(const std::uint8_t* AData, std::size_t ASize,
                       TCodePage ACodePage = TCodePage::Cp1251);
std::string DecodeText(const Bytes& AData, TCodePage ACodePage = TCodePage::Cp1251);

// 8-bit text up to the first zero byte or the end, decoded from Windows-1251.
std::string AnsiZToUtf8(const Bytes& AData);

}  // namespace kiren
