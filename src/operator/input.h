// Reading what an operator typed: numbers, keys and card codes. Pure functions shared by the
// window and kiren-cli; a refused text throws TInputError with the operator's message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/bytes.h"
#include "protocol/records.h"

namespace kiren::op {

// The input field a refusal is about, so that a front end can name it its own way (kiren-cli
// names the option).
enum class TField {
  None,
  Key,      // key of the emission parameters
  BlockNo,  // block of the emission parameters and of the card code
  Offset,
  Size,
  KeyA,     // new read key of a card-code write
  KeyB,     // new write key
  OldKeyB,  // current write key
  CardCode,
  Variant,  // issuing layout
  Emitent,
  Emission,
  FactoryKey,
  UserData,
  ReadBlockNo,  // block of a block read
  ReadBlockKey,
};

// An operator input that cannot be used; its text goes into the warning box (the window) or
// to stderr (kiren-cli).
class TInputError : public std::runtime_error {
 public:
  explicit TInputError(const std::string& AMessage, TField AField = TField::None)
      : std::runtime_error(AMessage), FField(AField) {}
  TField Field() const { return FField; }

 private:
  TField FField;
};

// The text of a number conversion that failed.
std::string ConversionErrorText(const std::string& AText);

// Text without leading and trailing blanks and control characters.
std::string TrimText(const std::string& AText);

// A 32-bit integer in decimal (TryStrToInt of base/text_utils.h); throws TInputError with
// the conversion error's text otherwise.
int StrToInt(const std::string& AText, TField AField = TField::None);

// StrToInt, then the value must lie in [AMin, AMax].
int IntInRange(const std::string& AText, int AMin, int AMax, TField AField);

// An unsigned 64-bit integer: decimal digits, or hexadecimal digits when AHex. Blanks around
// the digits are allowed; anything else, or a value above 2^64 - 1, gives false.
bool TryStrToUInt64(const std::string& AText, bool AHex, std::uint64_t& AValue);

// How a key may be written.
enum class TKeyForm {
  AsciiOrHex,  // six characters are an ASCII key, anything else six hexadecimal byte pairs
  HexOnly,     // six hexadecimal byte pairs only
};

// A key text. AsciiOrHex: six characters are an ASCII key (Windows-1251 bytes), anything else
// must be six hexadecimal byte pairs, blanks between pairs optional. Blanks and control
// characters around the text do not count.
bool TryParseKey(const std::string& AText, TKey& AKey, TKeyForm AForm = TKeyForm::AsciiOrHex);

// TryParseKey, or TInputError(AMessage, AField).
TKey ParseKey(const std::string& AText, TKeyForm AForm, const std::string& AMessage, TField AField);

// A card code as typed: its digits and whether they are hexadecimal.
struct TCardCodeText {
  std::string Digits;
  bool Hex = false;

  bool operator==(const TCardCodeText&) const = default;
};

// The written notation of a code: "0x" or "0X" before hexadecimal digits, decimal otherwise.
TCardCodeText CardCodeFromNotation(const std::string& AText);
// The notation of ACode: "0x" + digits when hexadecimal, else the digits.
std::string CardCodeNotation(const TCardCodeText& ACode);

// The bytes of a card code, most significant first, padded with leading zero bytes to
// ASize. Decimal text (AHex false) or hexadecimal digits; a text without any digit is
// refused in both forms. Throws TInputError with the operator's message.
Bytes CardCodeBytes(const std::string& AText, bool AHex, int ASize);

// Adds 1 to the hexadecimal digit at 1-based APosition of AText, carrying to the left; a
// position of 0 prefixes a "0". Throws TInputError for a character that is not a digit.
void IncHexDigits(std::string& AText, std::size_t APosition);

// The card code text after a successful write: the code plus 1 (wrapping 2^64 - 1 to 0),
// or for a hexadecimal code beyond 64 bits, the digits incremented in place. Throws
// TInputError when the code cannot be incremented; the field then stays as it is.
std::string IncCardCodeText(const std::string& AText, bool AHex);

// Text of the window's address label: "Блок: %d, Смещение: %d" CR LF "Размер: %d".
std::string AddrText(int ABlockNo, int AOffset, int ASize);

// Question before writing parameters that point into a sector trailer.
std::string TrailerQuestionText(int ASector);

// printf-style "%d" substitution for the message texts.
std::string FormatMsg(const std::string& AFormat, int AValue);

}  // namespace kiren::op
