#include "base/text_utils.h"

#include <gtest/gtest.h>

#include <regex>

namespace kiren {
namespace {

struct THexCase {
  std::string text;
  bool ok;
  Bytes bytes;
};

TEST(HexStrToBytes, BlanksIgnoredOddAndNonHexRefused) {
  const THexCase cases[] = {
      {"01 AB", true, {0x01, 0xAB}},
      {"01AB", true, {0x01, 0xAB}},
      {" 0 1a b ", true, {0x01, 0xAB}},
      {"ff00fe", true, {0xFF, 0x00, 0xFE}},
      {"", true, {}},
      {"   ", true, {}},
      {"1AB", false, {}},
      {"0G", false, {0x00}},
      {"0x", false, {0x00}},
      {"+1", false, {0x00}},
      {"12-3", false, {0x12, 0x00}},
  };
  for (const auto& c : cases) {
    Bytes bytes{0x55};
    EXPECT_EQ(HexStrToBytes(c.text, bytes), c.ok) << c.text;
    if (c.ok || c.text.size() % 2) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(BytesToHexStr, UpperCaseBlankSeparated) {
  EXPECT_EQ(BytesToHexStr(Bytes{}), "");
  EXPECT_EQ(BytesToHexStr(Bytes{0x0F}), "0F");
  EXPECT_EQ(BytesToHexStr(Bytes{0x01, 0xAB, 0x00}), "01 AB 00");
}

TEST(HexStrToBytes, RoundTripsEveryByte) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i)
    all[i] = std::uint8_t(i);
  Bytes back;
  ASSERT_TRUE(HexStrToBytes(BytesToHexStr(all), back));
  EXPECT_EQ(back, all);
}

struct TReplaceCase {
  std::string text, what, repl;
  bool ignoreCase;
  std::string expected;
};

TEST(ReplaceSubstr, CaseSensitiveAndIgnoringCase) {
  const TReplaceCase cases[] = {
      {"aXbxc", "x", "-", false, "aXb-c"},
      {"aXbxc", "x", "-", true, "a-b-c"},
      {"aaaa", "aa", "a", false, "aa"},  // continues after each replacement
      {"abc", "", "-", false, "abc"},
      {"", "a", "-", false, ""},
      {"1 2  3", " ", "", false, "123"},
      {"Ключ КЛЮЧ ключ", "ключ", "key", false, "Ключ КЛЮЧ key"},
      {"Ключ КЛЮЧ ключ", "ключ", "key", true, "key key key"},
      {"Ёлка ёлка", "ё", "е", true, "елка елка"},
      {"xКлючx", "клЮЧ", "", true, "xx"},
  };
  for (const auto& c : cases) {
    std::string out = "garbage";
    ReplaceSubstr(c.text, c.what, c.repl, out, c.ignoreCase);
    EXPECT_EQ(out, c.expected) << c.text << " / " << c.what << " / " << c.ignoreCase;
  }
}

TEST(ReplaceSubstr, ResultMayAliasText) {
  std::string s = "a-b-c";
  ReplaceSubstr(s, "-", "+", s, false);
  EXPECT_EQ(s, "a+b+c");
}

TEST(UpperCase, LatinAndCyrillic) {
  EXPECT_EQ(UpperCase("abc Где-то ёж 1"), "ABC ГДЕ-ТО ЁЖ 1");
}

TEST(TimeStr, HoursUnpaddedOthersPadded) {
  EXPECT_EQ(TimeStr(9, 5, 3, 42, true), "9:05:03.042");
  EXPECT_EQ(TimeStr(9, 5, 3, 42, false), "9:05:03");
  EXPECT_EQ(TimeStr(23, 59, 59, 999, true), "23:59:59.999");
  EXPECT_EQ(TimeStr(0, 0, 0, 0, true), "0:00:00.000");
}

TEST(NowTimeStr, HasTheShapeOfTheLocalTime) {
  EXPECT_TRUE(std::regex_match(NowTimeStr(true), std::regex(R"(\d{1,2}:\d\d:\d\d\.\d{3})")));
  EXPECT_TRUE(std::regex_match(NowTimeStr(false), std::regex(R"(\d{1,2}:\d\d:\d\d)")));
}

TEST(TryStrToInt, WholeSigned32BitNumbersOnly) {
  const struct {
    std::string text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"0", true, 0},
      {"100", true, 100},
      {"-7", true, -7},
      {"+7", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"+-1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"0x10", false, 0},
      {"12a", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = 99;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 99) << c.text;
  }
}

}  // namespace
}  // namespace kiren
