// Checked card operations through the worker against the virtual reader on a pseudo-terminal.

#include "worker/verify_actions.h"

#include <gmock/gmock.h>

#include "sim/card.h"
#include "worker_fixture.h"

namespace kiren::test {
namespace {

using testing::HasSubstr;
using O = TCheckOutcome;

constexpr TKey kTransport = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const TKey kNewKeyA = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
const TKey kNewKeyB = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
const TKey kOtherKey = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
// Card code 300.
const Bytes kCode = {0x00, 0x00, 0x00, 0x01, 0x2C};

TKeyList NewKeys(const TKey& AOldKeyB = kTransport) {
  return {AOldKeyB, kNewKeyA, kNewKeyB};
}

// What the completion callback of a checked card-code write saw.
struct TWriteSeen {
  int ErrCode = -1;
  TBlock BlockData{};
  TCheckResult Check, ReadBack, Emitted;
  std::optional<TReportedCard> Reported;
  std::optional<TEmissionView> Emission;
};

struct TSeen {
  int ErrCode = -1;
  TCheckResult Check;
  std::optional<TReportedCard> Reported;
};

class TVerifyTest : public TWorkerTest {
 protected:
  // Starts the worker with this card in the field; waits until the card is shown.
  void StartWith(const sim::TCard& ACard) {
    Firmware.PutCard(ACard);
    Start();
    ASSERT_TRUE(
        RunUntil([this] { return !View.Cards.empty() && View.Cards.back().status.CardPresent(); }));
  }

  // Queues the action and runs the loop until its callback ran; AInspect runs inside it.
  template <class T>
  void Run(std::unique_ptr<T> AAction, const std::function<void(T&)>& AInspect) {
    bool done = false;
    AAction->SetOnDone([&](TThAction& A) {
      AInspect(static_cast<T&>(A));
      done = true;
    });
    Th->Exec(std::move(AAction));
    ASSERT_TRUE(RunUntil([&] { return done; }));
  }

  int WriteParams(const TPercoPars& APars) {
    int result = -1;
    Run<TAcPercoStt>(std::make_unique<TAcPercoStt>(APars, nullptr),
                     [&](TAcPercoStt& A) { result = A.ErrCode(); });
    return result;
  }

  TWriteSeen WriteCode(const TKeyList& AKeys = NewKeys(),
                       std::optional<TPercoPars> AKnown = std::nullopt) {
    TWriteSeen seen;
    Run<TAcWriteCardCodeChecked>(
        std::make_unique<TAcWriteCardCodeChecked>(4, 0, kCode, AKeys, nullptr, AKnown),
        [&](TAcWriteCardCodeChecked& A) {
          seen = {A.ErrCode(), A.BlockData(), A.Check(),   A.ReadBack(),
                  A.Emitted(), A.Reported(),  A.Emission()};
        });
    return seen;
  }

  template <class T>
  TSeen RunChecked(std::unique_ptr<T> AAction) {
    TSeen seen;
    Run<T>(std::move(AAction), [&](T& A) { seen = {A.ErrCode(), A.Check(), A.Reported()}; });
    return seen;
  }

