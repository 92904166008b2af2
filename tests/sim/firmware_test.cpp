#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/codepage.h"
#include "base/message_sink.h"
#include "protocol/card_content.h"
#include "protocol/crc.h"
#include "sim/card.h"
#include "sim_fixture.h"

namespace kiren::sim {
namespace {

using test::TSimProtocol;

constexpr TKey kFF = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const TKey kNewKeyA = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
const TKey kNewKeyB = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};

// Fails the test on any warning box (the issuing parameters here are all valid).
class TNoWarnings : public IMessageSink {
 public:
  void Info(const std::string&) override {}
  void Warning(const std::string& AText) override { ADD_FAILURE() << "warning: " << AText; }
  bool Question(const std::string&, const std::string&) override { return false; }
};

class FirmwareTest : public test::SimProtocolTest {
 protected:
  void SetUp() override { FOldSink = SetMessageSink(std::make_shared<TNoWarnings>()); }
  void TearDown() override { SetMessageSink(FOldSink); }

  std::shared_ptr<IMessageSink> FOldSink;

  TStatus Load(std::uint8_t AType, const TKey& AKey) {
    TStatus st;
    EXPECT_EQ(P.LoadKey(AType, AKey, st), kResOk);
    return st;
  }
  TStatus Write(std::uint8_t ABlock, const TBlock& AData, std::uint8_t AType, const TKey& AKey) {
    Load(AType, AKey);
    TStatus st;
    EXPECT_EQ(P.WriteBlock(ABlock, AData, AType, st), kResOk);
    return st;
  }
  TStatus Read(std::uint8_t ABlock, std::uint8_t AType, const TKey& AKey, TBlock& AData) {
    Load(AType, AKey);
    TStatus st;
    EXPECT_EQ(P.ReadBlock(ABlock, AType, st, AData), kResOk);
    return st;
  }
};

TEST_F(FirmwareTest, VersionStatusAndCardIdentity) {
  std::string ver;
  EXPECT_EQ(P.GetVer(ver), kResOk);
  EXPECT_EQ(ver, "Kiren-M1 v5.3");
  S.Firmware.SetVersion("Кирен-М1 v6.02");
  EXPECT_EQ(P.GetVer(ver), kResOk);
  EXPECT_EQ(ver, "Кирен-М1 v6.02");

  TStatus st;
  EXPECT_EQ(P.GetStatus(st), kResOk);
  EXPECT_EQ(st.data, 0x0001);
  TCardInfo none;
  EXPECT_EQ(P.GetCardInfo(none), kResOk);
  EXPECT_FALSE(none.status.CardPresent());

  struct TCase {
    TCard Card;
    const char* Name;
    const char* Uid;
  };
  const TCase cases[] = {
      {NewClassic1K(), "Mifare Classic 1K", "A1B2C3D4"},
      {NewClassic4K(), "Mifare Classic 4K", "5E6F7A8B"},
      {NewMini(), "Mifare Mini", "A1B2C3D4"},
      {NewPlusS1K({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}), "Mifare Plus S 1K",
       "01020304050607"},
      {NewUltralight(), "Mifare Ultralight", "04112233445566"},
      {NewDESFire(), "DESFire, -EV1, -ISO", "045A6B7C8D9E80"},
  };
  for (const TCase& c : cases) {
    S.Firmware.PutCard(c.Card);
    EXPECT_EQ(P.GetStatus(st), kResOk);
    EXPECT_EQ(st.data, 0x8001);
    TCardInfo info;
    EXPECT_EQ(P.GetCardInfo(info), kResOk);
    EXPECT_TRUE(info.status.CardPresent());
    EXPECT_EQ(info.CardType(), c.Name);
    EXPECT_EQ(info.UIDStr(), c.Uid);
  }
  S.Firmware.RemoveCard();
  EXPECT_EQ(P.GetStatus(st), kResOk);
  EXPECT_EQ(st.data, 0x0001);
}

TEST_F(FirmwareTest, CardCodeWriteSecuresTheSectorForKeyB) {
  S.Firmware.PutCard(NewClassic1K());
  const TBlock code = {0x00, 0x00, 0x01, 0x02, 0x03};
  EXPECT_FALSE(Write(5, code, kKeyTypeA, kFF).HasError());
  TBlock trailer{};
  std::copy(kNewKeyA.begin(), kNewKeyA.end(), trailer.begin());
  trailer[6] = 0x78, trailer[7] = 0x77, trailer[8] = 0x88, trailer[9] = 0x00;
  std::copy(kNewKeyB.begin(), kNewKeyB.end(), trailer.begin() + 10);
  EXPECT_FALSE(Write(7, trailer, kKeyTypeA, kFF).HasError());

  // The old key no longer opens the sector; the next card-code write fails with key type AA
  // (the new key B is no key A) and goes through with BB.
  EXPECT_EQ(Write(5, code, kKeyTypeA, kFF).data, TStatus::kAuthError);
  const TStatus refused = Write(5, code, kKeyTypeA, kNewKeyB);
  EXPECT_TRUE(refused.HasError());
  EXPECT_EQ(refused.Error(), "Ошибка аутентификации");
  EXPECT_FALSE(Write(5, code, kKeyTypeB, kNewKeyB).HasError());
  // Key A authenticates but may only read under 78 77 88.
  const TStatus denied = Write(5, code, kKeyTypeA, kNewKeyA);
  EXPECT_EQ(denied.Error(), "Команда не выполнена");

  TBlock data{};
  EXPECT_FALSE(Read(5, kKeyTypeA, kNewKeyA, data).HasError());
  EXPECT_EQ(data, code);
  // A trailer read hides key A and the unreadable key B.
  EXPECT_FALSE(Read(7, kKeyTypeB, kNewKeyB, data).HasError());
  const TBlock shown = {0, 0, 0, 0, 0, 0, 0x78, 0x77, 0x88, 0x00};
  EXPECT_EQ(data, shown);
  // A second trailer write with key B is possible (the retry path of the tool).
  EXPECT_FALSE(Write(7, trailer, kKeyTypeB, kNewKeyB).HasError());
}

TEST_F(FirmwareTest, BlockCommandsWithoutCardOrClassicMemoryAreNotExecuted) {
  TBlock data{};
  EXPECT_EQ(Read(4, kKeyTypeA, kFF, data).data, 0x0000);
  S.Firmware.PutCard(NewUltralight());
  EXPECT_EQ(Read(4, kKeyTypeA, kFF, data).data, 0x0000);
  EXPECT_EQ(Write(4, data, kKeyTypeA, kFF).data, 0x0000);
  S.Firmware.PutCard(NewClassic1K());
  EXPECT_EQ(Read(64, kKeyTypeA, kFF, data).data, 0x0000);  // past the last block
  EXPECT_EQ(Write(0, data, kKeyTypeA, kFF).data, 0x0000);  // manufacturer block
  TStatus st;
  EXPECT_EQ(P.LoadKey(0x00, kFF, st), kResOk);
  EXPECT_EQ(st.data, 0x0000);
  EXPECT_EQ(Read(4, kKeyTypeA, kFF, data).data, 0x0001);
}

// Issues a fresh card in each layout and reads it back in both card-content forms.
TEST_F(FirmwareTest, IssuedLayoutsReadBackInBothForms) {
  const std::string sorvel =
      "=== СОРВЕЛ ===\r\nКод карты: 0000000100-000072712847316\r\nЭмитент: 0x00000064\r\n"
      "Эмиссия: 0x0007\r\nID: 0xD4C3B2A1";
  const std::string counterShort = "\r\n=== СЧЕТЧИК ===\r\nFFFFFFFF";
  const std::string code = "=== КОД КАРТЫ ===\r\n";
  struct TCase {
    int Layout;
    const char* Preset;
    std::string Short, Ex;
  };
  const TCase cases[] = {
      {1, "sorvel", sorvel, sorvel},
      {2, "devu", code + "00A1B2C3D4" + counterShort, code + "00A1B2C3D4" + counterShort + "\r\n"},
      {3, "combined", sorvel + counterShort, sorvel + counterShort + "\r\n"},
      {4, "user", code + "0102030405060708090A", code + "0102030405060708090A"},
      {5, "user-value", "Карта c value-блоком\r\n" + code + "0102030405060708090A",
       code + "0102030405060708090A" + counterShort + "\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Preset);
    S.Firmware.PutCard(NewClassic1K());
    int err = -1;
    P.ClearCard(err);
    EXPECT_EQ(err, kResNothingToDo);
    TStatus st;
    EXPECT_EQ(P.IssueCard(c.Layout, "100", "7", "FFFFFFFFFFFF", "0102030405060708090A", st),
              kResOk);
    EXPECT_EQ(st.data, 0x0001);
    EXPECT_EQ(InfoShort(5), c.Short);
    EXPECT_EQ(InfoEx(), c.Ex);

    // The preset of the layout is the same card.
    S.Firmware.PutCard(*MakePreset(c.Preset));
    EXPECT_EQ(InfoShort(5), c.Short);
    EXPECT_EQ(InfoEx(), c.Ex);

    // Clearing removes the layout: the reader falls back to the emission block.
    P.ClearCard(err);
    EXPECT_EQ(err, kResOk);
    EXPECT_EQ(InfoEx(), code + "0000000000");
    P.ClearCard(err);
    EXPECT_EQ(err, kResNothingToDo);
  }
}

TEST_F(FirmwareTest, IssueNeedsTheFactoryKeyAndRoom) {
  TStatus st;
  EXPECT_EQ(P.IssueCard(1, "1", "1", "FFFFFFFFFFFF", "", st), kResOk);
  EXPECT_EQ(st.data, 0x0000);  // no card
  S.Firmware.PutCard(NewClassic1K());
  EXPECT_EQ(P.IssueCard(1, "1", "1", "A0A1A2A3A4A5", "", st), kResOk);
  EXPECT_EQ(st.data, TStatus::kAuthError);
  EXPECT_EQ(P.IssueCard(4, "1", "1", "FFFFFFFFFFFF", std::string(30, '7'), st), kResOk);
  EXPECT_EQ(st.data, 0x0000);  // 15 bytes of user data do not fit the layout
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\n0000000000");
}

TEST_F(FirmwareTest, EmissionParametersModesAndConfiguration) {
  S.Firmware.PutCard(WrittenClassic1K());
  // The default emission key does not open the written sector.
  EXPECT_EQ(InfoShort(5), "Ошибка. Код: 2");
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\nОшибка. Код: 2");

  TPercoPars pars;
  pars.key = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  pars.blockNo = 4;
  pars.offset = 1;
  pars.size = 3;
  pars.lbs = 1;
  TStatus st;
  EXPECT_EQ(P.SetupPerco(pars, st), kResOk);
  EXPECT_EQ(st.data, 0x0001);
  EXPECT_EQ(InfoShort(3), "=== КОД КАРТЫ ===\r\n674523");
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\n674523");
  pars.offset = 14;  // 14 + 3 > 16
  EXPECT_EQ(P.SetupPerco(pars, st), kResOk);
  EXPECT_TRUE(st.HasError());

  std::uint8_t answer = 0xEE;
  EXPECT_EQ(P.SetupMode(2, answer), kResOk);
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(P.SetupMode(1, answer), kResOk);
  EXPECT_EQ(answer, 1);
  // Universal mode reports the code in the universal record.
  EXPECT_EQ(InfoShort(1), "=== КОД КАРТЫ ===\r\n674523");
  EXPECT_EQ(P.SetupEmissionPrior(1, answer), kResOk);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(P.SetupEmissionPrior(7, answer), kResRefused);

  TConfig config;
  EXPECT_EQ(P.GetConfig(config), kResOk);
  const TConfig expected = {{81, {"4", "1", "3", "1"}}, {82, {"1"}}, {168, {"1"}}};
  EXPECT_EQ(config, expected);
}

// Parameters set through the API are not checked like those of 0x51; the reader still takes at
// most 10 code bytes and its answers stay within their records (run under ASan).
TEST_F(FirmwareTest, OversizedEmissionParametersFromTheApiStayInsideTheAnswers) {
  TCard card = NewClassic1K();
  card.SetRawBlock(4, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                       0x0E, 0x0F, 0x10});
  S.Firmware.PutCard(card);
  struct TCase {
    std::uint8_t Offset, Size, Mode;
    const char* Code;
  };
  const TCase cases[] = {
      {.Offset = 0, .Size = 16, .Mode = 0, .Code = "0102030405060708090A"},
      {.Offset = 0, .Size = 255, .Mode = 1, .Code = "0102030405060708090A"},
      {.Offset = 10, .Size = 11, .Mode = 0, .Code = "0B0C0D0E0F10"},
      {.Offset = 200, .Size = 12, .Mode = 0, .Code = ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Offset) + "+" + std::to_string(c.Size));
    TEmissionParams params;
    params.Offset = c.Offset;
    params.Size = c.Size;
    S.Firmware.SetEmissionParams(params);
    std::uint8_t answer = 0;
    ASSERT_EQ(P.SetupMode(c.Mode, answer), kResOk);
    const std::string expected = std::string("=== КОД КАРТЫ ===\r\n") + c.Code;
    EXPECT_EQ(InfoEx(), expected);
    TKirenCard record;
    EXPECT_EQ(P.GetKirenCard(record), kResOk);
  }
}

