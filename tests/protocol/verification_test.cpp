#include "protocol/verification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "base/codepage.h"

namespace kiren {
namespace {

using testing::HasSubstr;
using TKind = TReportedCard::TKind;
using O = TCheckOutcome;

const TKey kKeyA = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
const TKey kKeyB = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
const TKey kOtherKey = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36};

// Code 00 00 00 01 2C (300) written to block 4 at offset 0.
TWrittenCode Written() {
  TWrittenCode w;
  w.BlockNo = 4;
  w.Offset = 0;
  w.Code = {0x00, 0x00, 0x00, 0x01, 0x2C};
  std::copy(w.Code.begin(), w.Code.end(), w.Block.begin());
  w.KeyA = kKeyA;
  w.KeyB = kKeyB;
  return w;
}

TBlockRead Read(const TBlock& AData, int AErrCode = kResOk, std::uint16_t AStatus = 0x0001) {
  return {AErrCode, TStatus(AStatus), AData};
}

// A trailer as it reads back with key A: keys zero, the access bytes as given.
TBlock TrailerWithAccess(std::initializer_list<std::uint8_t> AAccess) {
  TBlock block{};
  std::copy(AAccess.begin(), AAccess.end(), block.begin() + 6);
  return block;
}

const TBlock kGoodTrailer = TrailerWithAccess({0x78, 0x77, 0x88, 0x00});

TEST(CheckOutcome, NamesAreStableAndRoundTrip) {
  const std::pair<O, const char*> names[] = {
      {O::Verified, "verified"},
      {O::ReadBackDiffers, "read_back_differs"},
      {O::ReaderReportsOtherCode, "reader_reports_other"},
      {O::ReaderCannotRead, "reader_cannot_read"},
      {O::NotChecked, "not_checked"},
  };
  for (const auto& [outcome, name] : names) {
    EXPECT_EQ(CheckOutcomeName(outcome), name);
    EXPECT_EQ(CheckOutcomeFromName(name), outcome);
    EXPECT_FALSE(CheckOutcomeCaption(outcome).empty());
  }
  EXPECT_EQ(CheckOutcomeFromName("Verified"), std::nullopt);
  EXPECT_EQ(CheckOutcomeFromName(""), std::nullopt);
}

TEST(CheckOutcome, CombinedCheckKeepsTheFirstFailure) {
  const TCheckResult ok{O::Verified, "a"};
  const TCheckResult differs{O::ReadBackDiffers, "b"};
  const TCheckResult other{O::ReaderReportsOtherCode, "c"};
  EXPECT_EQ(CombineChecks(ok, other), (TCheckResult{O::ReaderReportsOtherCode, "a\nc"}));
  EXPECT_EQ(CombineChecks(differs, other), (TCheckResult{O::ReadBackDiffers, "b\nc"}));
  EXPECT_EQ(CombineChecks(ok, ok), (TCheckResult{O::Verified, "a\na"}));
  EXPECT_EQ(NotCheckedAfter(7).Outcome, O::NotChecked);
  EXPECT_THAT(NotCheckedAfter(7).Message, HasSubstr("код 7"));
}

TEST(CompareReadBack, ExactMessagesOfTheTwoDifferences) {
  TBlock partial = Written().Block;
  partial[3] = partial[4] = 0x00;  // only the first three bytes stored
  EXPECT_EQ(CompareReadBack(Written(), Read(partial), Read(kGoodTrailer)),
            (TCheckResult{O::ReadBackDiffers,
                          "Блок 4 после записи: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00, "
                          "ожидалось: 00 00 00 01 2C 00 00 00 00 00 00 00 00 00 00 00 "
                          "(различаются байты 3–4)"}));
  EXPECT_EQ(CompareReadBack(Written(), Read(Written().Block),
                            Read(TrailerWithAccess({0xFF, 0x07, 0x80, 0x69}))),
            (TCheckResult{O::ReadBackDiffers,
                          "Байты доступа (6–9) трейлера сектора 1 (блок 7) после записи: "
                          "FF 07 80 69, ожидалось: 78 77 88 00"}));
}

TEST(CompareReadBack, OutcomeOfEveryKindOfAnswer) {
  TBlock oneByteOff = Written().Block;
  oneByteOff[15] = 0x01;
  const TBlock zero{};
  const struct {
    const char* Name;
    TBlockRead Code, Trailer;
    O Outcome;
    std::vector<std::string> Lines;
  } cases[] = {
      {.Name = "as written",
       .Code = Read(Written().Block),
       .Trailer = Read(kGoodTrailer),
       .Outcome = O::Verified,
       .Lines = {"Блок 4 и трейлер сектора 1 (блок 7) прочитаны новым ключом A: записанное на "
                 "месте"}},
      {.Name = "byte 9 not stored",
       .Code = Read(Written().Block),
       .Trailer = Read(TrailerWithAccess({0x78, 0x77, 0x88, 0x69})),
       .Outcome = O::ReadBackDiffers,
       .Lines = {"78 77 88 69, ожидалось: 78 77 88 00"}},
      {.Name = "one byte",
       .Code = Read(oneByteOff),
       .Trailer = Read(kGoodTrailer),
       .Outcome = O::ReadBackDiffers,
       .Lines = {"(различается байт 15)"}},
      {.Name = "new key A does not open the sector",
       .Code = Read(zero, kResStatusError, 0x0002),
       .Trailer = Read(zero, kResStatusError, 0x0002),
       .Outcome = O::ReadBackDiffers,
       .Lines = {"Сектор 1 не открывается новым ключом A (Ошибка аутентификации): ключи сектора "
                 "не записаны"}},
      {.Name = "status word without the executed bit",
       .Code = Read(zero, kResOk, 0x0000),
       .Trailer = Read(kGoodTrailer),
       .Outcome = O::ReaderCannotRead,
       .Lines = {"Считыватель не смог прочитать блок 4: Команда не выполнена"}},
      {.Name = "no answer",
       .Code = Read(zero, kResTimeout),
       .Trailer = Read(zero, kResTimeout),
       .Outcome = O::NotChecked,
       .Lines = {"Блок 4 не прочитан для проверки (ошибка 3)",
                 "Блок 7 не прочитан для проверки (ошибка 3)"}},
      {.Name = "a difference outweighs a failed trailer read",
       .Code = Read(oneByteOff),
       .Trailer = Read(zero, kResTimeout),
       .Outcome = O::ReadBackDiffers,
       .Lines = {"Блок 4 после записи", "Блок 7 не прочитан"}},
  };
  for (const auto& c : cases) {
    const TCheckResult result = CompareReadBack(Written(), c.Code, c.Trailer);
    EXPECT_EQ(result.Outcome, c.Outcome) << c.Name << ": " << result.Message;
    for (const std::string& line : c.Lines)
      EXPECT_THAT(result.Message, HasSubstr(line)) << c.Name;
    EXPECT_EQ(std::count(result.Message.begin(), result.Message.end(), '\n') + 1,
              static_cast<long>(c.Lines.size()))
        << c.Name << ": " << result.Message;
  }
}

// ---- Reported card ---------------------------------------------------------------------------

TKirenCardEx CardEx(std::uint8_t AFlags, const std::string& AText, std::uint32_t AEmitent = 0,
                    std::uint16_t AEmission = 0) {
  Bytes payload(18, 0x00);
  payload[0] = AFlags;
  for (int i = 0; i < 4; ++i)
    payload[8 + i] = static_cast<std::uint8_t>(AEmitent >> (24 - 8 * i));
  payload[12] = static_cast<std::uint8_t>(AEmission >> 8);
  payload[13] = static_cast<std::uint8_t>(AEmission);
  const Bytes text = EncodeText(AText);  // the reader sends Windows-1251
  payload.insert(payload.end(), text.begin(), text.end());
  TKirenCardEx card;
  card.LoadFromBuf(payload);
  return card;
}

TKirenCard Record(const Bytes& ABytes) {
  TKirenCard card;
  std::copy(ABytes.begin(), ABytes.end(), card.data.begin());
  return card;
}

TEST(ReportedCard, FromTheExtendedAnswer) {
  const struct {
    const char* Name;
    TKirenCardEx Card;
    TKind Kind;
    std::string Code;
    bool HasValue;
    int ErrorNo;
    std::optional<std::uint32_t> Emitent;
  } cases[] = {
      {"no card", CardEx(0x00, ""), TKind::NoCard, "", false, 0, {}},
      {"plain code", CardEx(0x01, "000000012C"), TKind::Code, "000000012C", false, 0, {}},
      {"user data with counter", CardEx(0x05, "102"), TKind::Code, "102", true, 0, {}},
      {"error", CardEx(0x10, "Ошибка. Код: 2"), TKind::Error, "Ошибка. Код: 2", false, 2, {}},
      {"error without a number", CardEx(0x10, "Ошибка:"), TKind::Error, "Ошибка:", false, 0, {}},
      {"sorvel", CardEx(0x03, "0000000100-00007", 100, 7), TKind::Sorvel, "0000000100-00007", false,
       0, 100},
      {"combined", CardEx(0x07, "x", 100, 7), TKind::Sorvel, "x", true, 0, 100},
      {"perco", CardEx(0x0D, "0700", 5, 7), TKind::Perco, "0700", true, 0, 5},
  };
  for (const auto& c : cases) {
    const TReportedCard card = ReportedCard(c.Card);
    EXPECT_EQ(card.Kind, c.Kind) << c.Name;
    EXPECT_EQ(card.Code, c.Kind == TKind::NoCard ? "" : c.Code) << c.Name;
    EXPECT_EQ(card.HasValue, c.HasValue) << c.Name;
    EXPECT_EQ(card.ErrorNo, c.ErrorNo) << c.Name;
    EXPECT_EQ(card.Emitent, c.Emitent) << c.Name;
    EXPECT_EQ(card.Text, c.Card.Info()) << c.Name;
  }
}

TEST(ReportedCard, FromTheShortRecord) {
  const Bytes universal = {0xFF, 0xFF, 0xFF, 0xD2, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x01};
  Bytes withValue = universal;
  withValue[4] = 0x04;
  const struct {
    const char* Name;
    TKirenCard Card;
    TKind Kind;
    std::string Code;
    bool HasValue;
    int ErrorNo;
    std::optional<std::uint32_t> Emitent;
    std::optional<std::uint16_t> Emission;
  } cases[] = {
      {"nothing", Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), TKind::NoCard, "", false, 0, {}, {}},
      {"short code",
       Record({0x00, 0x00, 0x00, 0x01, 0x2C}),
       TKind::Code,
       "000000012C",
       false,
       0,
       {},
       {}},
      {"long code",
       Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}),
       TKind::Code,
       "00000000010203040506",
       false,
       0,
       {},
       {}},
      {"universal", Record(universal), TKind::Code, "012C", false, 0, {}, {}},
      {"universal with value", Record(withValue), TKind::Code, "012C", true, 0, {}, {}},
      {"universal error",
       Record({0xFF, 0xFF, 0xFF, 0xD2, 0x01}),
       TKind::Error,
       "",
       false,
       2,
       {},
       {}},
      {"sorvel",
       Record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0, 0x07, 0x00, 0xA1, 0xB2, 0xC3, 0xD4}),
       TKind::Sorvel, "0000000100-00007A1B2C3D4", false, 0, 100, 7},
      {"devu", Record({0xFF, 0xFF, 0xFF, 0xEF, 0x1F, 0x64, 0, 0, 0, 0x07, 0x00, 0xA1, 0xB2, 0xC3}),
       TKind::Perco, "", true, 0, 100, 7},
  };
  for (const auto& c : cases) {
    const TReportedCard card = ReportedCard(c.Card, 5);
    EXPECT_EQ(card.Kind, c.Kind) << c.Name;
    if (c.Kind == TKind::Code) {
      EXPECT_EQ(card.Code, c.Code) << c.Name;
    }
    EXPECT_EQ(card.HasValue, c.HasValue) << c.Name;
    EXPECT_EQ(card.ErrorNo, c.ErrorNo) << c.Name;
    EXPECT_EQ(card.Emitent, c.Emitent) << c.Name;
    EXPECT_EQ(card.Emission, c.Emission) << c.Name;
    TCardType type;
    EXPECT_EQ(card.Text, c.Card.Info(5, type)) << c.Name;
  }
}

