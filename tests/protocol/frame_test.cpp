#include "protocol/frame.h"
#include "protocol/crc.h"

#include <gtest/gtest.h>

#include <random>

namespace kiren {
namespace {

// Independent reference: CRC-16/CCITT-FALSE computed bit by bit.
std::uint16_t BitwiseCrc(const Bytes& AData) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : AData) {
    crc ^= std::uint16_t(b << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
  }
  return crc;
}

Bytes Ascii(const std::string& AText) {
  return Bytes(AText.begin(), AText.end());
}

TEST(Crc, CheckValueAndEmptyRange) {
  EXPECT_EQ(CalcCRC16(Ascii("123456789"), 1, 0), 0x29B1);
  EXPECT_EQ(CalcCRC16(Bytes{}, 1, 0), 0xFFFF);
  EXPECT_EQ(CRC16Str(Ascii("123456789")), (Bytes{0x29, 0xB1}));
}

TEST(Crc, StartAndCountSelectTheRange) {
  const Bytes data = Ascii("xx123456789yy");
  EXPECT_EQ(CalcCRC16(data, 3, 9), 0x29B1);
  EXPECT_EQ(CalcCRC16(Ascii("xx123456789"), 3, 0), 0x29B1);    // count 0: to the end
  EXPECT_EQ(CalcCRC16(Ascii("xx123456789"), 3, -5), 0x29B1);   // negative: to the end
  EXPECT_EQ(CalcCRC16(Ascii("xx123456789"), 3, 100), 0x29B1);  // past the end: to the end
  EXPECT_EQ(CalcCRC16(data, 100, 5), 0xFFFF);                  // start past the end
}

TEST(Crc, TableAgreesWithBitwiseReferenceOnRandomBuffers) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> len(0, 140), byte(0, 255);
  for (int i = 0; i < 3000; ++i) {
    Bytes data(std::size_t(len(rng)));
    for (auto& b : data)
      b = std::uint8_t(byte(rng));
    ASSERT_EQ(CalcCRC16(data, 1, 0), BitwiseCrc(data)) << i;
    if (data.empty()) continue;  // a bare CRC is too short to check
    Bytes framed = data;
    const Bytes crc = CRC16Str(data);
    framed.insert(framed.end(), crc.begin(), crc.end());
    ASSERT_TRUE(CheckCRC16(framed, 1, 0));
    framed[std::size_t(byte(rng)) % framed.size()] ^= std::uint8_t(1 + byte(rng) % 255);
    ASSERT_FALSE(CheckCRC16(framed, 1, 0)) << i;  // a single damaged byte is always caught
  }
}

TEST(Crc, CheckNeedsMoreThanTwoBytes) {
  EXPECT_FALSE(CheckCRC16(Bytes{}, 1, 0));
  EXPECT_FALSE(CheckCRC16(Bytes{0xFF, 0xFF}, 1, 0));  // the CRC of nothing, yet refused
  EXPECT_TRUE(CheckCRC16(Bytes{0xA0, 0x54, 0x1A}, 1, 0));
}

struct TWorkedFrame {
  Bytes cmd;
  std::uint16_t crc;
  Bytes wire;
};

TEST(Frame, WorkedFramesByteForByte) {
  const TWorkedFrame frames[] = {
      {{0xFE}, 0xEF21, {0xFE, 0x04, 0xFF, 0x01, 0xEF, 0x21}},
      {{0xFF}, 0xFF00, {0xFE, 0x05, 0xFF, 0x00, 0xFF, 0x00, 0x00}},
      {{0xA0}, 0x541A, {0xFE, 0x03, 0xA0, 0x54, 0x1A}},
      {{0x55}, 0xEBA0, {0xFE, 0x03, 0x55, 0xEB, 0xA0}},
      {{0x52, 0x02}, 0x5590, {0xFE, 0x04, 0x52, 0x02, 0x55, 0x90}},
      {{0xA2, 0x04, 0xAA}, 0xC704, {0xFE, 0x05, 0xA2, 0x04, 0xAA, 0xC7, 0x04}},
      {{}, 0xFFFF, {0xFE, 0x04, 0xFF, 0x00, 0xFF, 0x00}},
  };
  for (const auto& f : frames) {
    EXPECT_EQ(CalcCRC16(f.cmd, 1, 0), f.crc);
    EXPECT_EQ(TBuilder::Finalize(f.cmd), f.wire);
    Bytes block;
    ASSERT_TRUE(TParser::CheckAnswer(f.wire, int(f.wire.size()), block));
    Bytes expected = f.cmd;
    expected.push_back(std::uint8_t(f.crc >> 8));
    expected.push_back(std::uint8_t(f.crc & 0xFF));
    EXPECT_EQ(block, expected);
    EXPECT_EQ(TParser::CheckCRC(block), !f.cmd.empty());
  }
}