TEST_F(FirmwareTest, EmissionPriorityReadsTheEmissionBlockOnIssuedCards) {
  S.Firmware.PutCard(*MakePreset("user"));
  std::uint8_t answer = 0;
  EXPECT_EQ(P.SetupEmissionPrior(1, answer), kResOk);
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\n0000000000");
  EXPECT_EQ(P.SetupEmissionPrior(0, answer), kResOk);
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\n0102030405060708090A");
}

TEST_F(FirmwareTest, CardContentWithoutClassicMemoryOrCard) {
  EXPECT_EQ(InfoEx(), "Нет информации о карте");
  EXPECT_EQ(InfoShort(5), "");
  S.Firmware.PutCard(NewUltralight());
  EXPECT_EQ(InfoShort(5), "=== КОД КАРТЫ ===\r\n04112233445566");
  EXPECT_EQ(InfoEx(), "=== КОД КАРТЫ ===\r\n04112233445566");
}

// ---- Fault switches ----------------------------------------------------------------------

Bytes VersionFrame() {
  return TBuilder::Finalize({kCmdGetVerInfo});
}

TEST(FirmwareFaults, EachSwitchShapesTheAnswer) {
  TFirmware fw;
  const Bytes normal = fw.Receive(VersionFrame());
  ASSERT_FALSE(normal.empty());

  auto with = [&](auto ASet) {
    TFaults f;
    ASet(f);
    fw.SetFaults(f);
    int delay = -1;
    Bytes rx = fw.Receive(VersionFrame(), &delay);
    fw.SetFaults({});
    return std::make_pair(rx, delay);
  };
  auto parse = [](const Bytes& ARx, Bytes& ABlock) {
    return TParser::CheckAnswer(ARx, static_cast<int>(ARx.size()), ABlock);
  };
  Bytes block;

  EXPECT_TRUE(with([](TFaults& f) { f.NoAnswer = true; }).first.empty());

  const Bytes half = with([](TFaults& f) { f.HalfAnswer = true; }).first;
  EXPECT_EQ(half, Bytes(normal.begin(), normal.begin() + normal.size() / 2));

  const Bytes bad = with([](TFaults& f) { f.BadCrc = true; }).first;
  EXPECT_EQ(bad.size(), normal.size());
  ASSERT_TRUE(parse(bad, block));
  EXPECT_FALSE(TParser::CheckCRC(block));

  const Bytes trailing = with([](TFaults& f) { f.TrailingBytes = true; }).first;
  EXPECT_EQ(Bytes(trailing.begin(), trailing.begin() + normal.size()), normal);
  EXPECT_EQ(trailing.size(), normal.size() + 2);
  ASSERT_TRUE(parse(trailing, block));
  EXPECT_FALSE(TParser::CheckCRC(block));

  const Bytes wrong = with([](TFaults& f) { f.WrongCommand = true; }).first;
  ASSERT_TRUE(parse(wrong, block));
  EXPECT_TRUE(TParser::CheckCRC(block));
  EXPECT_EQ(block[0], kCmdGetStatus);

  const Bytes longer = with([](TFaults& f) { f.LongAnswer = true; }).first;
  EXPECT_GT(longer.size(), 66u);
  EXPECT_LE(longer.size(), 130u);
  ASSERT_TRUE(parse(longer, block));
  EXPECT_TRUE(TParser::CheckCRC(block));
  EXPECT_EQ(AnsiZToUtf8(Bytes(block.begin() + 1, block.end() - 2)), "Kiren-M1 v5.3");

  const auto delayed = with([](TFaults& f) { f.DelayMs = 250; });
  EXPECT_EQ(delayed.first, normal);
  EXPECT_EQ(delayed.second, 250);
}

