#include "info/build_info.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>

#include "info/file_version.h"

namespace kiren {
namespace {

TEST(BuildInfo, TimesShowAtUtcPlusThree) {
  struct TCase {
    long long Seconds;
    const char* Shown;
  };
  const TCase cases[] = {
      {0, "1970-01-01 03:00 +0300"},
      {1767214799, "2025-12-31 23:59 +0300"},  // seconds are dropped, not rounded
      {1767214800, "2026-01-01 00:00 +0300"},  // 2025-12-31 21:00 UTC
      {951857999, "2000-02-29 23:59 +0300"},   // leap day
      {-1, "нет данных"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(FormatBuildTime(c.Seconds), c.Shown) << c.Seconds;
}

TEST(BuildInfo, TextHasFourLinesAndUnknownValuesSaySo) {
  const TBuildInfo known = MakeBuildInfo(0, 60, 42, "0123456789abcdef0123456789abcdef01234567");
  EXPECT_EQ(BuildInfoText(known),
            "Build: 1970-01-01 03:00 +0300\r\nCommit: 1970-01-01 03:01 +0300\r\n"
            "Revision: 42\r\nHash: 0123456789ab");
  const TBuildInfo unknown = MakeBuildInfo(0, -1, -1, "");
  EXPECT_EQ(BuildInfoText(unknown),
            "Build: 1970-01-01 03:00 +0300\r\nCommit: нет данных\r\n"
            "Revision: нет данных\r\nHash: нет данных");
}

// std::regex trips a false uninitialised warning of GCC 12 under the sanitizers.
bool Matches(const std::string& AText, const char* APattern) {
  const QRegularExpression pattern(QRegularExpression::anchoredPattern(APattern));
  return pattern.match(QString::fromStdString(AText)).hasMatch();
}

TEST(BuildInfo, CurrentValuesAreWellFormed) {
  const TBuildInfo info = CurrentBuildInfo();
  const char* time = R"(\d{4}-\d\d-\d\d \d\d:\d\d \+0300)";
  EXPECT_TRUE(Matches(info.BuildTime, time)) << info.BuildTime;
  EXPECT_TRUE(info.CommitDate == kNoData || Matches(info.CommitDate, time)) << info.CommitDate;
  EXPECT_TRUE(info.Revision == kNoData || Matches(info.Revision, R"(\d+)")) << info.Revision;
  EXPECT_TRUE(info.Hash == kNoData || Matches(info.Hash, "[0-9a-f]{12}")) << info.Hash;
}

TEST(FileVersion, LocaleNamesGiveLanguageIds) {
  struct TCase {
    const char* Lang;
    std::uint16_t Id;
  };
  const TCase cases[] = {{"ru-RU", 1049}, {"ru_RU", 1049}, {"en-US", 1033}, {"en_GB", 2057},
                         {"EN-xx", 1033}, {"de-DE", 1049}, {"", 1049}};
  for (const TCase& c : cases)
    EXPECT_EQ(LangIdOfLocale(c.Lang), c.Id) << c.Lang;
}

}  // namespace
}  // namespace kiren
