#pragma once

#include <string>

namespace kiren {

// What the About box says of the build; a value that was not known at build time reads
// kNoData.
struct TBuildInfo {
  std::string BuildTime;
  std::string CommitDate;
  std::string Revision;
  std::string Hash;
};

inline const std::string kNoData = "нет данных";

// Seconds since 1970-01-01 00:00 UTC as "YYYY-MM-DD hh:mm +0300" (the time at UTC+3);
// kNoData for a negative time.
std::string FormatBuildTime(long long ASeconds);

// The build values as shown: ARevision < 0 and an empty hash are unknown; the hash is cut to
// its first 12 characters.
TBuildInfo MakeBuildInfo(long long ABuildTime, long long ACommitTime, long long ARevision,
                         const std::string& AHash);

// The values this program was built with.
TBuildInfo CurrentBuildInfo();

// "Build: ..", "Commit: ..", "Revision: ..", "Hash: .." joined by CR LF.
std::string BuildInfoText(const TBuildInfo& AInfo);

}  // namespace kiren
