#include "protocol/access_conditions.h"

#include <gtest/gtest.h>

namespace kiren {
namespace {

constexpr auto N = TAccessKeys::Never;
constexpr auto A = TAccessKeys::KeyA;
constexpr auto B = TAccessKeys::KeyB;
constexpr auto AB = TAccessKeys::KeyAOrB;

// Access bytes 6-8 for the conditions (C1 C2 C3 as a number) of blocks 0, 1, 2 and the trailer.
std::array<std::uint8_t, 3> Encode(std::array<int, 4> AConditions) {
  int c1 = 0, c2 = 0, c3 = 0;
  for (int i = 0; i < 4; ++i) {
    c1 |= (AConditions[i] >> 2 & 1) << i;
    c2 |= (AConditions[i] >> 1 & 1) << i;
    c3 |= (AConditions[i] & 1) << i;
  }
  return {static_cast<std::uint8_t>((~c2 & 0xF) << 4 | (~c1 & 0xF)),
          static_cast<std::uint8_t>(c1 << 4 | (~c3 & 0xF)),
          static_cast<std::uint8_t>(c3 << 4 | c2)};
}

TAccessConditions Decode(std::array<std::uint8_t, 3> ABytes) {
  return DecodeAccessConditions(ABytes[0], ABytes[1], ABytes[2], 0x69);
}

TEST(AccessConditions, DataBlockConditions) {
  const struct {
    int bits;
    TDataBlockAccess access;
  } cases[] = {
      {0b000, {.Bits = 0b000, .Read = AB, .Write = AB, .Increment = AB, .Decrement = AB}},
      {0b010, {.Bits = 0b010, .Read = AB, .Write = N, .Increment = N, .Decrement = N}},
      {0b100, {.Bits = 0b100, .Read = AB, .Write = B, .Increment = N, .Decrement = N}},
      {0b110, {.Bits = 0b110, .Read = AB, .Write = B, .Increment = B, .Decrement = AB}},
      {0b001, {.Bits = 0b001, .Read = AB, .Write = N, .Increment = N, .Decrement = AB}},
      {0b011, {.Bits = 0b011, .Read = B, .Write = B, .Increment = N, .Decrement = N}},
      {0b101, {.Bits = 0b101, .Read = B, .Write = N, .Increment = N, .Decrement = N}},
      {0b111, {.Bits = 0b111, .Read = N, .Write = N, .Increment = N, .Decrement = N}},
  };
  for (const auto& c : cases) {
    // Trailer condition 011 keeps key B secret, so key B's rights stand as the table gives them.
    const auto decoded = Decode(Encode({c.bits, c.bits, c.bits, 0b011}));
    ASSERT_TRUE(decoded.Consistent) << c.bits;
    EXPECT_FALSE(decoded.KeyBReadable);
    for (const auto& block : decoded.Blocks)
      EXPECT_EQ(block, c.access) << "condition " << c.bits;
  }
}

TEST(AccessConditions, TrailerConditions) {
  const struct {
    int bits;
    TTrailerAccess access;
    bool keyBReadable;
  } cases[] = {
      {0b000,
       {.Bits = 0b000,
        .KeyAWrite = A,
        .AccessBitsRead = A,
        .AccessBitsWrite = N,
        .KeyBRead = A,
        .KeyBWrite = A},
       true},
      {0b010,
       {.Bits = 0b010,
        .KeyAWrite = N,
        .AccessBitsRead = A,
        .AccessBitsWrite = N,
        .KeyBRead = A,
        .KeyBWrite = N},
       true},
      {0b100,
       {.Bits = 0b100,
        .KeyAWrite = B,
        .AccessBitsRead = AB,
        .AccessBitsWrite = N,
        .KeyBRead = N,
        .KeyBWrite = B},
       false},
      {0b110,
       {.Bits = 0b110,
        .KeyAWrite = N,
        .AccessBitsRead = AB,
        .AccessBitsWrite = N,
        .KeyBRead = N,
        .KeyBWrite = N},
       false},
      {0b001,
       {.Bits = 0b001,
        .KeyAWrite = A,
        .AccessBitsRead = A,
        .AccessBitsWrite = A,
        .KeyBRead = A,
        .KeyBWrite = A},
       true},
      {0b011,
       {.Bits = 0b011,
        .KeyAWrite = B,
        .AccessBitsRead = AB,
        .AccessBitsWrite = B,
        .KeyBRead = N,
        .KeyBWrite = B},
       false},
      {0b101,
       {.Bits = 0b101,
        .KeyAWrite = N,
        .AccessBitsRead = AB,
        .AccessBitsWrite = B,
        .KeyBRead = N,
        .KeyBWrite = N},
       false},
      {0b111,
       {.Bits = 0b111,
        .KeyAWrite = N,
        .AccessBitsRead = AB,
        .AccessBitsWrite = N,
        .KeyBRead = N,
        .KeyBWrite = N},
       false},
  };
  for (const auto& c : cases) {
    const auto decoded = Decode(Encode({0b000, 0b000, 0b000, c.bits}));
    ASSERT_TRUE(decoded.Consistent) << c.bits;
    EXPECT_EQ(decoded.Trailer, c.access) << "condition " << c.bits;
    EXPECT_EQ(decoded.KeyBReadable, c.keyBReadable) << "condition " << c.bits;
    // A readable key B cannot authenticate: data blocks open to "A or B" are open to A only.
    EXPECT_EQ(decoded.Blocks[0].Read, c.keyBReadable ? A : AB) << "condition " << c.bits;
  }
}

TEST(AccessConditions, KnownTrailerBytes) {
  // Transport configuration: data blocks 000, trailer 001 (key B readable).
  auto t = DecodeSectorTrailer({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x80, 0x69, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->Consistent);
  EXPECT_EQ(t->Trailer.Bits, 0b001);
  EXPECT_TRUE(t->KeyBReadable);
  EXPECT_EQ(t->UserByte, 0x69);
  for (const auto& block : t->Blocks)
    EXPECT_EQ(block,
              (TDataBlockAccess{.Bits = 0, .Read = A, .Write = A, .Increment = A, .Decrement = A}));

  // Each block its own condition: 100, 110, 001, trailer 011 (bytes worked out by hand).
  const auto mixed = DecodeAccessConditions(0x5C, 0x33, 0xCA, 0x00);
  ASSERT_TRUE(mixed.Consistent);
  EXPECT_EQ(mixed.Blocks[0].Bits, 0b100);
  EXPECT_EQ(mixed.Blocks[1].Bits, 0b110);
  EXPECT_EQ(mixed.Blocks[2].Bits, 0b001);
  EXPECT_EQ(mixed.Trailer.Bits, 0b011);
  EXPECT_EQ(Encode({0b100, 0b110, 0b001, 0b011}), (std::array<std::uint8_t, 3>{0x5C, 0x33, 0xCA}));

  EXPECT_FALSE(DecodeSectorTrailer(Bytes(15, 0)));
}

TEST(AccessConditions, InvertedCopiesThatDoNotMatchLockTheSector) {
  const std::array<std::uint8_t, 3> cases[] = {
      {0xFF, 0x17, 0x80},  // C1 of block 0 set, its inverted copy not cleared
      {0xFF, 0x07, 0x81},  // C2 of block 0
      {0xFF, 0x06, 0x80},  // inverted C3 of block 0
      {0x00, 0x00, 0x00},
  };
  for (const auto& bytes : cases) {
    const auto decoded = Decode(bytes);
    EXPECT_FALSE(decoded.Consistent);
    EXPECT_EQ(decoded.Trailer.AccessBitsRead, N);
    EXPECT_EQ(decoded.Blocks[0].Read, N);
    const auto text = AccessConditionsText(decoded);
    EXPECT_NE(text.find("не совпадают"), std::string::npos) << text;
    EXPECT_NE(text.find("навсегда"), std::string::npos) << text;
    EXPECT_EQ(text.find("чтение — ключ"), std::string::npos) << text;
  }
}

TEST(AccessConditions, Text) {
  EXPECT_EQ(AccessConditionsText(DecodeAccessConditions(0x78, 0x77, 0x88, 0x69), 7),
            "Условия доступа: байты 6–8 78 77 88, байт 9 69 (данные пользователя)\r\n"
            "Блок 4 (условие 100): чтение — ключ A или B, запись — ключ B, инкремент — никогда, "
            "декремент/перенос/восстановление — никогда\r\n"
            "Блок 5 (условие 100): чтение — ключ A или B, запись — ключ B, инкремент — никогда, "
            "декремент/перенос/восстановление — никогда\r\n"
            "Блок 6 (условие 100): чтение — ключ A или B, запись — ключ B, инкремент — никогда, "
            "декремент/перенос/восстановление — никогда\r\n"
            "Трейлер сектора (блок 7) (условие 011): ключ A: чтение — никогда, запись — ключ B; "
            "биты доступа: чтение — ключ A или B, запись — ключ B; ключ B: чтение — никогда, "
            "запись — ключ B");
  // A 16-block sector of a 4K card names groups of five blocks; key B readable is explained.
  const auto text = AccessConditionsText(DecodeAccessConditions(0xFF, 0x07, 0x80, 0x69), 143);
  EXPECT_NE(text.find("Блоки 128–132 (условие 000)"), std::string::npos) << text;
  EXPECT_NE(text.find("Блоки 138–142"), std::string::npos) << text;
  EXPECT_NE(text.find("Ключ B читается с карты"), std::string::npos) << text;
  EXPECT_NE(
      AccessConditionsText(DecodeAccessConditions(0xFF, 0x07, 0x80, 0x69)).find("Блок 2 сектора"),
      std::string::npos);
}

}  // namespace
}  // namespace kiren