  // The card text of the next ShowCardInfo.
  std::string NextCardText() {
    EXPECT_TRUE(WaitCards(1));
    return View.Cards.back().desc;
  }
};

TEST_F(TVerifyTest, NormalWriteVerifiesAndTheCardPanelShowsTheNewCode) {
  StartWith(sim::NewClassic1K());
  ASSERT_THAT(View.Cards.back().desc, HasSubstr("0000000000"));
  const TPercoPars pars{kNewKeyA, 4, 0, 5, 0};
  ASSERT_EQ(WriteParams(pars), kResOk);
  EXPECT_EQ(Th->LastPercoPars(), pars);
  Firmware.ClearHistory();

  const TWriteSeen seen = WriteCode();
  EXPECT_EQ(seen.ErrCode, kResOk);
  EXPECT_EQ(seen.BlockData[6], 0x78);  // the action still leaves the trailer in its data
  EXPECT_EQ(seen.Check.Outcome, O::Verified) << seen.Check.Message;
  EXPECT_EQ(seen.ReadBack.Outcome, O::Verified);
  EXPECT_EQ(seen.Emitted.Message, "Считыватель сообщает код 000000012C — записанный код");
  ASSERT_TRUE(seen.Reported);
  EXPECT_EQ(seen.Reported->Code, "000000012C");
  ASSERT_TRUE(seen.Emission);
  EXPECT_EQ(seen.Emission->Source, TEmissionView::TSource::ReaderConfig);
  EXPECT_EQ(seen.Emission->Key, kNewKeyA);  // the configuration has none: the written one

  // The two writes, then the read-back with the new key A, the configuration, the content.
  const std::vector<std::uint8_t> expected = {
      kCmdLoadKey,   kCmdWriteBlock, kCmdLoadKey,   kCmdWriteBlock, kCmdLoadKey,
      kCmdReadBlock, kCmdLoadKey,    kCmdReadBlock, kCmdGetConfig,  kCmdGetKirenCard};
  std::vector<std::uint8_t> commands = CommandsOf(Firmware);
  std::erase(commands, kCmdGetStatus);  // card polls around the action
  commands.resize(std::min(commands.size(), expected.size()));
  EXPECT_EQ(commands, expected);
  const auto reads = RequestsOf(Firmware, kCmdReadBlock);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0], (Bytes{kCmdReadBlock, 4, kKeyTypeA}));
  EXPECT_EQ(reads[1], (Bytes{kCmdReadBlock, 7, kKeyTypeA}));

  EXPECT_THAT(NextCardText(), HasSubstr("000000012C"));
}

// The reader reads the card by emission parameters that do not meet the code as written.
TEST_F(TVerifyTest, EmissionParametersThatMissTheCode) {
  StartWith(sim::NewClassic1K());
  const struct {
    const char* Name;
    TPercoPars Pars;
    O Outcome;
    std::string Reason;
  } cases[] = {
      {"another block",
       {kNewKeyA, 5, 0, 5, 0},
       O::ReaderReportsOtherCode,
       "Считыватель читает код из блока 5, а код записан в блок 4"},
      {"another offset",
       {kNewKeyA, 4, 2, 5, 0},
       O::ReaderReportsOtherCode,
       "Считыватель читает код со смещения 2, а код записан со смещения 0"},
      {"fewer bytes",
       {kNewKeyA, 4, 0, 3, 0},
       O::ReaderReportsOtherCode,
       "Считыватель читает только 3 байта кода, а записано 5 байт"},
      {"other byte order",
       {kNewKeyA, 4, 0, 5, 1},
       O::ReaderReportsOtherCode,
       "Считыватель читает байты кода в обратном порядке"},
      {"another key",
       {kOtherKey, 4, 0, 5, 0},
       O::ReaderCannotRead,
       "Считыватель не может пройти аутентификацию: его ключ выдачи не совпадает с новым ключом "
       "A карты"},
  };
  for (const auto& c : cases) {
    Firmware.PutCard(sim::NewClassic1K());
    ASSERT_EQ(WriteParams(c.Pars), kResOk) << c.Name;
    const TWriteSeen seen = WriteCode();
    EXPECT_EQ(seen.ErrCode, kResOk) << c.Name;
    EXPECT_EQ(seen.ReadBack.Outcome, O::Verified) << c.Name;
    EXPECT_EQ(seen.Check.Outcome, c.Outcome) << c.Name << ": " << seen.Check.Message;
    EXPECT_THAT(seen.Check.Message, HasSubstr(c.Reason)) << c.Name;
  }
}

// Parameters changed behind the tool's back: the reader's configuration tells the block, and
// the card panel follows what the reader now reports.
TEST_F(TVerifyTest, ConfigurationOutweighsTheParametersLastWritten) {
  StartWith(sim::NewClassic1K());
  ASSERT_EQ(WriteParams({kNewKeyA, 4, 0, 5, 0}), kResOk);
  sim::TEmissionParams elsewhere;
  elsewhere.Key = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
  elsewhere.BlockNo = 6;
  Firmware.SetEmissionParams(elsewhere);
  const TWriteSeen seen = WriteCode();
  EXPECT_EQ(seen.Check.Outcome, O::ReaderReportsOtherCode);
  EXPECT_THAT(seen.Check.Message, HasSubstr("из блока 6"));
  EXPECT_THAT(seen.Check.Message, HasSubstr("(из конфигурации считывателя)"));
  EXPECT_THAT(NextCardText(), HasSubstr("0000000000"));
}