TEST(Frame, RandomBodiesSurviveTheRoundTrip) {
  std::mt19937 rng(777);
  std::uniform_int_distribution<int> len(1, 60), byte(0, 255);
  for (int i = 0; i < 2000; ++i) {
    Bytes cmd(std::size_t(len(rng)));
    for (auto& b : cmd)
      b = std::uint8_t(i % 3 ? byte(rng) : 0xFE + byte(rng) % 2);
    const Bytes wire = TBuilder::Finalize(cmd);
    ASSERT_EQ(std::count(wire.begin(), wire.end(), 0xFE), 1);
    ASSERT_EQ(wire[1], wire.size() - 2);
    Bytes block;
    if (wire[1] > kFrameMaxLength) {
      ASSERT_FALSE(TParser::CheckAnswer(wire, int(wire.size()), block));
      continue;
    }
    ASSERT_TRUE(TParser::CheckAnswer(wire, int(wire.size()), block));
    ASSERT_TRUE(TParser::CheckCRC(block));
    ASSERT_EQ(Bytes(block.begin(), block.end() - 2), cmd);
  }
}

TEST(Frame, StuffingKeepsTheBytesBeforeStartPos) {
  const Bytes data{0xFE, 0xFF, 0x01, 0xFE};
  EXPECT_EQ(TBuilder::Stuffing(data, 3), (Bytes{0xFE, 0xFF, 0x01, 0xFF, 0x01}));
  EXPECT_EQ(TBuilder::Stuffing(data, 1), (Bytes{0xFF, 0x01, 0xFF, 0x00, 0x01, 0xFF, 0x01}));
  EXPECT_EQ(TBuilder::Stuffing(data, -4), TBuilder::Stuffing(data, 1));
  EXPECT_EQ(TBuilder::Stuffing(data, 99), data);
  EXPECT_EQ(TBuilder::Stuffing(Bytes{}, 1), Bytes{});
}

Bytes Padded(Bytes AData, std::size_t ASize) {
  AData.resize(ASize, 0x00);
  return AData;
}

constexpr int kWhole = -1000;  // Size: the whole buffer

struct TAnswerCase {
  const char* name;
  Bytes rx;
  int size;
  bool complete;
  Bytes block;
  bool crcOk;
};