TEST(FirmwareFaults, CountAndCommandFilterLimitTheFault) {
  TSimProtocol s;
  TFaults f;
  f.NoAnswer = true;
  f.Count = 1;
  f.OnlyCmd = kCmdGetVerInfo;
  s.Firmware.SetFaults(f);
  TStatus st;
  EXPECT_EQ(s.Proto.GetStatus(st), kResOk);  // other command untouched
  std::string ver;
  EXPECT_EQ(s.Proto.GetVer(ver), kResTimeout);
  EXPECT_EQ(s.Proto.GetVer(ver), kResOk);  // the one faulted answer is used up
  EXPECT_EQ(s.Firmware.Faults().Count, 0);

  f = {};
  f.WrongCommand = true;
  s.Firmware.SetFaults(f);
  EXPECT_EQ(s.Proto.GetVer(ver), kResWrongCommand);
  f = {};
  f.BadCrc = true;
  s.Firmware.SetFaults(f);
  EXPECT_EQ(s.Proto.GetVer(ver), kResBadAnswer);
}

// ---- Request framing ---------------------------------------------------------------------

TEST(FirmwareFraming, SplitJoinedDamagedAndUnknownRequests) {
  TFirmware fw;
  const Bytes status = TBuilder::Finalize({kCmdGetStatus});
  const Bytes answer = fw.Receive(status);
  ASSERT_FALSE(answer.empty());

  Bytes got;
  for (std::uint8_t b : status) {
    const Bytes part = fw.Receive({b});
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, answer);

  Bytes two = {0x00, 0x12, 0xFF};  // line noise first
  two.insert(two.end(), status.begin(), status.end());
  two.insert(two.end(), status.begin(), status.end());
  Bytes twice = answer;
  twice.insert(twice.end(), answer.begin(), answer.end());
  EXPECT_EQ(fw.Receive(two), twice);

  Bytes damaged = status;
  damaged.back() ^= 0x01;
  EXPECT_TRUE(fw.Receive(damaged).empty());
  // A frame cut short by a new start byte is dropped; the new frame is answered.
  Bytes cut(status.begin(), status.begin() + 3);
  cut.insert(cut.end(), status.begin(), status.end());
  EXPECT_EQ(fw.Receive(cut), answer);

  EXPECT_TRUE(fw.Receive(TBuilder::Finalize({0x77, 0x01})).empty());
  EXPECT_EQ(fw.Receive(status), answer);
  EXPECT_EQ(fw.History().back(), Bytes{kCmdGetStatus});
}

