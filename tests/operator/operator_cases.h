// One table of operator inputs with what the operator layer makes of them: the layer's own
// test runs it, and the shared-verdict test runs it through the window's and kiren-cli's
// paths.
#pragma once

#include <string>
#include <variant>

#include "operator/input.h"
#include "operator/params.h"
#include "operator/texts.h"

namespace kiren::op::test {

using TInput = std::variant<TEmissionInput, TCardCodeInput, TIssueInput, TReadBlockInput>;

struct TCase {
  const char* Name;
  TInput Input;
  std::string Refusal = {};  // the message; empty: accepted
  bool ConfirmTrailer = true;  // the operator's answer to the key-block question
  bool Declined = false;       // ends at the key-block question without a message
};

inline std::string RangeText(int AMin, int AMax, const std::string& AText) {
  return "ожидается целое число от " + std::to_string(AMin) + " до " + std::to_string(AMax) +
         ", получено \"" + AText + "\"";
}

inline const TCase kCases[] = {
    // Emission parameters.
    {.Name = "params: defaults", .Input = TEmissionInput{.BlockNo = "4", .Size = "4"}},
    {.Name = "params: six characters are an ASCII key",
     .Input = TEmissionInput{.Key = "ABCDEF", .BlockNo = "4", .Size = "4"}},
    {.Name = "params: five key bytes",
     .Input = TEmissionInput{.Key = "FF FF FF FF FF", .BlockNo = "4", .Size = "4"},
     .Refusal = kMsgKeyMustHave6Bytes},
    {.Name = "params: block not a number",
     .Input = TEmissionInput{.BlockNo = "", .Size = "4"},
     .Refusal = ConversionErrorText("")},
    {.Name = "params: block above the range",
     .Input = TEmissionInput{.BlockNo = "253", .Size = "4"},
     .Refusal = RangeText(0, 252, "253")},
    {.Name = "params: size below the range",
     .Input = TEmissionInput{.BlockNo = "4", .Size = "3"},
     .Refusal = RangeText(4, 10, "3")},
    {.Name = "params: offset and size beyond the block",
     .Input = TEmissionInput{.BlockNo = "4", .Offset = "12", .Size = "5"},
     .Refusal = kMsgOffsetSizeTooBig},
    {.Name = "params: key block confirmed, then offset and size checked",
     .Input = TEmissionInput{.BlockNo = "3", .Offset = "12", .Size = "5"},
     .Refusal = kMsgOffsetSizeTooBig},
    {.Name = "params: key block confirmed",
     .Input = TEmissionInput{.BlockNo = "7", .Offset = "2", .Size = "10", .ReverseOrder = true}},
    {.Name = "params: key block declined",
     .Input = TEmissionInput{.BlockNo = "7", .Size = "4"},
     .ConfirmTrailer = false,
     .Declined = true},
    // Card code.
    {.Name = "code: decimal",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "300", .Hex = false}}},
    {.Name = "code: hexadecimal with leading zeros",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "00FF", .Hex = true}}},
    {.Name = "code: ASCII keys",
     .Input = TCardCodeInput{.BlockNo = "4",
                             .KeyA = "ключ12",
                             .KeyB = "QWERTY",
                             .Code = {.Digits = "1", .Hex = false}}},
    {.Name = "code: hexadecimal without digits",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "", .Hex = true}},
     .Refusal = kMsgBadCardCode},
    {.Name = "code: decimal without digits",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "", .Hex = false}},
     .Refusal = kMsgBadCardCode},
    {.Name = "code: 2^64",
     .Input = TCardCodeInput{.BlockNo = "4",
                             .Size = "10",
                             .Code = {.Digits = "18446744073709551616", .Hex = false}},
     .Refusal = kMsgBadCardCode},
    {.Name = "code: top of the range for its size",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "100000000", .Hex = true}},
     .Refusal = "Введен слишком длинный код карты (максимум 4 байт)"},
    {.Name = "code: last code of four bytes",
     .Input = TCardCodeInput{.BlockNo = "4", .Code = {.Digits = "FFFFFFFF", .Hex = true}}},
    {.Name = "code: does not fit the block at the offset",
     .Input =
         TCardCodeInput{
             .BlockNo = "4", .Offset = "12", .Size = "5", .Code = {.Digits = "1", .Hex = false}},
     .Refusal = "Недопустимая комбинация смещения и кода карты"},
    {.Name = "code: bad write key",
     .Input = TCardCodeInput{.BlockNo = "4", .KeyB = "FF FF", .Code = {.Digits = "1"}},
     .Refusal = kMsgBadWriteKey},
    {.Name = "code: bad current write key",
     .Input =
         TCardCodeInput{.BlockNo = "4", .OldKeyB = "GG GG GG GG GG GG", .Code = {.Digits = "1"}},
     .Refusal = kMsgBadOldWriteKey},
    {.Name = "code: block above the range",
     .Input = TCardCodeInput{.BlockNo = "300", .Code = {.Digits = "1"}},
     .Refusal = RangeText(0, 252, "300")},
    // Issuing.
    {.Name = "issue: defaults", .Input = TIssueInput{}},
    {.Name = "issue: text codes and user data with blanks",
     .Input = TIssueInput{.Variant = "5",
                          .Emitent = "ключ",
                          .Emission = "AB",
                          .FactoryKey = "A0A1A2A3A4A5",
                          .UserData = "01 02 03 04 05 06 07 08 09 0A"}},
    {.Name = "issue: largest numbers",
     .Input = TIssueInput{.Variant = "3", .Emitent = "2147483647", .Emission = "65535"}},
    {.Name = "issue: no variant chosen",
     .Input = TIssueInput{.Variant = "0"},
     .Refusal = kMsgBadVariant},
    {.Name = "issue: variant 6", .Input = TIssueInput{.Variant = "6"}, .Refusal = kMsgBadVariant},
    {.Name = "issue: emitent text too long",
     .Input = TIssueInput{.Emitent = "abcde"},
     .Refusal = kMsgBadEmitent},
    {.Name = "issue: negative emitent",
     .Input = TIssueInput{.Emitent = "-1"},
     .Refusal = kMsgBadEmitent},
    {.Name = "issue: emission above 65535",
     .Input = TIssueInput{.Emission = "65536"},
     .Refusal = kMsgBadEmission},
    {.Name = "issue: empty emission",
     .Input = TIssueInput{.Emission = ""},
     .Refusal = kMsgBadEmission},
    {.Name = "issue: short factory key",
     .Input = TIssueInput{.FactoryKey = "FF FF"},
     .Refusal = kMsgBadFactoryKey},
    {.Name = "issue: factory key in ASCII",
     .Input = TIssueInput{.FactoryKey = "ABCDEF"},
     .Refusal = kMsgBadFactoryKey},
    {.Name = "issue: user data not hexadecimal",
     .Input = TIssueInput{.UserData = "XYZ"},
     .Refusal = kMsgBadUserData},
    {.Name = "issue: user data of eleven bytes",
     .Input = TIssueInput{.UserData = "0102030405060708090A0B"},
     .Refusal = kMsgBadUserData},
    // Block read.
    {.Name = "read: last block", .Input = TReadBlockInput{.BlockNo = "255"}},
    {.Name = "read: block beyond the card",
     .Input = TReadBlockInput{.BlockNo = "256"},
     .Refusal = RangeText(0, 255, "256")},
    {.Name = "read: ASCII key",
     .Input = TReadBlockInput{.BlockNo = "4", .Key = "ABCDEF"},
     .Refusal = kMsgBadReadBlockKey},
};

}  // namespace kiren::op::test