TEST(Parser, CheckAnswerCases) {
  const TAnswerCase cases[] = {
      {"plain", {0xFE, 0x03, 0xA0, 0x54, 0x1A}, kWhole, true, {0xA0, 0x54, 0x1A}, true},
      {"noise before FE",
       {0x00, 0x12, 0xFE, 0x03, 0xA0, 0x54, 0x1A},
       7,
       true,
       {0xA0, 0x54, 0x1A},
       true},
      {"no FE", {0x00, 0x03, 0xA0, 0x54, 0x1A}, kWhole, false, {}, false},
      {"FE last", {0x00, 0x12, 0xFE}, kWhole, false, {}, false},
      {"incomplete", {0xFE, 0x03, 0xA0, 0x54}, kWhole, false, {}, false},
      {"rest not yet counted", {0xFE, 0x03, 0xA0, 0x54, 0x1A}, 4, false, {}, false},
      {"length 0", {0xFE, 0x00, 0xA0, 0x54, 0x1A}, kWhole, false, {}, false},
      {"length 1", {0xFE, 0x01, 0xA0, 0x54, 0x1A}, kWhole, false, {}, false},
      {"length 129", Padded({0xFE, 129}, 140), kWhole, false, {}, false},
      {"length 2", {0xFE, 0x02, 0xA0, 0x54}, kWhole, true, {0xA0, 0x54}, false},
      {"trailing bytes",
       {0xFE, 0x03, 0xA0, 0x54, 0x1A, 0x33},
       kWhole,
       true,
       {0xA0, 0x54, 0x1A, 0x33},
       false},
      {"escaped body",
       {0xFE, 0x04, 0xFF, 0x01, 0xEF, 0x21},
       kWhole,
       true,
       {0xFE, 0xEF, 0x21},
       true},
      {"size beyond buffer", {0xFE, 0x03, 0xA0, 0x54, 0x1A}, 1000, true, {0xA0, 0x54, 0x1A}, true},
      {"size zero", {0xFE, 0x03, 0xA0, 0x54, 0x1A}, 0, false, {}, false},
      {"size negative", {0xFE, 0x03, 0xA0, 0x54, 0x1A}, -7, false, {}, false},
  };
  for (const auto& c : cases) {
    const int size = c.size == kWhole ? int(c.rx.size()) : c.size;
    Bytes block{0x99};
    EXPECT_EQ(TParser::CheckAnswer(c.rx, size, block), c.complete) << c.name;
    EXPECT_EQ(block, c.block) << c.name;
    EXPECT_EQ(TParser::CheckCRC(block), c.crcOk) << c.name;
  }
}

TEST(Parser, LongestFrameIsAccepted) {
  Bytes rx{0xFE, 128};
  rx.resize(130, 0x11);
  Bytes block;
  EXPECT_TRUE(TParser::CheckAnswer(rx, 130, block));
  EXPECT_EQ(block.size(), 128u);
  EXPECT_FALSE(TParser::CheckAnswer(rx, 129, block));
}

struct TUnstuffCase {
  Bytes in;
  Bytes out;
};

TEST(Parser, UnStuffingCases) {
  const TUnstuffCase cases[] = {
      {{0xFF, 0x00}, {0xFF}},
      {{0xFF, 0x01}, {0xFE}},
      {{0x01, 0xFF, 0x02, 0x03}, {0x01, 0x02, 0x03}},
      {{0xFF, 0xFF, 0x00}, {0xFF}},
      {{0xFF, 0xFF, 0x01, 0x05}, {0xFE, 0x05}},
      {{0x05, 0xFF}, {0x05}},
      {{0xFF}, {}},
      {{}, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TParser::UnStuffing(c.in, int(c.in.size()), 1, true), c.out)
        << testing::PrintToString(c.in);
}

TEST(Parser, UnStuffingLimitAndLeftPart) {
  const Bytes data{0x10, 0xFF, 0x20, 0xFF, 0x00, 0xFF, 0x01};
  EXPECT_EQ(TParser::UnStuffing(data, 7, 3, true), (Bytes{0x20, 0xFF, 0xFE}));
  EXPECT_EQ(TParser::UnStuffing(data, 7, 3, false), (Bytes{0x10, 0xFF, 0x20, 0xFF, 0xFE}));
  EXPECT_EQ(TParser::UnStuffing(data, 4, 3, true), (Bytes{0x20}));  // FF at the limit dropped
  EXPECT_EQ(TParser::UnStuffing(data, 100, 3, true), (Bytes{0x20, 0xFF, 0xFE}));
  EXPECT_EQ(TParser::UnStuffing(data, 7, 50, false), data);
}

TEST(Parser, CursorReaders) {
  const Bytes data{0x12, 0x34, 0x56, 0x78, 0x9A};
  const std::uint8_t* p = data.data();
  EXPECT_EQ(TParser::_GetWord(p), 0x1234);
  EXPECT_EQ(TParser::GetWord(p), 0x1234);
  EXPECT_EQ(TParser::GetByte(p), 0x56);
  std::uint8_t buf[2] = {};
  TParser::GetBuf(p, buf, 2);
  EXPECT_EQ(buf[0], 0x78);
  EXPECT_EQ(buf[1], 0x9A);
  EXPECT_EQ(p, data.data() + 5);
  TParser::_GetBuf(data.data(), buf, 1);
  EXPECT_EQ(buf[0], 0x12);
}

}  // namespace
}  // namespace kiren