TEST(ReportedCard, UniversalLengthBeyondTheRecordStaysInside) {
  Bytes rec(20, 0xAB);
  rec[0] = rec[1] = rec[2] = 0xFF;
  rec[3] = 0xDF;
  rec[4] = 0x00;
  const TReportedCard card = ReportedCard(Record(rec), 5);
  EXPECT_EQ(card.Kind, TKind::Code);
  EXPECT_EQ(card.Code, "ABABABABABABABABABAB");  // bytes 10..19 only
}

// ---- Emission parameters and the reader's report ---------------------------------------------

TEST(EmissionFromConfig, ReadsEntry81) {
  const auto view = EmissionFromConfig({{81, {"12", "1", "4", "1"}}, {82, {"0"}}});
  ASSERT_TRUE(view);
  EXPECT_EQ(*view, (TEmissionView{.Source = TEmissionView::TSource::ReaderConfig,
                                  .BlockNo = 12,
                                  .Offset = 1,
                                  .Size = 4,
                                  .Lbs = 1,
                                  .Key = std::nullopt}));
  EXPECT_FALSE(EmissionFromConfig({{82, {"0"}}}));
  EXPECT_FALSE(EmissionFromConfig({{81, {"12", "1", "4"}}}));
  EXPECT_FALSE(EmissionFromConfig({{81, {"12", "x", "4", "0"}}}));
  EXPECT_FALSE(EmissionFromConfig({{81, {"256", "0", "4", "0"}}}));
  EXPECT_EQ(EmissionFromConfig({{81, {"4", "0", "5", "257"}}})->Lbs, 1);
  EXPECT_EQ(EmissionFromConfig({{81, {"4", "0", "5", "256"}}})->Lbs, 0);

  const TPercoPars pars{kKeyA, 4, 0, 5, 1};
  const TEmissionView fromPars = EmissionFromPars(pars);
  EXPECT_EQ(fromPars.Source, TEmissionView::TSource::LastWritten);
  EXPECT_EQ(fromPars.Key, kKeyA);
  EXPECT_EQ(fromPars.Lbs, 1);
}

