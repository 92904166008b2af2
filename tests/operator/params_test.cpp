// The operator commands' parameters: the table of inputs through the layer, and the values
// the accepted ones give the actions.
#include <gtest/gtest.h>

#include "operator/params.h"
#include "operator_cases.h"

namespace kiren::op::test {
namespace {

// The layer's verdict on one input: nothing when accepted, else the refusal's message (or
// "declined" when the key-block question was answered "no").
std::optional<std::string> Verdict(const TCase& ACase) {
  try {
    return std::visit(
        [&](const auto& AInput) -> std::optional<std::string> {
          using T = std::decay_t<decltype(AInput)>;
          if constexpr (std::is_same_v<T, TEmissionInput>) {
            if (!EmissionParams(AInput, [&](int) { return ACase.ConfirmTrailer; }))
              return "declined";
          } else if constexpr (std::is_same_v<T, TCardCodeInput>) {
            CardCodeParams(AInput);
          } else if constexpr (std::is_same_v<T, TIssueInput>) {
            IssueParams(AInput);
          } else {
            ReadBlockParams(AInput);
          }
          return std::nullopt;
        },
        ACase.Input);
  } catch (const TInputError& e) {
    return e.what();
  }
}

TEST(OperatorParams, TableOfInputs) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const auto verdict = Verdict(c);
    if (c.Declined)
      EXPECT_EQ(verdict, "declined");
    else if (c.Refusal.empty())
      EXPECT_EQ(verdict, std::nullopt);
    else
      EXPECT_EQ(verdict, c.Refusal);
  }
}

TEST(OperatorParams, AcceptedValues) {
  const auto pars = EmissionParams(
      {.Key = "ABCDEF", .BlockNo = "7", .Offset = "2", .Size = "10", .ReverseOrder = true},
      [](int ASector) { return ASector == 1; });
  ASSERT_TRUE(pars);
  EXPECT_EQ(*pars, (TPercoPars{.key = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46},
                               .blockNo = 7,
                               .offset = 2,
                               .size = 10,
                               .lbs = 1}));

  const TCardCodeParams code = CardCodeParams(
      {.BlockNo = "8", .Offset = "3", .Size = "5", .KeyA = "ABCDEF", .Code = {"300", false}});
  EXPECT_EQ(code.BlockNo, 8);
  EXPECT_EQ(code.Offset, 3);
  EXPECT_EQ(code.Code, (Bytes{0, 0, 0, 0x01, 0x2C}));
  EXPECT_EQ(code.Keys.KeyA, (TKey{0x41, 0x42, 0x43, 0x44, 0x45, 0x46}));
  EXPECT_EQ(code.Keys.oldKeyB, (TKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  const TIssueParams issue = IssueParams({.Variant = "4",
                                          .Emitent = "ключ",
                                          .Emission = "7",
                                          .FactoryKey = " a0a1a2a3a4a5 ",
                                          .UserData = "01 02 0"});
  EXPECT_EQ(issue.Variant, 4);
  EXPECT_EQ(issue.Emitent, "ключ");
  EXPECT_EQ(issue.Emission, "7");
  EXPECT_EQ(issue.FactoryKey, "A0 A1 A2 A3 A4 A5");
  EXPECT_EQ(issue.UserData, "01020");  // a single digit left at the end is one byte

  const TReadBlockParams read = ReadBlockParams({.BlockNo = "240", .Key = "A0A1A2A3A4A5"});
  EXPECT_EQ(read.BlockNo, 240);
  EXPECT_EQ(read.Key, (TKey{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

// The trailer question comes after the key and block checks and before offset and size, and
// only for key blocks.
TEST(OperatorParams, TrailerQuestionOrder) {
  std::vector<int> asked;
  const auto ask = [&](int ASector) {
    asked.push_back(ASector);
    return true;
  };
  EXPECT_THROW(EmissionParams({.Key = "FF", .BlockNo = "3"}, ask), TInputError);
  EXPECT_TRUE(EmissionParams({.BlockNo = "4"}, ask));
  EXPECT_THROW(EmissionParams({.BlockNo = "143", .Offset = "x"}, ask), TInputError);
  EXPECT_EQ(asked, std::vector<int>{32});
  EXPECT_EQ(TrailerSector(3), 0);
  EXPECT_EQ(TrailerSector(255), 39);
  EXPECT_EQ(TrailerSector(4), std::nullopt);
}

// A series of card codes goes on as the window's field does after each write: the code plus 1,
// wrapping at 2^64, and a code that outgrows its size is refused before the next write.
TEST(OperatorParams, NextCardCodeOfASeries) {
  const TCardCodeParams four = CardCodeParams({.Code = {"FFFFFFFE", true}});
  TCardCodeText text{"FFFFFFFE", true};
  text = NextCardCode(text);
  EXPECT_EQ(text, (TCardCodeText{"FFFFFFFF", true}));
  EXPECT_EQ(NextCodeBytes(four, text), Bytes(4, 0xFF));
  text = NextCardCode(text);
  EXPECT_EQ(text, (TCardCodeText{"100000000", true}));
  try {
    NextCodeBytes(four, text);
    ADD_FAILURE() << "accepted";
  } catch (const TInputError& e) {
    EXPECT_EQ(std::string(e.what()), "Введен слишком длинный код карты (максимум 4 байт)");
  }

  const TCardCodeParams eight =
      CardCodeParams({.Size = "8", .Code = {"18446744073709551615", false}});
  EXPECT_EQ(eight.Code, Bytes(8, 0xFF));
  text = NextCardCode({"18446744073709551615", false});
  EXPECT_EQ(text, (TCardCodeText{"0", false}));
  EXPECT_EQ(NextCodeBytes(eight, text), Bytes(8, 0x00));
}

}  // namespace
}  // namespace kiren::op::test
