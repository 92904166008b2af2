#include <gtest/gtest.h>

#include "sim/card.h"

namespace kiren::sim {
namespace {

TEST(AccessBits, KnownSettingsAndRoundTrip) {
  const auto transport = TAccessBits::Decode(0xFF, 0x07, 0x80);
  ASSERT_TRUE(transport);
  EXPECT_EQ(transport->C, (std::array<std::uint8_t, 4>{0, 0, 0, 1}));
  const auto secured = TAccessBits::Decode(0x78, 0x77, 0x88);
  ASSERT_TRUE(secured);
  EXPECT_EQ(secured->C, (std::array<std::uint8_t, 4>{4, 4, 4, 3}));
  EXPECT_FALSE(TAccessBits::Decode(0xFF, 0x07, 0x81));

  for (int v = 0; v < 8 * 8 * 8 * 8; ++v) {
    TAccessBits bits;
    for (int i = 0; i < 4; ++i)
      bits.C[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (3 * i) & 7);
    const auto bytes = bits.Encode();
    const auto back = TAccessBits::Decode(bytes[0], bytes[1], bytes[2]);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->C, bits.C);
  }
}

TEST(CardModel, TransportCardAndKeyBThatCanBeRead) {
  TCard card = NewClassic1K({0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(card.BlockCount(), 64);
  EXPECT_EQ(card.RawBlock(0)[4], 0x01 ^ 0x02 ^ 0x03 ^ 0x04);  // BCC
  const TBlock16 data = {1, 2, 3};
  TBlock16 out{};
  EXPECT_EQ(card.Write(4, TKeySlot::A, kTransportKey, data), TAccessResult::Ok);
  // Key B is readable in the transport setting, so it grants nothing.
  EXPECT_EQ(card.Write(4, TKeySlot::B, kTransportKey, data), TAccessResult::Denied);
  EXPECT_EQ(card.Read(4, TKeySlot::A, {1, 2, 3, 4, 5, 6}, out), TAccessResult::AuthFailed);
  EXPECT_EQ(card.Read(7, TKeySlot::A, kTransportKey, out), TAccessResult::Ok);
  const TBlock16 shown = {0,    0,    0,    0,    0,    0,    0xFF, 0x07,
                          0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(out, shown);
}

TEST(CardModel, TrailerWritesKeepForbiddenPartsAndRefuseBrokenAccessBits) {
  TCard card = WrittenClassic1K();
  TBlock16 t{};
  t.fill(0x33);
  // Key A may neither write the trailer under 011 ...
  EXPECT_EQ(card.Write(7, TKeySlot::A, kWrittenKeyA, t), TAccessResult::Denied);
  // ... and inconsistent access bits would lock the sector: refused.
  EXPECT_EQ(card.Write(7, TKeySlot::B, kWrittenKeyB, t), TAccessResult::Denied);
  EXPECT_EQ(card.RawBlock(7)[0], kWrittenKeyA[0]);

  // Under 100 (key B writes keys, nobody writes access bits) only the keys change.
  card.SetTrailer(1, kWrittenKeyA, {0x78, 0x77, 0x88, 0x00}, kWrittenKeyB);
  TAccessBits frozen;
  frozen.C = {0, 0, 0, 4};
  const auto fb = frozen.Encode();
  card.SetTrailer(1, kWrittenKeyA, {fb[0], fb[1], fb[2], 0x00}, kWrittenKeyB);
  const auto open = TAccessBits{}.Encode();
  TBlock16 next = {9, 9, 9, 9, 9, 9, open[0], open[1], open[2], 0, 8, 8, 8, 8, 8, 8};
  EXPECT_EQ(card.Write(7, TKeySlot::B, kWrittenKeyB, next), TAccessResult::Ok);
  const TBlock16& raw = card.RawBlock(7);
  EXPECT_EQ(raw[0], 9);
  EXPECT_EQ(raw[6], fb[0]);
  EXPECT_EQ(raw[10], 8);
}

// Access bytes whose inverted copies disagree block the sector for good: nothing in it can be
// read or written, the trailer included, with either key; a wrong key still fails to
// authenticate first.
TEST(CardModel, InconsistentAccessBytesBlockTheWholeSector) {
  TCard card = NewClassic1K();
  card.SetRawBlock(5, {0x42});
  card.SetTrailer(1, kTransportKey, {0xFF, 0x17, 0x80, 0x69}, kWrittenKeyB);
  TBlock16 out{};
  for (int block : {4, 5, 7}) {
    SCOPED_TRACE(block);
    for (auto [slot, key] : {std::pair{TKeySlot::A, kTransportKey}, {TKeySlot::B, kWrittenKeyB}}) {
      EXPECT_EQ(card.Read(block, slot, key, out), TAccessResult::Denied);
      EXPECT_EQ(card.Write(block, slot, key, TBlock16{1}), TAccessResult::Denied);
    }
    EXPECT_EQ(card.Read(block, TKeySlot::A, kWrittenKeyA, out), TAccessResult::AuthFailed);
  }
  EXPECT_EQ(card.RawBlock(5)[0], 0x42);
  EXPECT_EQ(card.Read(8, TKeySlot::A, kTransportKey, out), TAccessResult::Ok);  // next sector
}

TEST(CardModel, LargeSectorsOf4KUseGroupsOfFiveBlocks) {
  TCard card = NewClassic4K();
  EXPECT_EQ(card.BlockCount(), 256);
  EXPECT_EQ(TCard::TrailerOf(TCard::SectorOf(200)), 207);
  TAccessBits bits;
  bits.C = {0, 7, 0, 1};  // blocks 5..9 of the sector locked
  const auto b = bits.Encode();
  card.SetTrailer(32, kTransportKey, {b[0], b[1], b[2], 0x69}, kTransportKey);
  TBlock16 out{};
  EXPECT_EQ(card.Read(128 + 4, TKeySlot::A, kTransportKey, out), TAccessResult::Ok);
  EXPECT_EQ(card.Read(128 + 5, TKeySlot::A, kTransportKey, out), TAccessResult::Denied);
  EXPECT_EQ(card.Read(128 + 10, TKeySlot::A, kTransportKey, out), TAccessResult::Ok);
}

TEST(IssuedLayout, EncodeDecodeRoundTrip) {
  TIssuedLayout l;
  l.Layout = TIssueLayout::UserValue;
  l.Emitent = 0x01020304;
  l.Emission = 0x0506;
  l.Value = 0xFFFFFFFF;
  l.UserData = {0xAB, 0xCD};
  const auto blocks = l.Encode();
  const auto back = TIssuedLayout::Decode(blocks[0], blocks[1], blocks[2]);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Layout, l.Layout);
  EXPECT_EQ(back->Emitent, l.Emitent);
  EXPECT_EQ(back->Emission, l.Emission);
  EXPECT_EQ(back->Value, l.Value);
  EXPECT_EQ(back->UserData, l.UserData);
  EXPECT_FALSE(TIssuedLayout::Decode({}, {}, {}));
  EXPECT_FALSE(ParseValueBlock(TBlock16{1}));
}

}  // namespace
}  // namespace kiren::sim
