#include <stdexcept>

#include "sim/card.h"
#include "worker/actions.h"
#include "worker_fixture.h"

namespace kiren::test {
namespace {

constexpr TKey kTransport = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const TKey kNewKeyA = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
const TKey kNewKeyB = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};

TBlock BlockOf(std::initializer_list<std::uint8_t> AHead, std::size_t AAt = 0) {
  TBlock block{};
  std::copy(AHead.begin(), AHead.end(), block.begin() + static_cast<std::ptrdiff_t>(AAt));
  return block;
}

TBlock ToBlock(const sim::TBlock16& ABlock) {
  TBlock block{};
  std::copy(ABlock.begin(), ABlock.end(), block.begin());
  return block;
}

TKey ToKey(const sim::TKey6& AKey) {
  TKey key{};
  std::copy(AKey.begin(), AKey.end(), key.begin());
  return key;
}

// (block number, key type) of every block write in the firmware's history.
std::vector<std::pair<int, int>> BlockWrites(const sim::TFirmware& AFirmware) {
  std::vector<std::pair<int, int>> writes;
  for (const Bytes& req : RequestsOf(AFirmware, kCmdWriteBlock))
    writes.emplace_back(req[1], req[2]);
  return writes;
}

class TActionsTest : public ::testing::Test {
 protected:
  sim::TFirmware Firmware;
  TProtocol Proto{DirectExchange(Firmware)};
};

TEST(TAcWriteCardCode, ConstructorChecksCodeLengthAndOffset) {
  struct {
    std::size_t Size;
    std::uint8_t Offset;
    const char* Error;
  } const cases[] = {
      {11, 0, "Слишком длинный код карты"},
      {10, 6, nullptr},
      {10, 7, "Недопустимая комбинация смещения и кода карты"},
      {1, 16, "Недопустимая комбинация смещения и кода карты"},
  };
  for (const auto& c : cases) {
    const Bytes code(c.Size, 0x01);
    try {
      TAcWriteCardCode action(4, c.Offset, code, TKeyList{}, nullptr);
      EXPECT_EQ(c.Error, nullptr) << c.Size << " at " << int(c.Offset);
    } catch (const std::invalid_argument& e) {
      ASSERT_NE(c.Error, nullptr) << c.Size << " at " << int(c.Offset);
      EXPECT_STREQ(e.what(), c.Error);
    }
  }
}

TEST(TAcWriteCardCode, PlacesTheCodeInTheBlock) {
  TAcWriteCardCode bytes(5, 2, Bytes{0x01, 0x02, 0x03}, TKeyList{}, nullptr);
  EXPECT_EQ(bytes.BlockData(), BlockOf({0x01, 0x02, 0x03}, 2));
  TAcWriteCardCode number(5, 0, std::uint64_t{4328719365}, TKeyList{}, nullptr);
  EXPECT_EQ(number.BlockData(), BlockOf({0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(number.ErrCode(), kResNotExecuted);
  EXPECT_EQ(number.Status().data, 0);
}

// A new card takes the code with the old key B value as key A; the trailer of the sector gets
// the new keys and the access bytes 78 77 88.
TEST_F(TActionsTest, WriteCardCodeOnANewCard) {
  Firmware.PutCard(sim::NewClassic1K());
  TAcWriteCardCode action(5, 1, Bytes{0xAB, 0xCD}, TKeyList{kTransport, kNewKeyA, kNewKeyB},
                          nullptr);
  EXPECT_EQ(action.Execute(Proto), kResOk);
  EXPECT_EQ(BlockWrites(Firmware), (std::vector<std::pair<int, int>>{{5, 0xAA}, {7, 0xAA}}));
  const sim::TCard card = *Firmware.Card();
  EXPECT_EQ(ToBlock(card.RawBlock(5)), BlockOf({0xAB, 0xCD}, 1));
  const TBlock trailer = ToBlock(card.RawBlock(7));
  EXPECT_EQ((TKey{trailer[0], trailer[1], trailer[2], trailer[3], trailer[4], trailer[5]}),
            kNewKeyA);
  EXPECT_EQ(action.BlockData(), BlockOf({0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x78, 0x77, 0x88, 0x00,
                                         0x21, 0x22, 0x23, 0x24, 0x25, 0x26}));
}

// A card that already carries new keys refuses key A: both writes go with key type 0xBB.
TEST_F(TActionsTest, WriteCardCodeRetriesWithKeyBOnAWrittenCard) {
  Firmware.PutCard(sim::WrittenClassic1K());
  TAcWriteCardCode action(4, 0, Bytes{0x01, 0x02, 0x03},
                          TKeyList{ToKey(sim::kWrittenKeyB), kNewKeyA, kNewKeyB}, nullptr);
  EXPECT_EQ(action.Execute(Proto), kResOk);
  EXPECT_EQ(BlockWrites(Firmware),
            (std::vector<std::pair<int, int>>{{4, 0xAA}, {4, 0xBB}, {7, 0xBB}}));
  EXPECT_EQ(ToBlock(Firmware.Card()->RawBlock(4)), BlockOf({0x01, 0x02, 0x03}));
}

// A wrong old key fails both attempts with 7 and leaves the trailer alone.
TEST_F(TActionsTest, WriteCardCodeWithAWrongKeyLeavesTheTrailer) {
  Firmware.PutCard(sim::WrittenClassic1K());
  const sim::TBlock16 trailerBefore = Firmware.Card()->RawBlock(7);
  TAcWriteCardCode action(4, 0, Bytes{0x01}, TKeyList{kNewKeyB, kNewKeyA, kNewKeyB}, nullptr);
  EXPECT_EQ(action.Execute(Proto), kResStatusError);
  EXPECT_EQ(BlockWrites(Firmware), (std::vector<std::pair<int, int>>{{4, 0xAA}, {4, 0xBB}}));
  EXPECT_EQ(Firmware.Card()->RawBlock(7), trailerBefore);
  EXPECT_EQ(ActionErrorText(action), "Ошибка: " + action.Status().Error());
}

TEST_F(TActionsTest, ReadBlockReportsAuthenticationErrorAsSeven) {
  Firmware.PutCard(sim::WrittenClassic1K());
  TAcReadBlock good(4, kKeyTypeA, ToKey(sim::kWrittenKeyA), nullptr);
  EXPECT_EQ(good.Execute(Proto), kResOk);
  EXPECT_EQ(good.BlockData(), ToBlock(Firmware.Card()->RawBlock(4)));
  EXPECT_EQ(ActionErrorText(good), "");

  TAcReadBlock bad(4, kKeyTypeA, kTransport, nullptr);
  EXPECT_EQ(bad.Execute(Proto), kResStatusError);
  EXPECT_TRUE(bad.Status().HasError());
  EXPECT_EQ(bad.BlockData(), TBlock{});
}

// Issuing always clears the card first; the issue's own result counts.
TEST_F(TActionsTest, IssueClearsTheCardFirst) {
  Firmware.PutCard(sim::NewClassic1K());
  TAcIssueCard action(1, "100", "7", "FF FF FF FF FF FF", "0102", nullptr);
  EXPECT_EQ(action.Execute(Proto), kResOk);
  EXPECT_EQ(CommandsOf(Firmware), (std::vector<std::uint8_t>{kCmdClearCard, kCmdIssueCard}));
}

// Actions without a status word in their answer keep status 0 and are not judged by it.
TEST_F(TActionsTest, StatuslessActionsKeepStatusZero) {
  Firmware.PutCard(sim::NewClassic1K());
  TAcSetupMode mode(2, nullptr);
  TAcSetupEmissionPrior prior(2, nullptr);
  TAcReadConfig config(nullptr);
  TAcClearCard clear(nullptr);
  for (TThAction* action : std::initializer_list<TThAction*>{&mode, &prior, &config, &clear}) {
    action->Execute(Proto);
    EXPECT_NE(action->ErrCode(), kResStatusError);
    EXPECT_EQ(action->Status().data, 0);
  }
  EXPECT_EQ(mode.ErrCode(), kResOk);
  EXPECT_EQ(prior.ErrCode(), kResOk);
  EXPECT_EQ(config.ErrCode(), kResOk);
  EXPECT_FALSE(config.Config().empty());
}

// Error texts of finished actions.
class TFinished : public TThAction {
 public:
  TFinished(int ACode, std::uint16_t AStatus) : TThAction(nullptr) {
    FErrCode = ACode;
    FStatus = TStatus(AStatus);
  }
  int Execute(TProtocol&) override { return FErrCode; }
};

TEST(ActionErrorText, CombinesCodeAndStatusText) {
  struct {
    int Code;
    std::uint16_t Status;
    std::string Text;
  } const cases[] = {
      {0, 0x0001, ""},
      {3, 0x0001, "Ошибка 3"},
      {7, 0x0003, "Ошибка: Ошибка аутентификации"},
      {1, 0x0000, "Ошибка 1 (Команда не выполнена)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ActionErrorText(TFinished(c.Code, c.Status)), c.Text) << c.Code;
}

}  // namespace
}  // namespace kiren::test