TEmissionView View(std::uint8_t ABlock, std::uint8_t AOffset, std::uint8_t ASize, std::uint8_t ALbs,
                   std::optional<TKey> AKey = kKeyA) {
  return {TEmissionView::TSource::LastWritten, ABlock, AOffset, ASize, ALbs, AKey};
}

TContentRead Reported(TKind AKind, const std::string& ACode, int AErrorNo = 0) {
  TContentRead read{kResOk, {}};
  read.Card.Kind = AKind;
  read.Card.Code = ACode;
  read.Card.ErrorNo = AErrorNo;
  return read;
}

TEST(CompareEmittedCode, SaysWhyTheReaderReportsAnotherCode) {
  const struct {
    const char* Name;
    std::optional<TEmissionView> Emission;
    TContentRead Read;
    O Outcome;
    std::vector<std::string> Lines;
  } cases[] = {
      {"as written",
       View(4, 0, 5, 0),
       Reported(TKind::Code, "000000012C"),
       O::Verified,
       {"Считыватель сообщает код 000000012C — записанный код"}},
      {"without leading zeros", std::nullopt, Reported(TKind::Code, "12C"), O::Verified, {}},
      {"another block",
       View(5, 0, 5, 0),
       Reported(TKind::Code, "0000000000"),
       O::ReaderReportsOtherCode,
       {"Считыватель сообщает код 0000000000, ожидался 000000012C",
        "Считыватель читает код из блока 5, а код записан в блок 4",
        "Параметры выдачи (записанные последними): блок 5, смещение 0, размер 5 байт, порядок "
        "байт прямой"}},
      {"another offset",
       View(4, 2, 5, 0),
       Reported(TKind::Code, "00012C0000"),
       O::ReaderReportsOtherCode,
       {"Считыватель читает код со смещения 2, а код записан со смещения 0"}},
      {"fewer bytes",
       View(4, 0, 3, 0),
       Reported(TKind::Code, "000000"),
       O::ReaderReportsOtherCode,
       {"Считыватель читает только 3 байта кода, а записано 5 байт"}},
      {"more bytes",
       View(4, 0, 6, 0),
       Reported(TKind::Code, "000000012C00"),
       O::ReaderReportsOtherCode,
       {"Считыватель читает 6 байт кода, а записано 5 байт"}},
      {"other byte order",
       View(4, 0, 5, 1),
       Reported(TKind::Code, "2C01000000"),
       O::ReaderReportsOtherCode,
       {"Считыватель читает байты кода в обратном порядке"}},
      {"not what the parameters give",
       View(4, 0, 5, 0),
       Reported(TKind::Code, "0000000777"),
       O::ReaderReportsOtherCode,
       {"Ответ считывателя не следует из известных параметров"}},
      {"parameters unknown",
       std::nullopt,
       Reported(TKind::Code, "0000000777"),
       O::ReaderReportsOtherCode,
       {"Параметры выдачи считывателя неизвестны"}},
      {"other emission key",
       View(4, 0, 5, 0, kOtherKey),
       Reported(TKind::Error, "", 2),
       O::ReaderCannotRead,
       {"Считыватель не может прочитать код карты (ошибка 2)",
        "Считыватель не может пройти аутентификацию: его ключ выдачи не совпадает с новым "
        "ключом A карты"}},
      {"emission key not known",
       View(4, 0, 5, 0, std::nullopt),
       Reported(TKind::Error, "", 2),
       O::ReaderCannotRead,
       {"Ключ выдачи считывателя программе неизвестен"}},
      {"the right key, yet no authentication",
       View(4, 0, 5, 0),
       Reported(TKind::Error, "", 2),
       O::ReaderCannotRead,
       {"возможно, считыватель не принял параметры выдачи"}},
      {"the right key in another sector",
       View(8, 0, 5, 0),
       Reported(TKind::Error, "", 2),
       O::ReaderCannotRead,
       {"Считыватель читает код из блока 8, а код записан в блок 4"}},
      {"an issued layout first",
       View(4, 0, 5, 0),
       Reported(TKind::Sorvel, "x"),
       O::ReaderReportsOtherCode,
       {"Считыватель сообщает раскладку «Сорвел» вместо записанного кода 000000012C"}},
      {"no card",
       View(4, 0, 5, 0),
       Reported(TKind::NoCard, ""),
       O::ReaderCannotRead,
       {"Считыватель не видит карту"}},
      {"no answer",
       View(4, 0, 5, 0),
       TContentRead{kResTimeout, {}},
       O::NotChecked,
       {"Содержимое карты не прочитано для проверки (ошибка 3)"}},
  };
  for (const auto& c : cases) {
    const TCheckResult result = CompareEmittedCode(Written(), c.Emission, c.Read);
    EXPECT_EQ(result.Outcome, c.Outcome) << c.Name << ": " << result.Message;
    for (const std::string& line : c.Lines)
      EXPECT_THAT(result.Message, HasSubstr(line)) << c.Name;
  }
}

