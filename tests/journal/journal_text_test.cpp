#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "journal/journal.h"

namespace kiren {
namespace {

// The stored names are part of the file format: files written today must read the same later.
TEST(JournalNames, StoredNamesAreStableAndReadBack) {
  const std::pair<TJournalOperation, const char*> operations[] = {
      {TJournalOperation::CardCodeWrite, "card_code_write"},
      {TJournalOperation::Issue, "issue"},
      {TJournalOperation::Clear, "clear"},
      {TJournalOperation::EmissionWrite, "emission_write"},
  };
  for (const auto& [op, name] : operations) {
    EXPECT_EQ(StoredName(op), name);
    EXPECT_EQ(OperationFromStoredName(name), op);
    EXPECT_FALSE(OperationText(op).empty());
  }
  const std::pair<TVerifyOutcome, const char*> outcomes[] = {
      {TVerifyOutcome::NotChecked, "not_checked"},
      {TVerifyOutcome::Verified, "verified"},
      {TVerifyOutcome::ReadBackDiffers, "read_back_differs"},
      {TVerifyOutcome::ReaderReportsOther, "reader_reports_other"},
      {TVerifyOutcome::ReaderCannotRead, "reader_cannot_read"},
  };
  for (const auto& [outcome, name] : outcomes) {
    EXPECT_EQ(StoredName(outcome), name);
    EXPECT_EQ(VerifyOutcomeFromStoredName(name), outcome);
  }
  EXPECT_EQ(VerifyOutcomeText(TVerifyOutcome::ReadBackDiffers), "Прочитанное с карты отличается");
  EXPECT_FALSE(OperationFromStoredName("Issue"));
  EXPECT_FALSE(VerifyOutcomeFromStoredName(""));
}

TEST(JournalCodes, NormalFormAndDecimal) {
  const struct {
    const char* text;
    std::optional<std::string> hex;
  } cases[] = {
      {"12C", "12C"},
      {"0x012c", "12C"},
      {"00 01 2C", "12C"},
      {"0000", "0"},
      {"0X0", "0"},
      {"", std::nullopt},
      {"0x", std::nullopt},
      {"12G", std::nullopt},
      {"-1", std::nullopt},
      {"1 2", "12"},
      {"FFFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NormalizeCodeHex(c.text), c.hex) << c.text;

  // Codes reach 10 bytes: wider than 64 bits.
  const struct {
    const char* hex;
    const char* dec;
  } numbers[] = {
      {"0", "0"},
      {"12C", "300"},
      {"FFFFFFFFFFFFFFFF", "18446744073709551615"},
      {"FFFFFFFFFFFFFFFFFFFF", "1208925819614629174706175"},
  };
  for (const auto& n : numbers) {
    EXPECT_EQ(CodeHexToDecimal(n.hex), n.dec);
    EXPECT_EQ(CodeDecimalToHex(n.dec), n.hex);
  }
  EXPECT_EQ(CodeDecimalToHex("000300"), "12C");
  EXPECT_FALSE(CodeDecimalToHex("3OO"));
  EXPECT_FALSE(CodeDecimalToHex(""));
}

class JournalTimes : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    fOldTz = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "MSK-3", 1);  // three hours east of UTC, no summer time
    tzset();
  }
  void TearDown() override {
    if (fOldTz)
      setenv("TZ", fOldTz->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> fOldTz;
};

TEST_F(JournalTimes, IsoTextsAndParsing) {
  using namespace std::chrono;
  const auto t = system_clock::from_time_t(1796983200) + 42ms;  // 2026-12-11 10:00:00.042 UTC
  EXPECT_EQ(IsoUtc(t), "2026-12-11T10:00:00.042Z");
  EXPECT_EQ(IsoLocal(t), "2026-12-11T13:00:00.042+03:00");
  EXPECT_EQ(IsoUtc(system_clock::from_time_t(0) - 1ms), "1969-12-31T23:59:59.999Z");

  const struct {
    const char* text;
    std::optional<system_clock::time_point> time;
  } cases[] = {
      {"2026-12-11T10:00:00.042Z", t},      {"2026-12-11T13:00:00.042+03:00", t},
      {"2026-12-11T13:00:00.042", t},                                        // local
      {"2026-12-11 13:00", t - 42ms},       {"2026-12-11", t - 13h - 42ms},  // local midnight
      {"2026-12-11T05:00-05:00", t - 42ms}, {"2026-13-01", std::nullopt},
      {"2026-12-1", std::nullopt},          {"2026-12-11T10", std::nullopt},
      {"2026-12-11Tx", std::nullopt},       {"2026-12-11T10:00:00+3", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseJournalTime(c.text), c.time) << c.text;
}

}  // namespace
}  // namespace kiren
