// Parsing, validation and texts of the main window's editors. Pure functions: the window
// reads its fields, calls these and shows what they report.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/bytes.h"
#include "protocol/records.h"

namespace kiren {

// Validation messages (shown in a warning box; the command stops).
inline const std::string kMsgKeyMustHave6Bytes = "Ключ должен содержать 6 байт";
inline const std::string kMsgOffsetSizeTooBig =
    "Заданное смещение и кол-во байт не укладываются в размер блока 16 байт";
inline const std::string kMsgBadReadKey = "Введен некорректный ключ на чтение";
inline const std::string kMsgBadWriteKey = "Введен некорректный ключ на запись";
inline const std::string kMsgBadOldWriteKey = "Введен некорректный текущий ключ на запись";
inline const std::string kMsgBadCardCode = "Введен некорректный код карты";
inline const std::string kMsgCardCodeTooLong =
    "Введен слишком длинный код карты (максимум %d байт)";
inline const std::string kMsgBadReadBlockKey = "Не удалось распознать пароль для считывания блока";
inline const std::string kMsgCannotIncCode = "Не удалось увеличить код карты на 1";
inline const std::string kMsgIncCodeTooLong = "Слишком длинный код карты";
inline const std::string kMsgTrailerCaption = "ВНИМАНИЕ!";
inline const std::string kMsgOk = "Операция выполнена успешно";
inline const std::string kMsgNotDone = "Не выполнено";
// The worker's queue already holds ten commands; the new one is not queued.
inline const std::string kMsgReaderBusy =
    "Считыватель занят: в очереди уже 10 команд, команда не отправлена";

// An operator input that cannot be used; its text goes into the warning box.
class TInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text of a number conversion that failed.
std::string ConversionErrorText(const std::string& AText);

// Text without leading and trailing blanks and control characters.
std::string TrimText(const std::string& AText);

// A 32-bit integer in decimal (TryStrToInt of base/text_utils.h); throws TInputError with
// the conversion error's text otherwise.
int StrToInt(const std::string& AText);

// An unsigned 64-bit integer: decimal digits, or hexadecimal digits when AHex. Blanks around
// the digits are allowed; anything else, or a value above 2^64 - 1, gives false.
bool TryStrToUInt64(const std::string& AText, bool AHex, std::uint64_t& AValue);

// A key text: six characters are an ASCII key (Windows-1251 bytes), anything else must be
// six hexadecimal byte pairs, blanks between pairs optional.
bool TryParseKey(const std::string& AText, TKey& AKey);

// The bytes of a card code, most significant first, padded with leading zero bytes to
// ASize. Decimal text (AHex false) or hexadecimal digits. Throws TInputError with the
// operator's message.
Bytes CardCodeBytes(const std::string& AText, bool AHex, int ASize);

// Adds 1 to the hexadecimal digit at 1-based APosition of AText, carrying to the left; a
// position of 0 prefixes a "0". Throws TInputError for a character that is not a digit.
void IncHexDigits(std::string& AText, std::size_t APosition);

// The card code text after a successful write: the code plus 1 (wrapping 2^64 - 1 to 0),
// or for a hexadecimal code beyond 64 bits, the digits incremented in place. Throws
// TInputError when the code cannot be incremented; the field then stays as it is.
std::string IncCardCodeText(const std::string& AText, bool AHex);

// Text of lAddr: "Блок: %d, Смещение: %d" CR LF "Размер: %d".
std::string AddrText(int ABlockNo, int AOffset, int ASize);

// Question before writing parameters that point into a sector trailer.
std::string TrailerQuestionText(int ASector);

// printf-style "%d" substitution for the message texts above.
std::string FormatMsg(const std::string& AFormat, int AValue);

}  // namespace kiren