TEST(CompareEmittedCode, ReasonsOnlyForWhatDiffers) {
  const TCheckResult result =
      CompareEmittedCode(Written(), View(4, 0, 5, 1), Reported(TKind::Code, "2C01000000"));
  EXPECT_THAT(result.Message, testing::Not(HasSubstr("смещения")));
  EXPECT_THAT(result.Message, testing::Not(HasSubstr("блока")));
  EXPECT_THAT(result.Message, testing::Not(HasSubstr("не следует")));
}

// ---- Issue and clear -------------------------------------------------------------------------

TEST(IssuedCardOf, ConvertsTheTextsAsTheCommandDoes) {
  const auto card = IssuedCardOf(1, "100", "7", "A1B");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->Emitent, 100u);
  EXPECT_EQ(card->Emission, 7u);
  EXPECT_EQ(card->UserData, (Bytes{0xA1, 0x0B}));
  EXPECT_EQ(IssuedCardOf(1, "-1", "70000", "")->Emitent, 0xFFFFFFFFu);
  EXPECT_EQ(IssuedCardOf(1, "-1", "70000", "")->Emission, 70000 & 0xFFFF);
  EXPECT_EQ(IssuedCardOf(1, "abcde", "", "")->Emitent, 0u);  // too long: zeros are sent
  EXPECT_FALSE(IssuedCardOf(4, "0", "0", "zz"));
}

