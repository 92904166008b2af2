#include "protocol/card_content.h"

#include <gtest/gtest.h>

namespace kiren {
namespace {

// A 0x50 record from its bytes (the rest zero).
TKirenCard Record(const Bytes& ABytes) {
  TKirenCard card;
  std::copy(ABytes.begin(), ABytes.end(), card.data.begin());
  return card;
}

// Header bytes followed by the bytes from position 5 on.
TKirenCard Record(const Bytes& AHeader, const Bytes& ARest) {
  Bytes all = AHeader;
  all.insert(all.end(), ARest.begin(), ARest.end());
  return Record(all);
}

TEST(KirenCard, LayoutFromHeader) {
  const struct {
    Bytes hdr;
    TCardType type;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF, 0xD4, 0x00}, TCardType::Universal},
      {{0xFF, 0xFF, 0xFF, 0xDF, 0x99}, TCardType::Universal},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, TCardType::Sorvel},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, TCardType::Sorvel_V},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, TCardType::Unknown},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, TCardType::LongCode},
      {{0xFF, 0xFF, 0xFF, 0xEF, 0x1F}, TCardType::Perco_V},
      {{0xFF, 0xFF, 0xFF, 0xEF, 0x1E}, TCardType::ShortCode},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x00}, TCardType::ShortCode},
      {{0xFF, 0xFF, 0xFE, 0xD4, 0x00}, TCardType::ShortCode},
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, TCardType::ShortCode},
      {{}, TCardType::ShortCode},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Record(c.hdr).CardType(), c.type) << testing::PrintToString(c.hdr);
}

struct TInfoCase {
  const char* name;
  TKirenCard card;
  int size;
  TCardType type;
  std::string text;
};

const Bytes kSorvelRest = {0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                           0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0x77};
const std::string kSorvelText =
    "=== СОРВЕЛ ===\r\nКод карты: 0000000001-000020000000003\r\n"
    "Эмитент: 0x00000001\r\nЭмиссия: 0x0002\r\nID: 0x03000000";

TEST(KirenCard, InfoForEveryLayout) {
  const Bytes longRest = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                          0x99, 0xAA, 0x01, 0x02, 0x03, 0x04, 0x05};
  const TInfoCase cases[] = {
      {"short 4", Record({0x12, 0x34, 0x56, 0x78, 0x9A}), 4, TCardType::ShortCode,
       "=== КОД КАРТЫ ===\r\n3456789A"},
      {"short 8", Record({0x12, 0x34, 0x56, 0x78, 0x9A}), 8, TCardType::ShortCode,
       "=== КОД КАРТЫ ===\r\n123456789A"},
      {"short 0", Record({0x12, 0x34, 0x56, 0x78, 0x9A}), 0, TCardType::ShortCode,
       "=== КОД КАРТЫ ===\r\n"},
      {"short -3", Record({0x12, 0x34, 0x56, 0x78, 0x9A}), -3, TCardType::ShortCode,
       "=== КОД КАРТЫ ===\r\n"},
      {"empty record", TKirenCard{}, 4, TCardType::ShortCode, "=== КОД КАРТЫ ===\r\n00000000"},
      {"long 4", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, longRest), 4, TCardType::LongCode,
       "=== КОД КАРТЫ ===\r\n778899AA"},
      {"long 15", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, longRest), 15, TCardType::LongCode,
       "=== КОД КАРТЫ ===\r\nFFFFFFFFFD112233445566778899AA"},
      {"long 99", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, longRest), 99, TCardType::LongCode,
       "=== КОД КАРТЫ ===\r\nFFFFFFFFFD112233445566778899AA"},
      {"long -1", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, longRest), -1, TCardType::LongCode,
       "=== КОД КАРТЫ ===\r\n"},
      {"sorvel 4", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kSorvelRest), 4, TCardType::Sorvel,
       kSorvelText},
      {"sorvel 12", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kSorvelRest), 12, TCardType::Sorvel,
       kSorvelText},
      {"sorvel_v", Record({0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, kSorvelRest), 4, TCardType::Sorvel_V,
       kSorvelText + "\r\n=== СЧЕТЧИК ===\r\nDEADBEEF"},
      {"perco_v", Record({0xFF, 0xFF, 0xFF, 0xEF, 0x1F}, longRest), 3, TCardType::Perco_V,
       "=== КОД КАРТЫ ===\r\n8899AA\r\n=== СЧЕТЧИК ===\r\n01020304"},
      {"unknown", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, longRest), 4, TCardType::Unknown, ""},
      {"universal", Record({0xFF, 0xFF, 0xFF, 0xD4, 0x00}, {0x00, 0x11, 0x22, 0x33, 0x44}), 4,
       TCardType::Universal, "=== КОД КАРТЫ ===\r\n44332211"},
  };
  for (const auto& c : cases) {
    TCardType type = TCardType::Perco;
    EXPECT_EQ(c.card.Info(c.size, type), c.text) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
}

