// What the reader reports after a card-code write: its card-content answers computed from its
// emission parameters, and the fault switches that make a write or the reader's view of the
// card go wrong while every status word says "done".
#include <gtest/gtest.h>

#include <string>

#include "protocol/card_content.h"
#include "sim/card.h"
#include "sim/console.h"
#include "sim_fixture.h"

namespace kiren::sim {
namespace {

const TKey kFF = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const TKey kKeyA = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
const TKey kKeyB = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
const TBlock kCode = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                      0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
const std::string kHead = "=== КОД КАРТЫ ===\r\n";

class ReaderView : public test::SimProtocolTest {
 protected:
  TStatus Write(std::uint8_t ABlock, const TBlock& AData, std::uint8_t AType, const TKey& AKey) {
    TStatus st;
    EXPECT_EQ(P.LoadKey(AType, AKey, st), kResOk);
    EXPECT_EQ(P.WriteBlock(ABlock, AData, AType, st), kResOk);
    return st;
  }
  TBlock Read(std::uint8_t ABlock, std::uint8_t AType, const TKey& AKey) {
    TStatus st;
    TBlock data{};
    EXPECT_EQ(P.LoadKey(AType, AKey, st), kResOk);
    EXPECT_EQ(P.ReadBlock(ABlock, AType, st, data), kResOk);
    EXPECT_FALSE(st.HasError());
    return data;
  }
  // The card-code write of the tool: the code block, then the trailer with new keys and
  // 78 77 88.
  void WriteCardCode() {
    EXPECT_FALSE(Write(4, kCode, kKeyTypeA, kFF).HasError());
    TBlock trailer{};
    std::copy(kKeyA.begin(), kKeyA.end(), trailer.begin());
    trailer[6] = 0x78, trailer[7] = 0x77, trailer[8] = 0x88;
    std::copy(kKeyB.begin(), kKeyB.end(), trailer.begin() + 10);
    EXPECT_FALSE(Write(7, trailer, kKeyTypeA, kFF).HasError());
  }
  void SetEmission(std::uint8_t ABlock, std::uint8_t AOffset, std::uint8_t ASize,
                   std::uint8_t AOrder, const TKey& AKey) {
    TPercoPars pars;
    pars.key = AKey;
    pars.blockNo = ABlock;
    pars.offset = AOffset;
    pars.size = ASize;
    pars.lbs = AOrder;
    TStatus st;
    ASSERT_EQ(P.SetupPerco(pars, st), kResOk);
    ASSERT_FALSE(st.HasError());
  }
};

// Block, offset, size, byte order and key of 0x51 decide what both content answers report; a
// key that does not open the sector gives the authentication error a reader reports.
TEST_F(ReaderView, ContentAnswersFollowTheEmissionParameters) {
  S.Firmware.PutCard(NewClassic1K());
  WriteCardCode();
  struct TCase {
    const char* Name;
    std::uint8_t Block, Offset, Size, Order;
    TKey Key;
    std::string Ex, Short;
  };
  const TCase cases[] = {
      {.Name = "as written",
       .Block = 4,
       .Offset = 0,
       .Size = 5,
       .Order = 0,
       .Key = kKeyA,
       .Ex = kHead + "0102030405",
       .Short = kHead + "0102030405"},
      {.Name = "key B",
       .Block = 4,
       .Offset = 0,
       .Size = 5,
       .Order = 0,
       .Key = kKeyB,
       .Ex = kHead + "0102030405",
       .Short = kHead + "0102030405"},
      {.Name = "offset",
       .Block = 4,
       .Offset = 11,
       .Size = 5,
       .Order = 0,
       .Key = kKeyA,
       .Ex = kHead + "0C0D0E0F10",
       .Short = kHead + "0C0D0E0F10"},
      {.Name = "byte order",
       .Block = 4,
       .Offset = 0,
       .Size = 5,
       .Order = 1,
       .Key = kKeyA,
       .Ex = kHead + "0504030201",
       .Short = kHead + "0504030201"},
      {.Name = "fewer bytes",
       .Block = 4,
       .Offset = 0,
       .Size = 3,
       .Order = 0,
       .Key = kKeyA,
       .Ex = kHead + "010203",
       .Short = kHead + "0000010203"},
      {.Name = "another block",
       .Block = 5,
       .Offset = 0,
       .Size = 5,
       .Order = 0,
       .Key = kKeyA,
       .Ex = kHead + "0000000000",
       .Short = kHead + "0000000000"},
      {.Name = "old key",
       .Block = 4,
       .Offset = 0,
       .Size = 5,
       .Order = 0,
       .Key = kFF,
       .Ex = kHead + "Ошибка. Код: 2",
       .Short = "Ошибка. Код: 2"},
      {.Name = "no such block",
       .Block = 64,
       .Offset = 0,
       .Size = 5,
       .Order = 0,
       .Key = kKeyA,
       .Ex = kHead + "Ошибка. Код: 1",
       .Short = "Ошибка. Код: 1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    SetEmission(c.Block, c.Offset, c.Size, c.Order, c.Key);
    EXPECT_EQ(InfoEx(), c.Ex);
    EXPECT_EQ(InfoShort(5), c.Short);
  }
}

// Each write switch answers 0001 and leaves the card as the switch says; with a count, only
// the first write (the code block) is hit and the trailer write goes through.
TEST_F(ReaderView, WritesAcknowledgedButNotOrPartlyStored) {
  struct TCase {
    const char* Name;
    TFaults Faults;
    TBlock Stored;
    TKey KeyAfter;  // key A of the sector once the trailer write was hit too
  };
  TFaults noStore;
  noStore.WriteNotStored = true;
  TFaults partial;
  partial.WritePartial = 6;
  const TCase cases[] = {
      {.Name = "not stored", .Faults = noStore, .Stored = TBlock{}, .KeyAfter = kFF},
      // The first six trailer bytes are key A: the new key took, the access bytes did not.
      {.Name = "partly stored", .Faults = partial, .Stored = {1, 2, 3, 4, 5, 6}, .KeyAfter = kKeyA},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    S.Firmware.PutCard(NewClassic1K());
    TFaults once = c.Faults;
    once.Count = 1;
    S.Firmware.SetFaults(once);
    WriteCardCode();
    EXPECT_EQ(Read(4, kKeyTypeA, kKeyA), c.Stored);  // the trailer write did take
    EXPECT_EQ(S.Firmware.Faults().Count, 0);

    // Without a count every block write is hit, trailers too.
    S.Firmware.PutCard(NewClassic1K());
    S.Firmware.SetFaults(c.Faults);
    WriteCardCode();
    S.Firmware.SetFaults({});
    EXPECT_EQ(Read(4, kKeyTypeA, c.KeyAfter), c.Stored);
    EXPECT_EQ(Read(7, kKeyTypeA, c.KeyAfter)[6], 0xFF);  // still the transport access bytes
  }
}

// A reader whose settings did not take: 0x21 reports the parameters it was given, the content
// answers come from another block or with another key.
TEST_F(ReaderView, EmissionSwitchesPointTheReaderElsewhere) {
  S.Firmware.PutCard(NewClassic1K());
  WriteCardCode();
  SetEmission(4, 0, 5, 0, kKeyA);
  ASSERT_EQ(InfoEx(), kHead + "0102030405");

  TFaults f;
  f.EmissionBlock = 5;
  S.Firmware.SetFaults(f);
  EXPECT_EQ(InfoEx(), kHead + "0000000000");
  TConfig config;
  ASSERT_EQ(P.GetConfig(config), kResOk);
  EXPECT_EQ(config.at(81), (std::vector<std::string>{"4", "0", "5", "0"}));

  f = {};
  f.EmissionKey = TKey6{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  S.Firmware.SetFaults(f);
  EXPECT_EQ(InfoEx(), kHead + "Ошибка. Код: 2");
  EXPECT_EQ(S.Firmware.EmissionParams().Key, (TKey6{0x11, 0x12, 0x13, 0x14, 0x15, 0x16}));
  S.Firmware.SetFaults({});
  EXPECT_EQ(InfoEx(), kHead + "0102030405");
}

// The console reaches every one of these switches and the emission parameters.
TEST(ReaderViewConsole, SwitchesAndEmissionParameters) {
  TFirmware fw;
  TConsole console(fw, nullptr);
  bool quit = false;
  auto run = [&](const std::string& ALine) { return console.Execute(ALine, quit); };
  EXPECT_EQ(run("fault nostore on"), "ok: fault nostore on\n");
  EXPECT_EQ(run("fault partial 8"), "ok: fault partial 8\n");
  EXPECT_EQ(run("fault emission-block 8"), "ok: fault emission-block 8\n");
  EXPECT_EQ(run("fault emission-key A0A1A2A3A4A5"), "ok: fault emission-key A0A1A2A3A4A5\n");
  TFaults f = fw.Faults();
  EXPECT_TRUE(f.WriteNotStored);
  EXPECT_EQ(f.WritePartial, 8);
  EXPECT_EQ(f.EmissionBlock, 8);
  EXPECT_EQ(f.EmissionKey, (TKey6{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
  EXPECT_NE(run("fault").find("nostore=1 partial=8 emission-block=8 emission-key=A0A1A2A3A4A5"),
            std::string::npos);
  run("fault partial off");
  run("fault emission-block off");
  run("fault emission-key off");
  f = fw.Faults();
  EXPECT_EQ(f.WritePartial, 0);
  EXPECT_EQ(f.EmissionBlock, -1);
  EXPECT_FALSE(f.EmissionKey);
  run("fault off");
  EXPECT_FALSE(fw.Faults().Any());

  EXPECT_EQ(run("emission 8 2 4 1 B0B1B2B3B4B5"),
            "ok: emission block 8 offset 2 size 4 order 1 key B0B1B2B3B4B5\n");
  const TEmissionParams p = fw.EmissionParams();
  EXPECT_EQ(p.BlockNo, 8);
  EXPECT_EQ(p.Offset, 2);
  EXPECT_EQ(p.Size, 4);
  EXPECT_EQ(p.Lbs, 1);
  EXPECT_EQ(p.Key, (TKey6{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}));
  for (const char* bad : {"fault partial 16", "fault partial x", "fault emission-block 256",
                          "fault emission-key FF", "emission 4 0 11 0", "emission 4 12 5 0",
                          "emission 4 0 5 2", "emission 4 0 5 0 XYZ", "emission 4"}) {
    EXPECT_EQ(run(bad).rfind("error: ", 0), 0u) << bad;
  }
  EXPECT_EQ(fw.EmissionParams(), p);
}

}  // namespace
}  // namespace kiren::sim