// A reader before version 4 is polled with 0x50 and has no configuration: the parameters this
// worker wrote, or those the caller knows, tell where the reader reads.
TEST_F(TVerifyTest, OlderReaderIsCheckedWithTheShortRecord) {
  Firmware.SetVersion("Kiren-M1 v3.1");
  const TPercoPars pars{kNewKeyA, 4, 0, 5, 0};
  StartWith(sim::NewClassic1K());

  // Neither written nor known: the reader's own parameters (transport key) fail, no reason.
  TWriteSeen seen = WriteCode();
  EXPECT_EQ(seen.Check.Outcome, O::ReaderCannotRead) << seen.Check.Message;
  EXPECT_THAT(seen.Check.Message, HasSubstr("Ключ выдачи считывателя программе неизвестен"));
  EXPECT_FALSE(seen.Emission);

  // Known to the caller (for example from the saved settings).
  Firmware.PutCard(sim::NewClassic1K());
  sim::TEmissionParams reader;
  reader.Key = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
  Firmware.SetEmissionParams(reader);
  seen = WriteCode(NewKeys(), pars);
  EXPECT_EQ(seen.Check.Outcome, O::Verified) << seen.Check.Message;
  ASSERT_TRUE(seen.Emission);
  EXPECT_EQ(seen.Emission->Source, TEmissionView::TSource::LastWritten);

  // Written in this run, reversed.
  Firmware.PutCard(sim::NewClassic1K());
  ASSERT_EQ(WriteParams({kNewKeyA, 4, 0, 5, 1}), kResOk);
  Firmware.ClearHistory();
  seen = WriteCode(NewKeys(), pars);
  EXPECT_EQ(seen.Check.Outcome, O::ReaderReportsOtherCode) << seen.Check.Message;
  EXPECT_THAT(seen.Check.Message, HasSubstr("в обратном порядке"));
  EXPECT_TRUE(RequestsOf(Firmware, kCmdGetKirenCard).empty());
  EXPECT_TRUE(RequestsOf(Firmware, kCmdGetConfig).empty());
  EXPECT_EQ(RequestsOf(Firmware, kCmdReadKirenCard).size(), 1u);
}

