// The window and kiren-cli take and refuse the same inputs: every row of the operator table
// goes through the window's path (the layer function its command handler calls, with the
// fields' texts) and through kiren-cli's (its options, as an operator would type the same
// values, through the function that turns options into parameters), and both must agree on
// the verdict, on the parameters and on the message.
#include <gtest/gtest.h>

#include "cli/inputs.h"
#include "operator_cases.h"

namespace kiren::op::test {
namespace {

using cli::TOptionValues;

// What a front end did with an input: the parameters it would hand to the worker's action, as
// text, or the message of the refusal.
struct TVerdict {
  bool Accepted = false;
  std::string Detail;
};

std::string KeyText(const TKey& AKey) {
  return BytesToHex(Bytes(AKey.begin(), AKey.end()));
}

std::string Describe(const TPercoPars& A) {
  return KeyText(A.key) + " " + std::to_string(A.blockNo) + " " + std::to_string(A.offset) + " " +
         std::to_string(A.size) + " " + std::to_string(A.lbs);
}
std::string Describe(const TCardCodeParams& A) {
  return std::to_string(A.BlockNo) + " " + std::to_string(A.Offset) + " " + BytesToHex(A.Code) +
         " " + KeyText(A.Keys.KeyA) + " " + KeyText(A.Keys.KeyB) + " " + KeyText(A.Keys.oldKeyB);
}
std::string Describe(const TIssueParams& A) {
  return std::to_string(A.Variant) + "|" + A.Emitent + "|" + A.Emission + "|" + A.FactoryKey + "|" +
         A.UserData;
}
std::string Describe(const TReadBlockParams& A) {
  return std::to_string(A.BlockNo) + " " + KeyText(A.Key);
}

template <typename TRun>
TVerdict Judge(TRun ARun) {
  try {
    return {true, ARun()};
  } catch (const std::runtime_error& e) {  // TInputError or kiren-cli's TUsageError
    return {false, e.what()};
  }
}

// The window: the layer function its handler calls, the trailer question answered as the row
// says.
TVerdict WindowPath(const TCase& ACase) {
  return Judge([&] {
    return std::visit(
        [&](const auto& AInput) -> std::string {
          using T = std::decay_t<decltype(AInput)>;
          if constexpr (std::is_same_v<T, TEmissionInput>) {
            const auto pars = EmissionParams(AInput, [&](int) { return ACase.ConfirmTrailer; });
            if (!pars)
              throw TInputError("declined");
            return Describe(*pars);
          } else if constexpr (std::is_same_v<T, TCardCodeInput>) {
            return Describe(CardCodeParams(AInput));
          } else if constexpr (std::is_same_v<T, TIssueInput>) {
            return Describe(IssueParams(AInput));
          } else {
            return Describe(ReadBlockParams(AInput));
          }
        },
        ACase.Input);
  });
}

// kiren-cli: the same values as options; "yes" to the key-block question is --force.
TVerdict CliPath(const TCase& ACase) {
  return Judge([&] {
    return std::visit(
        [&](const auto& AInput) -> std::string {
          using T = std::decay_t<decltype(AInput)>;
          TOptionValues o;
          if constexpr (std::is_same_v<T, TEmissionInput>) {
            o = {{"key", AInput.Key},
                 {"block", AInput.BlockNo},
                 {"offset", AInput.Offset},
                 {"size", AInput.Size}};
            if (AInput.ReverseOrder)
              o["reverse"] = "1";
            if (ACase.ConfirmTrailer)
              o["force"] = "1";
            return Describe(cli::WriteParamsParams(o));
          } else if constexpr (std::is_same_v<T, TCardCodeInput>) {
            o = {{"block", AInput.BlockNo},
                 {"offset", AInput.Offset},
                 {"size", AInput.Size},
                 {"key-a", AInput.KeyA},
                 {"key-b", AInput.KeyB},
                 {"old-key-b", AInput.OldKeyB},
                 {"code", CardCodeNotation(AInput.Code)}};
            return Describe(cli::WriteCodeParams(o));
          } else if constexpr (std::is_same_v<T, TIssueInput>) {
            o = {{"variant", AInput.Variant},
                 {"emitent", AInput.Emitent},
                 {"emission", AInput.Emission},
                 {"factory-key", AInput.FactoryKey},
                 {"user-data", AInput.UserData}};
            return Describe(cli::IssueParams(o));
          } else {
            o = {{"block", AInput.BlockNo}, {"key", AInput.Key}};
            return Describe(cli::ReadBlockParams(o));
          }
        },
        ACase.Input);
  });
}

TEST(SharedVerdicts, WindowAndCliAgree) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const TVerdict window = WindowPath(c);
    const TVerdict cli = CliPath(c);
    ASSERT_EQ(window.Accepted, cli.Accepted) << window.Detail << " / " << cli.Detail;
    if (window.Accepted) {
      EXPECT_EQ(window.Detail, cli.Detail);
    } else if (c.Declined) {
      EXPECT_EQ(window.Detail, "declined");
      EXPECT_NE(cli.Detail.find("--force"), std::string::npos) << cli.Detail;
    } else {
      // kiren-cli names the option in front of the window's message.
      EXPECT_EQ(window.Detail, c.Refusal);
      const auto colon = cli.Detail.find(": ");
      ASSERT_NE(colon, std::string::npos) << cli.Detail;
      EXPECT_EQ(cli.Detail.substr(0, 2), "--");
      EXPECT_EQ(cli.Detail.substr(colon + 2), window.Detail);
    }
  }
}

// The options kiren-cli requires are refused before any value is looked at.
TEST(SharedVerdicts, CliRequiresItsOptions) {
  EXPECT_THROW(cli::WriteParamsParams({{"block", "4"}}), cli::TUsageError);
  EXPECT_THROW(cli::WriteCodeParams({{"block", "4"}}), cli::TUsageError);
  EXPECT_THROW(cli::IssueParams({}), cli::TUsageError);
  EXPECT_THROW(cli::ReadBlockParams({}), cli::TUsageError);
  EXPECT_EQ(cli::WriteCodeParams({{"block", "4"}, {"code", "0x1F"}}).Code, (Bytes{0, 0, 0, 0x1F}));
}

}  // namespace
}  // namespace kiren::op::test
