#include "protocol/records.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kiren {
namespace {

TEST(Status, ErrorTextsAndHasError) {
  const struct {
    std::uint16_t data;
    const char* text;
    bool hasError;
  } cases[] = {
      {0x0001, "Нет ошибок", false},
      {0x8001, "Нет ошибок", false},
      {0x0000, "Команда не выполнена", true},
      {0x8000, "Команда не выполнена", true},
      {0x0003, "Ошибка аутентификации", true},
      {0x6003, "Ошибка аутентификации", true},
      {0x6001, "Ошибка чтения/записи настроек из FRAM", true},
      {0x4001, "Ошибка чтения настроек из FRAM", true},
      {0x2001, "Ошибка записи настроек FRAM", true},
      {0x2000, "Ошибка записи настроек FRAM", true},
  };
  for (const auto& c : cases) {
    const TStatus status(c.data);
    EXPECT_EQ(status.Error(), c.text) << std::hex << c.data;
    EXPECT_EQ(status.HasError(), c.hasError) << std::hex << c.data;
  }
  EXPECT_EQ(TStatus(0x8001), TStatus(0x8001));
  EXPECT_NE(TStatus(0x8001), TStatus(0x0001));
}

TEST(StatusEx, FlagsAndCardType) {
  const struct {
    std::uint8_t value;
    TCardType type;
  } cases[] = {
      {0x00, TCardType::Unknown},   {0x0E, TCardType::Unknown},   {0x01, TCardType::Universal},
      {0x10, TCardType::Universal}, {0x05, TCardType::Universal}, {0x03, TCardType::Sorvel},
      {0x07, TCardType::Sorvel_V},  {0x0B, TCardType::Sorvel},    {0x09, TCardType::Perco},
      {0x1C, TCardType::Perco_V},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TStatusEx{c.value}.CardType(), c.type) << int(c.value);
}

TCardInfo Card(std::uint16_t AStatus, std::uint16_t AType, std::uint8_t ASak, Bytes AUid) {
  TCardInfo info;
  info.status = TStatus(AStatus);
  info.type_ = AType;
  info.SAK = ASak;
  info.UIDSize = std::uint8_t(AUid.size());
  std::copy(AUid.begin(), AUid.end(), info.UID.begin());
  return info;
}

TEST(CardInfo, CardTypeNamesAndFallback) {
  const struct {
    std::uint16_t type;
    std::uint8_t sak;
    const char* name;
  } cases[] = {
      {0x0400, 0x08, "Mifare Classic 1K"},
      {0x0400, 0x09, "Mifare Mini"},
      {0x0400, 0x88, "Mifare Plus S 1K"},
      {0x0200, 0x18, "Mifare Classic 4K"},
      {0x4403, 0x20, "DESFire, -EV1, -ISO"},
      {0x4403, 0x24, "DESFire, -EV1, -ISO"},
      {0x4400, 0x00, "Mifare Ultralight"},
      {0x4400, 0x04, "Mifare Ultralight"},
      {0x4400, 0x20, "Mifare Plus S 2K"},
      {0x4200, 0x20, "Mifare Plus X 4K / Plus S 4K"},
      {0x0344, 0x20, "Карта типа 0344 (SAK: 0x20)"},
      {0x0400, 0x18, "Карта типа 0400 (SAK: 0x18)"},
      {0xABCD, 0xEF, "Карта типа ABCD (SAK: 0xEF)"},
      {0x0000, 0x00, "Карта типа 0000 (SAK: 0x00)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Card(0x8001, c.type, c.sak, {}).CardType(), c.name);
}

TEST(CardInfo, UIDStr) {
  EXPECT_EQ(Card(0x8001, 0, 0, {0x04, 0xA1, 0xB2, 0x0C}).UIDStr(), "04A1B20C");
  EXPECT_EQ(Card(0x8001, 0, 0, {}).UIDStr(), "");
  TCardInfo info = Card(0x8001, 0, 0, Bytes(10, 0xAB));
  EXPECT_EQ(info.UIDStr(), "ABABABABABABABABABAB");
  info.UIDSize = 200;  // never read past the array
  EXPECT_EQ(info.UIDStr().size(), 20u);
}

TEST(CardInfo, EqualityLooksAtDetailsOnlyWithACardPresent) {
  const TCardInfo a = Card(0x0001, 0x0400, 0x08, {1, 2, 3, 4});
  const TCardInfo b = Card(0x0001, 0x0200, 0x18, {9, 9});
  EXPECT_EQ(a, b);
  EXPECT_NE(a, Card(0x0000, 0x0400, 0x08, {1, 2, 3, 4}));

  const TCardInfo p = Card(0x8001, 0x0400, 0x08, {1, 2, 3, 4});
  EXPECT_EQ(p, Card(0x8001, 0x0400, 0x08, {1, 2, 3, 4}));
  EXPECT_NE(p, Card(0x8001, 0x0400, 0x08, {1, 2, 3, 5}));
  EXPECT_NE(p, Card(0x8001, 0x0400, 0x09, {1, 2, 3, 4}));
  EXPECT_NE(p, Card(0x8001, 0x0401, 0x08, {1, 2, 3, 4}));
  EXPECT_NE(p, Card(0x8001, 0x0400, 0x08, {1, 2, 3}));
  TCardInfo q = p;
  q.desc = "x";
  EXPECT_TRUE(p != q);
  q.UID[9] = 1;  // bytes beyond UIDSize count too
  q.desc.clear();
  EXPECT_NE(p, q);
}

TEST(CardInfo, ClearResetsEverything) {
  TCardInfo info = Card(0x8001, 0x0400, 0x08, {1, 2, 3, 4});
  info.desc = "text";
  info.Clear();
  EXPECT_EQ(info.status.data, 0);
  EXPECT_EQ(info.type_, 0);
  EXPECT_EQ(info.SAK, 0);
  EXPECT_EQ(info.UIDSize, 0);
  EXPECT_EQ(info.UID, (std::array<std::uint8_t, 10>{}));
  EXPECT_TRUE(info.desc.empty());
}

TEST(DevInfo, VersionParsing) {
  const struct {
    std::string text;
    std::int32_t major, minor;
  } cases[] = {
      {"v4.12 build 7", 4, 12},
      {"V4.12", 0, 0},
      {"x188-06y v1.0", 2147483647, 2147483647},
      {"", 0, 0},
      {"Кирен-М1 v5.3, v6.1", 5, 3},
      {"v.5 v3.", 0, 0},
      {"fw v2.7", 2, 7},
      {"v0004.010", 4, 10},
      {"v2147483647.0", 2147483647, 0},
  };
  for (const auto& c : cases) {
    TDevInfo dev;
    dev.verMajor = dev.verMinor = 77;
    dev.UpdateFromVerInfo(c.text);
    EXPECT_EQ(dev.verInfo, c.text);
    EXPECT_EQ(dev.verMajor, c.major) << c.text;
    EXPECT_EQ(dev.verMinor, c.minor) << c.text;
    EXPECT_EQ(dev.IsValid(), !c.text.empty());
  }
}

TEST(DevInfo, NumbersBeyond32BitsThrowAndKeepTheOldNumbers) {
  for (const std::string text : {"v2147483648.1", "v1.99999999999999999999"}) {
    TDevInfo dev;
    dev.verMajor = 3;
    dev.verMinor = 4;
    EXPECT_THROW(dev.UpdateFromVerInfo(text), std::out_of_range) << text;
    EXPECT_EQ(dev.verInfo, text);
    EXPECT_EQ(dev.verMajor, 3);
    EXPECT_EQ(dev.verMinor, 4);
  }
}

TEST(DevInfo, CapabilitiesFollowTheMajorVersion) {
  const struct {
    std::int32_t major;
    bool codeSize, byteOrder, readConfig;
  } cases[] = {
      {0, false, false, false}, {2, false, false, false}, {3, true, false, false},
      {4, true, true, false},   {5, true, true, true},    {2147483647, true, true, true},
  };
  for (const auto& c : cases) {
    TDevInfo dev;
    dev.verMajor = c.major;
    EXPECT_EQ(dev.AllowCodeSizeChange(), c.codeSize) << c.major;
    EXPECT_EQ(dev.AllowByteOrderChange(), c.byteOrder) << c.major;
    EXPECT_EQ(dev.AllowReadConfig(), c.readConfig) << c.major;
  }
}

TEST(DevInfo, ClearLeavesModeOneAndKeepsEmissionPrior) {
  TDevInfo dev;
  dev.UpdateFromVerInfo("v5.1");
  dev.mode = 0;
  dev.EmissionPrior = 1;
  dev.Clear();
  EXPECT_TRUE(dev.verInfo.empty());
  EXPECT_FALSE(dev.IsValid());
  EXPECT_EQ(dev.verMajor, 0);
  EXPECT_EQ(dev.verMinor, 0);
  EXPECT_EQ(dev.mode, 1);
  EXPECT_EQ(dev.EmissionPrior, 1);
}

TEST(HexRoutines, BytesToHexTrimmedAndReverse) {
  EXPECT_EQ(BytesToHex(Bytes{}), "");
  EXPECT_EQ(BytesToHex(Bytes{0x00, 0xAB, 0x0F}), "00AB0F");
  const struct {
    Bytes in;
    const char* out;
  } cases[] = {
      {{0x00, 0x00, 0x0A, 0x01}, "0A01"},
      {{0x00, 0x00}, "00"},
      {{}, "00"},
      {{0x0A, 0x00}, "0A00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BytesToHexTrimmed(c.in), c.out);
  Bytes data{1, 2, 3, 4, 5};
  ReverseBytes(data.data() + 1, 3);
  EXPECT_EQ(data, (Bytes{1, 4, 3, 2, 5}));
  ReverseBytes(data);
  EXPECT_EQ(data, (Bytes{5, 2, 3, 4, 1}));
  ReverseBytes(data.data(), 0);
  EXPECT_EQ(data, (Bytes{5, 2, 3, 4, 1}));
}

}  // namespace
}  // namespace kiren
