// The operator layer's reading of keys, card codes and numbers.
#include <gtest/gtest.h>

#include "operator/input.h"
#include "operator/texts.h"

namespace kiren::op {
namespace {

// ---- Keys -----------------------------------------------------------------------------------

TEST(OperatorInput, TryParseKey) {
  const TKey ff{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const struct {
    const char* Text;
    bool Ok;
    TKey Key;
  } cases[] = {
      {"FF FF FF FF FF FF", true, ff},
      {"FFFFFFFFFFFF", true, ff},
      {"  FF FF FF FF FF FF \t", true, ff},
      {"ff ffFF ff ffff", true, ff},
      {"ABCDEF", true, {0x41, 0x42, 0x43, 0x44, 0x45, 0x46}},
      {"FFFFFF", true, {0x46, 0x46, 0x46, 0x46, 0x46, 0x46}},
      {"ключ12", true, {0xEA, 0xEB, 0xFE, 0xF7, 0x31, 0x32}},
      {"A0 A1 A2 A3 A4 A5", true, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}},
      {"FF FF FF FF FF", false, {}},
      {"FF FF FF FF FF F", false, {}},
      {"FF FF FF FF FF FF FF", false, {}},
      {"GG GG GG GG GG GG", false, {}},
      {"", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    TKey key{};
    EXPECT_EQ(TryParseKey(c.Text, key), c.Ok);
    if (c.Ok) {
      EXPECT_EQ(key, c.Key);
    }
  }
}

// ---- Card code --------------------------------------------------------------------------------

TEST(OperatorInput, CardCodeBytes) {
  const struct {
    const char* Text;
    bool Hex;
    int Size;
    Bytes Expected;  // empty: refused with Message
    std::string Message;
  } cases[] = {
      {"300", false, 4, {0x00, 0x00, 0x01, 0x2C}, ""},
      {"0", false, 4, {0, 0, 0, 0}, ""},
      {" 255 ", false, 4, {0, 0, 0, 0xFF}, ""},
      {"18446744073709551615", false, 8, Bytes(8, 0xFF), ""},
      {"18446744073709551615",
       false,
       10,
       {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       ""},
      {"18446744073709551615", false, 7, {}, "Введен слишком длинный код карты (максимум 7 байт)"},
      {"18446744073709551616", false, 8, {}, kMsgBadCardCode},
      {"12a", false, 4, {}, kMsgBadCardCode},
      {"", false, 4, {}, kMsgBadCardCode},
      // No digit is no code: an empty hexadecimal field is not padded to zeros.
      {"", true, 4, {}, kMsgBadCardCode},
      {"  ", true, 4, {}, kMsgBadCardCode},
      {"-1", false, 4, {}, kMsgBadCardCode},
      {"00FF", true, 4, {0, 0, 0, 0xFF}, ""},
      {"abc", true, 4, {0, 0, 0x0A, 0xBC}, ""},
      {"AB CD", true, 4, {}, kMsgBadCardCode},
      {"0102030405", true, 5, {1, 2, 3, 4, 5}, ""},
      {"010203040506", true, 5, {}, "Введен слишком длинный код карты (максимум 5 байт)"},
      // A size no field allows: padded to 11 bytes, which the action then refuses.
      {"1", false, 2147483647, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, ""},
      {"XY", true, 4, {}, kMsgBadCardCode},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.Hex ? " hex" : " dec"));
    if (c.Message.empty()) {
      EXPECT_EQ(CardCodeBytes(c.Text, c.Hex, c.Size), c.Expected);
    } else {
      try {
        CardCodeBytes(c.Text, c.Hex, c.Size);
        ADD_FAILURE() << "accepted";
      } catch (const TInputError& e) {
        EXPECT_EQ(e.what(), c.Message);
      }
    }
  }
}

TEST(OperatorInput, IncCardCodeText) {
  const struct {
    const char* Text;
    bool Hex;
    const char* Expected;  // nullptr: refused with Message
    std::string Message;
  } cases[] = {
      {"0", false, "1", ""},
      {"299", false, "300", ""},
      {"9223372036854775807", false, "9223372036854775808", ""},
      {"18446744073709551615", false, "0", ""},
      {"18446744073709551616", false, nullptr, kMsgCannotIncCode},
      {"abc", false, nullptr, kMsgCannotIncCode},
      {"00FF", true, "100", ""},
      {"ff", true, "100", ""},
      {"FFFFFFFFFFFFFFFF", true, "0", ""},
      // Beyond 64 bits the hexadecimal digits are incremented in place.
      {"1FFFFFFFFFFFFFFFFF", true, "200000000000000000", ""},
      {"FFFFFFFFFFFFFFFFFFFF", true, nullptr, kMsgIncCodeTooLong},
      {"FFFFFFFFFFFFFFFFFFFFF", true, nullptr, kMsgIncCodeTooLong},
      {"FFFFFFFFFFFFFFFFFFF", true, "10000000000000000000", ""},
      {"", true, "01", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.Hex ? " hex" : " dec"));
    if (c.Expected) {
      EXPECT_EQ(IncCardCodeText(c.Text, c.Hex), c.Expected);
    } else {
      try {
        IncCardCodeText(c.Text, c.Hex);
        ADD_FAILURE() << "accepted";
      } catch (const TInputError& e) {
        EXPECT_EQ(e.what(), c.Message);
      }
    }
  }
}

TEST(OperatorInput, IncHexDigits) {
  std::string s = "19";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "1A");
  s = "0F";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "10");
  s = "FF";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "100");
  s = "1F";
  IncHexDigits(s, 1);  // at position 1 only the first digit counts
  EXPECT_EQ(s, "2F");
  s = "";
  IncHexDigits(s, 0);
  EXPECT_EQ(s, "1");
  s = "A F";
  EXPECT_THROW(IncHexDigits(s, 3), TInputError);  // the carry reaches the blank
  s = "1Ж";  // the message names the whole character, not one of its bytes
  try {
    IncHexDigits(s, s.size());
    ADD_FAILURE();
  } catch (const TInputError& e) {
    EXPECT_EQ(std::string(e.what()), ConversionErrorText("$Ж"));
  }
}