TEST(KirenCard, FieldsAreLittleEndianAndTheSorvelIdBigEndian) {
  const TKirenCard card = Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kSorvelRest);
  EXPECT_EQ(card.emitent(), 1u);
  EXPECT_EQ(card.emission(), 2u);
  EXPECT_EQ(card.id(), 0x03000000u);
  EXPECT_EQ(card.CardValue(), "DEADBEEF");
  // Sorvel IDs are 32 bits: sizes above 4 use the last four code bytes, 0 gives ID 0.
  EXPECT_EQ(card.CardCode(TCardType::Sorvel, 2), "0000000001-000020000000003");
  EXPECT_EQ(card.CardCode(TCardType::Sorvel, 15), "0000000001-000020000000003");
  EXPECT_EQ(card.CardCode(TCardType::Sorvel_V, 0), "0000000001-000020000000000");
  const TKirenCard big = Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes(10, 0xFF));  // widest numbers
  EXPECT_EQ(big.CardCode(TCardType::Sorvel, 4), "4294967295-655354294967295");
  EXPECT_EQ(card.CardCode(TCardType::Universal, 4), "");
  EXPECT_EQ(card.CardCode(TCardType::Unknown, 4), "");
}

TEST(KirenCard, UniversalLayout) {
  const auto universal = [](std::uint8_t ALen, std::uint8_t AKind, const Bytes& ARest) {
    return Record({0xFF, 0xFF, 0xFF, std::uint8_t(0xD0 | ALen), AKind}, ARest);
  };
  Bytes ramp(15);  // bytes 5..19 hold 05..13 hex
  for (std::size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = std::uint8_t(5 + i);
  const struct {
    const char* name;
    TKirenCard card;
    std::string text;
  } cases[] = {
      {"error kind", universal(4, 1, ramp), "Ошибка. Код: 4"},
      {"error 15", universal(15, 1, ramp), "Ошибка. Код: 15"},
      {"n=0", universal(0, 0, ramp), "=== КОД КАРТЫ ===\r\n00"},
      {"n=1", universal(1, 0, ramp), "=== КОД КАРТЫ ===\r\n09"},
      {"n=4", universal(4, 0, ramp), "=== КОД КАРТЫ ===\r\n09080706"},
      {"n=5", universal(5, 0, ramp), "=== КОД КАРТЫ ===\r\n0E0D0C0B0A"},
      {"n=9", universal(9, 0, ramp), "=== КОД КАРТЫ ===\r\n0E0D0C0B0A09080706"},
      {"n=10", universal(10, 0, ramp), "=== КОД КАРТЫ ===\r\n131211100F0E0D0C0B0A"},
      {"n=14", universal(14, 0, ramp), "=== КОД КАРТЫ ===\r\n131211100F0E0D0C0B0A09080706"},
      // Length 15 would reach past the record: only bytes 10..19 inside it are taken.
      {"n=15", universal(15, 0, ramp), "=== КОД КАРТЫ ===\r\n131211100F0E0D0C0B0A"},
      {"sorvel id", universal(10, 2, {0, 0, 0, 0, 0, 0x05}), "=== СОРВЕЛ ===\r\nID: 05"},
      {"kind 2 not 10", universal(4, 2, ramp), "=== КОД КАРТЫ ===\r\n09080706"},
      {"value", universal(4, 4, ramp), "Карта c value-блоком\r\n=== КОД КАРТЫ ===\r\n09080706"},
      {"all zero code", universal(4, 0, {}), "=== КОД КАРТЫ ===\r\n00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.card.CardCodeEx(), c.text) << c.name;
    TCardType type;
    EXPECT_EQ(c.card.Info(4, type), c.text) << c.name;
  }
  // The "c" of the value text is the Latin letter.
  EXPECT_NE(universal(4, 4, ramp).CardCodeEx().find("Карта c value"), std::string::npos);
  EXPECT_EQ(universal(4, 4, ramp).CardCodeEx().find("Карта с"), std::string::npos);
}

Bytes Payload55(std::uint8_t AFlags, const std::string& AText) {
  Bytes p{AFlags, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00,
          0x00,   0x01, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x0A};
  p.insert(p.end(), AText.begin(), AText.end());
  return p;
}

TEST(KirenCardEx, LoadFromBufReadsBigEndian) {
  TKirenCardEx card;
  card.LoadFromBuf(Payload55(0x03, "123"));
  EXPECT_EQ(card.Status.value, 0x03);
  EXPECT_EQ(card.UID, (std::array<std::uint8_t, 7>{0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  EXPECT_EQ(card.Emitent, 0x0102u);
  EXPECT_EQ(card.Emission, 0x0005u);
  EXPECT_EQ(card.Value, 0x0Au);
  EXPECT_EQ(card.ID_4(), 0x66554433u);
  EXPECT_EQ(card.buf, (Bytes{'1', '2', '3'}));
  EXPECT_EQ(TKirenCardEx::FixedSize(), 18);

  card.LoadFromBuf(Payload55(0x01, ""));
  EXPECT_TRUE(card.buf.empty());
  EXPECT_EQ(card.WID(), "");
  card.LoadFromBuf(Bytes{0x01, 0x04});  // short: the missing bytes count as zero
  EXPECT_EQ(card.UID[0], 0x04);
  EXPECT_EQ(card.Emitent, 0u);
  EXPECT_TRUE(card.buf.empty());
}

TEST(KirenCardEx, InfoTexts) {
  const std::string sorvel =
      "=== СОРВЕЛ ===\r\nКод карты: 123\r\nЭмитент: 0x00000102\r\nЭмиссия: 0x0005\r\n"
      "ID: 0x66554433";
  const std::string counter = "\r\n=== СЧЕТЧИК ===\r\n0000000A\r\n";
  const struct {
    std::uint8_t flags;
    std::string text;
    std::string info;
  } cases[] = {
      {0x03, "123", sorvel},
      {0x07, "123", sorvel + counter},
      {0x01, "AB12", "=== КОД КАРТЫ ===\r\nAB12"},
      {0x15, "AB12", "=== КОД КАРТЫ ===\r\nAB12" + counter},
      {0x11, "", "=== КОД КАРТЫ ===\r\n"},
      {0x00, "123", "Нет информации о карте"},
      {0x06, "123", "Нет информации о карте"},
      {0x01, "\xCA\xEE\xE4", "=== КОД КАРТЫ ===\r\nКод"},
      {0x01, std::string("12\0xyz", 6), "=== КОД КАРТЫ ===\r\n12"},
  };
  for (const auto& c : cases) {
    TKirenCardEx card;
    card.LoadFromBuf(Payload55(c.flags, c.text));
    EXPECT_EQ(card.Info(), c.info) << int(c.flags) << " " << c.text;
  }
}

}  // namespace
}  // namespace kiren