TEST(FirmwareFraming, RandomInputNeverBreaksTheFirmware) {
  TFirmware fw;
  fw.PutCard(NewClassic1K());
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 40);
  const std::uint8_t commands[] = {0xFE, 0xFF, 0xA0, 0x55, 0x50, 0xE5, 0x21, 0xA7,
                                   0xA1, 0xA2, 0xA3, 0x52, 0x51, 0xA8, 0x00, 0x99};
  for (int i = 0; i < 20000; ++i) {
    Bytes in(static_cast<std::size_t>(len(rng)));
    for (auto& b : in)
      b = static_cast<std::uint8_t>(byte(rng));
    if (i % 2 == 0) {
      // Well-framed requests with random payloads reach every command handler.
      in.insert(in.begin(), commands[static_cast<std::size_t>(i / 2) % std::size(commands)]);
      in = TBuilder::Finalize(in);
    }
    if (i % 500 == 0)
      fw.PutCard(
          *MakePreset(PresetNames()[static_cast<std::size_t>(i / 500) % PresetNames().size()]));
    const Bytes out = fw.Receive(in);
    Bytes block;
    if (!out.empty() && i % 2 == 0) {
      ASSERT_TRUE(TParser::CheckAnswer(out, static_cast<int>(out.size()), block));
      EXPECT_LE(out.size(), 130u);
    }
  }
  // Still answering sensibly afterwards.
  fw.Receive(Bytes(200, 0x00));
  TSimProtocol s;
  std::string ver;
  EXPECT_EQ(s.Proto.GetVer(ver), kResOk);
}

}  // namespace
}  // namespace kiren::sim