TEST(OperatorInput, NumbersAndTexts) {
  EXPECT_EQ(StrToInt("252"), 252);
  EXPECT_EQ(StrToInt("-3"), -3);
  try {
    StrToInt("");
    ADD_FAILURE();
  } catch (const TInputError& e) {
    EXPECT_EQ(std::string(e.what()), ConversionErrorText(""));
  }
  EXPECT_THROW(StrToInt("1x"), TInputError);
  EXPECT_EQ(AddrText(4, 2, 5), "Блок: 4, Смещение: 2\r\nРазмер: 5");
  EXPECT_EQ(TrailerQuestionText(0),
            "Запись данных в указанный блок может привести к выходу из строя сектора №0 и "
            "невозможности использовать карту в рамках данной эмиссии. \r\n\r\n"
            "Если Вы уверены в своих действиях и настаиваете на продолжении, нажмите \"Да\".");
  EXPECT_EQ(TrimText(" \t\r\nab c\x01 "), "ab c");
}

TEST(OperatorInput, HexOnlyKeysRefuseTheAsciiForm) {
  TKey key{};
  EXPECT_FALSE(TryParseKey("ABCDEF", key, TKeyForm::HexOnly));
  EXPECT_TRUE(TryParseKey(" A0A1A2A3A4A5 ", key, TKeyForm::HexOnly));
  EXPECT_EQ(key, (TKey{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

TEST(OperatorInput, CardCodeNotation) {
  EXPECT_EQ(CardCodeFromNotation("0x1F"), (TCardCodeText{.Digits = "1F", .Hex = true}));
  EXPECT_EQ(CardCodeFromNotation("0X1f"), (TCardCodeText{.Digits = "1f", .Hex = true}));
  EXPECT_EQ(CardCodeFromNotation("0x"), (TCardCodeText{.Digits = "", .Hex = true}));
  EXPECT_EQ(CardCodeFromNotation("300"), (TCardCodeText{.Digits = "300", .Hex = false}));
  EXPECT_EQ(CardCodeNotation({.Digits = "1F", .Hex = true}), "0x1F");
  EXPECT_EQ(CardCodeNotation({.Digits = "31", .Hex = false}), "31");
}

}  // namespace
}  // namespace kiren::op