// Writes the reader acknowledges but does not store (wholly or in part), and a reader whose
// emission settings did not take.
TEST_F(TVerifyTest, ReaderFaultsGiveTheirOwnOutcome) {
  StartWith(sim::NewClassic1K());
  ASSERT_EQ(WriteParams({kNewKeyA, 4, 0, 5, 0}), kResOk);
  sim::TFaults codeBlockOnly;
  codeBlockOnly.Count = 1;
  codeBlockOnly.OnlyCmd = kCmdWriteBlock;
  const auto faults = [&](auto ASet) {
    sim::TFaults f = codeBlockOnly;
    ASet(f);
    return f;
  };
  const struct {
    const char* Name;
    sim::TFaults Faults;
    O Outcome;
    std::string Line;
  } cases[] = {
      {"code block not stored", faults([](sim::TFaults& f) { f.WriteNotStored = true; }),
       O::ReadBackDiffers,
       "Блок 4 после записи: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00, ожидалось: 00 00 "
       "00 01 2C 00 00 00 00 00 00 00 00 00 00 00 (различаются байты 3–4)"},
      {"code block stored in part", faults([](sim::TFaults& f) { f.WritePartial = 4; }),
       O::ReadBackDiffers, "(различается байт 4)"},
      {"trailer not stored", faults([](sim::TFaults& f) {
         f.WriteNotStored = true;
         f.Count = -1;
       }),
       O::ReadBackDiffers,
       "Сектор 1 не открывается новым ключом A (Ошибка аутентификации): ключи сектора не "
       "записаны"},
      {"reader reads another block than it reports", faults([](sim::TFaults& f) {
         f = {};
         f.EmissionBlock = 5;
       }),
       O::ReaderReportsOtherCode, "Ответ считывателя не следует из известных параметров выдачи"},
      {"reader reads with another key than was written", faults([](sim::TFaults& f) {
         f = {};
         f.EmissionKey = sim::TKey6{0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
       }),
       O::ReaderCannotRead, "возможно, считыватель не принял параметры выдачи"},
  };
  for (const auto& c : cases) {
    Firmware.PutCard(sim::NewClassic1K());
    Firmware.SetFaults(c.Faults);
    const TWriteSeen seen = WriteCode();
    Firmware.SetFaults({});
    EXPECT_EQ(seen.ErrCode, kResOk) << c.Name;  // the reader acknowledged both writes
    EXPECT_EQ(seen.Check.Outcome, c.Outcome) << c.Name << ": " << seen.Check.Message;
    EXPECT_THAT(seen.Check.Message, HasSubstr(c.Line)) << c.Name;
  }
}

TEST_F(TVerifyTest, FailedWriteIsNotCheckedButTheContentIsRead) {
  StartWith(sim::WrittenClassic1K());
  const TWriteSeen seen = WriteCode(NewKeys(kTransport));  // not the card's key B
  EXPECT_EQ(seen.ErrCode, kResStatusError);
  EXPECT_EQ(seen.Check.Outcome, O::NotChecked);
  EXPECT_THAT(seen.Check.Message, HasSubstr("код 7"));
  EXPECT_TRUE(seen.Reported);
  EXPECT_TRUE(RequestsOf(Firmware, kCmdReadBlock).empty());
}

TEST_F(TVerifyTest, IssueIsCheckedForEveryLayout) {
  StartWith(sim::NewClassic1K());
  for (int layout = 1; layout <= 5; ++layout) {
    Firmware.PutCard(sim::NewClassic1K());
    const TSeen seen = RunChecked(std::make_unique<TAcIssueCardChecked>(
        layout, "100", "7", "FFFFFFFFFFFF", "0102030405", nullptr));
    EXPECT_EQ(seen.ErrCode, kResOk) << layout;
    EXPECT_EQ(seen.Check.Outcome, O::Verified) << layout << ": " << seen.Check.Message;
    EXPECT_THAT(seen.Check.Message, HasSubstr("«" + IssueLayoutCaption(layout) + "»"));
    if (layout >= 4) {
      EXPECT_THAT(seen.Check.Message, HasSubstr("данные 0102030405"));
    }
  }
  EXPECT_THAT(NextCardText(), HasSubstr("=== КОД КАРТЫ ===\r\n0102030405"));
}

// With the emission parameters first, the reader reports the plain code, not the layout.
TEST_F(TVerifyTest, IssueWithEmissionPriorityReportsAnotherCode) {
  StartWith(sim::NewClassic1K());
  Run<TAcSetupEmissionPrior>(std::make_unique<TAcSetupEmissionPrior>(1, nullptr),
                             [](TAcSetupEmissionPrior& A) { EXPECT_EQ(A.ErrCode(), kResOk); });
  const TSeen seen =
      RunChecked(std::make_unique<TAcIssueCardChecked>(1, "100", "7", "FFFFFFFFFFFF", "", nullptr));
  EXPECT_EQ(seen.ErrCode, kResOk);
  EXPECT_EQ(seen.Check.Outcome, O::ReaderReportsOtherCode);
  EXPECT_THAT(seen.Check.Message,
              HasSubstr("Считыватель сообщает код 0000000000, а карта выпущена в раскладке "
                        "«Сорвел»"));
}

TEST_F(TVerifyTest, ClearIsCheckedAndTheCardPanelLosesTheLayout) {
  StartWith(sim::IssuedClassic1K(sim::TIssueLayout::Sorvel));
  ASSERT_THAT(View.Cards.back().desc, HasSubstr("СОРВЕЛ"));
  TSeen seen = RunChecked(std::make_unique<TAcClearCardChecked>(nullptr));
  EXPECT_EQ(seen.ErrCode, kResOk);
  EXPECT_EQ(seen.Check.Outcome, O::Verified) << seen.Check.Message;
  EXPECT_THAT(NextCardText(), HasSubstr("=== КОД КАРТЫ ==="));

  seen = RunChecked(std::make_unique<TAcClearCardChecked>(nullptr));  // nothing left to clear
  EXPECT_EQ(seen.ErrCode, kResNothingToDo);
  EXPECT_EQ(seen.Check.Outcome, O::Verified);
}

}  // namespace
}  // namespace kiren::test
