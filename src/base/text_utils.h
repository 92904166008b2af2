#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace kiren {

// Hexadecimal text to bytes: blanks are ignored, then every pair of digits is one byte.
// Odd digit count or a non-hexadecimal pair gives false (bytes decoded so far stay in ABytes).
// An empty or all-blank text gives true and no bytes.
bool HexStrToBytes(const std::string& AText, Bytes& ABytes);

// Bytes as upper-case hexadecimal pairs separated by one blank: {0x01, 0xAB} -> "01 AB".
std::string BytesToHexStr(const std::uint8_t* AData, std::size_t ACount);
std::string BytesToHexStr(const Bytes& AData);

// Appends one byte as two upper-case hexadecimal digits.
void AppendHexByte(std::string& AOut, std::uint8_t AByte);

// Replaces every occurrence of ASubstr in AText, scanning left to right and continuing after
// each replacement. With AIgnoreCase the search compares upper-cased texts (Latin and
// Cyrillic); the result keeps AText's own characters outside the replaced parts.
void ReplaceSubstr(const std::string& AText, const std::string& ASubstr,
                   const std::string& AReplacement, std::string& AResult, bool AIgnoreCase);

// A local calendar moment down to the millisecond.
struct TLocalDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Min = 0, Sec = 0, MSec = 0;
};

// The system clock in local time.
TLocalDateTime LocalNow();

// Local time as "9:05:03.042" (with milliseconds) or "9:05:03"; hours are not padded.
std::string NowTimeStr(bool AWithMs);

// The same text for a given time of day (hour, minute, second, millisecond).
std::string TimeStr(int AHour, int AMin, int ASec, int AMs, bool AWithMs);

// Value of one hexadecimal digit, -1 for any other character.
int HexDigitValue(char c);

// A whole decimal number with an optional sign that fits 32 bits signed; nothing else (no
// blanks, no prefixes).
bool TryStrToInt(const std::string& AText, std::int32_t& AValue);

// Upper case of a UTF-8 text for ASCII and Cyrillic letters.
std::string UpperCase(const std::string& AText);

}  // namespace kiren