TContentRead Issued(TKind AKind, bool AHasValue, std::uint32_t AEmitent, std::uint16_t AEmission,
                    const std::string& ACode = "x") {
  TContentRead read{kResOk, {}};
  read.Card.Kind = AKind;
  read.Card.HasValue = AHasValue;
  read.Card.Code = ACode;
  if (AKind == TKind::Sorvel || AKind == TKind::Perco) {
    read.Card.Emitent = AEmitent;
    read.Card.Emission = AEmission;
  }
  return read;
}

TEST(CompareIssued, LayoutNumbersAndUserData) {
  const Bytes userData = {0x01, 0x02, 0x03};
  const struct {
    const char* Name;
    int Layout;
    TContentRead Read;
    O Outcome;
    std::string Line;
  } cases[] = {
      {"sorvel", 1, Issued(TKind::Sorvel, false, 100, 7), O::Verified,
       "Считыватель сообщает раскладку «Сорвел»: эмитент 100 (0x00000064), эмиссия 7 (0x0007)"},
      {"devu", 2, Issued(TKind::Perco, true, 100, 7), O::Verified, "«DEVU»"},
      {"combined", 3, Issued(TKind::Sorvel, true, 100, 7), O::Verified, "«Комбинированный»"},
      {"user", 4, Issued(TKind::Code, false, 0, 0, "010203"), O::Verified,
       "Считыватель сообщает раскладку «Пользовательский»: данные 010203"},
      {"user + value", 5, Issued(TKind::Code, true, 0, 0, "10203"), O::Verified, "данные 10203"},
      {"other emitent", 1, Issued(TKind::Sorvel, false, 5, 7), O::ReaderReportsOtherCode,
       "Эмитент на карте: 5 (0x00000005), выпущено: 100 (0x00000064)"},
      {"other emission", 3, Issued(TKind::Sorvel, true, 100, 8), O::ReaderReportsOtherCode,
       "Эмиссия на карте: 8 (0x0008), выпущено: 7 (0x0007)"},
      {"no value block", 3, Issued(TKind::Sorvel, false, 100, 7), O::ReaderReportsOtherCode,
       "Считыватель сообщает карту без value-блока, а у раскладки «Комбинированный» он есть"},
      {"plain code instead", 2, Issued(TKind::Code, false, 0, 0, "0000000000"),
       O::ReaderReportsOtherCode,
       "Считыватель сообщает код 0000000000, а карта выпущена в раскладке «DEVU»"},
      {"other user data", 4, Issued(TKind::Code, false, 0, 0, "0102"), O::ReaderReportsOtherCode,
       "Пользовательские данные на карте: 0102, выпущено: 010203"},
      {"unreadable", 1, Reported(TKind::Error, "", 3), O::ReaderCannotRead,
       "Считыватель не может прочитать карту (ошибка 3)"},
      {"no answer", 1, TContentRead{kResBadAnswer, {}}, O::NotChecked, "(ошибка 4)"},
  };
  for (const auto& c : cases) {
    const TIssuedCard issued{c.Layout, 100, 7, userData};
    const TCheckResult result = CompareIssued(issued, c.Read);
    EXPECT_EQ(result.Outcome, c.Outcome) << c.Name << ": " << result.Message;
    EXPECT_THAT(result.Message, HasSubstr(c.Line)) << c.Name;
  }
}

TEST(CompareCleared, NoLayoutLeft) {
  const struct {
    TContentRead Read;
    O Outcome;
    std::string Line;
  } cases[] = {
      {Issued(TKind::Code, false, 0, 0, "0000000000"), O::Verified,
       "Выпущенной раскладки считыватель больше не сообщает; код карты: 0000000000"},
      {Issued(TKind::Sorvel, false, 100, 7), O::ReaderReportsOtherCode,
       "После очистки считыватель по-прежнему сообщает раскладку «Сорвел»"},
      {Issued(TKind::Code, true, 0, 0, "0102"), O::ReaderReportsOtherCode, "с value-блоком"},
      {Reported(TKind::Error, "", 2), O::ReaderCannotRead, "(ошибка 2)"},
      {Reported(TKind::NoCard, ""), O::ReaderCannotRead, "Считыватель не видит карту"},
      {TContentRead{kResTimeout, {}}, O::NotChecked, "(ошибка 3)"},
  };
  for (const auto& c : cases) {
    const TCheckResult result = CompareCleared(c.Read);
    EXPECT_EQ(result.Outcome, c.Outcome) << result.Message;
    EXPECT_THAT(result.Message, HasSubstr(c.Line));
  }
}

}  // namespace
}  // namespace kiren
