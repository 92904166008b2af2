#include "info/build_info.h"

#include <cstdio>
#include <ctime>

#include "info/build_constants.h"

namespace kiren {

namespace {

constexpr long long kShownZoneSeconds = 3 * 3600;
constexpr std::size_t kShortHashLength = 12;

}  // namespace

std::string FormatBuildTime(long long ASeconds) {
  if (ASeconds < 0)
    return kNoData;
  const std::time_t shifted = static_cast<std::time_t>(ASeconds + kShownZoneSeconds);
  std::tm parts{};
  gmtime_r(&shifted, &parts);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d +0300", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min);
  return text;
}

TBuildInfo MakeBuildInfo(long long ABuildTime, long long ACommitTime, long long ARevision,
                         const std::string& AHash) {
  TBuildInfo info;
  info.BuildTime = FormatBuildTime(ABuildTime);
  info.CommitDate = FormatBuildTime(ACommitTime);
  info.Revision = ARevision < 0 ? kNoData : std::to_string(ARevision);
  info.Hash = AHash.empty() ? kNoData : AHash.substr(0, kShortHashLength);
  return info;
}

TBuildInfo CurrentBuildInfo() {
  return MakeBuildInfo(KIREN_BUILD_TIME, KIREN_COMMIT_TIME, KIREN_REVISION, KIREN_COMMIT_HASH);
}

std::string BuildInfoText(const TBuildInfo& AInfo) {
  return "Build: " + AInfo.BuildTime + "\r\nCommit: " + AInfo.CommitDate +
         "\r\nRevision: " + AInfo.Revision + "\r\nHash: " + AInfo.Hash;
}

}  // namespace kiren
