#include "base/codepage.h"

#include <gtest/gtest.h>

#include "base/utf8.h"

namespace kiren {
namespace {

TEST(Cp1251, CyrillicRoundTrip) {
  const std::string text = "Кирен-М1: Ошибка чтения, ёЁ №5";
  const Bytes bytes = EncodeText(text);
  EXPECT_EQ(bytes.size(), Utf8ToU32(text).size());
  EXPECT_EQ(bytes[0], 0xCA);  // К
  EXPECT_EQ(DecodeText(bytes), text);
}

TEST(Cp1251, EveryDefinedByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98)
      continue;
    const Bytes one{std::uint8_t(b)};
    EXPECT_EQ(EncodeText(DecodeText(one)), one) << b;
  }
}

TEST(Cp1251, UndefinedByteAndUnmappableCharacterAreReplaced) {
  EXPECT_EQ(DecodeText(Bytes{'a', 0x98, 'b'}), "a\uFFFDb");
  // A character outside the code page becomes '?', one byte per character; nothing is lost.
  EXPECT_EQ(EncodeText("a€漢😀b"), (Bytes{'a', 0x88, '?', '?', 'b'}));
  EXPECT_EQ(EncodeText("\xFF"), Bytes{'?'});  // malformed UTF-8
}

TEST(Cp1251, ZeroBytesAreKeptExceptInAnsiZ) {
  const Bytes bytes{'v', '1', 0x00, 'x'};
  EXPECT_EQ(DecodeText(bytes), std::string("v1\0x", 4));
  EXPECT_EQ(AnsiZToUtf8(bytes), "v1");
  EXPECT_EQ(AnsiZToUtf8(Bytes{0xC0, 0xE1}), "Аб");
  EXPECT_EQ(AnsiZToUtf8(Bytes{}), "");
}

TEST(Utf16LE, BothWaysWithSurrogates) {
  const std::string text = "Aё😀";
  const Bytes bytes = EncodeText(text, TCodePage::Utf16LE);
  EXPECT_EQ(bytes, (Bytes{'A', 0, 0x51, 0x04, 0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(DecodeText(bytes, TCodePage::Utf16LE), text);
  EXPECT_EQ(DecodeText(Bytes{'A', 0, 'B'}, TCodePage::Utf16LE), "A\uFFFD");
}

TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToU32("a\xC3"), (std::u32string{U'a', 0xFFFD}));
  EXPECT_EQ(Utf8ToU32("\xC0\xAF"), (std::u32string{0xFFFD, 0xFFFD}));  // overlong
  EXPECT_EQ(U32ToUtf8(Utf8ToU32("Привет")), "Привет");
  EXPECT_EQ(DecodeText(Bytes{'o', 'k', 0xE2}, TCodePage::Utf8), "ok\uFFFD");
}

}  // namespace
}  // namespace kiren
