// Folders for files that may hold secrets (logs carry keys, the reader registry is trusted
// as it is listed): created for their owner alone, and checked before use where another
// user could have made them first.
#pragma once

#include <string>

namespace kiren {

// Creates each missing folder of APath with mode 0700; folders that exist are left as they
// are. True when APath is a folder afterwards (errno tells why not).
bool CreatePrivateDirs(const std::string& APath);

// True when APath is a real folder (not a link) of the calling user that neither group nor
// others may write into. Otherwise false and AWhy says why, in Russian, for the operator.
bool IsPrivateDir(const std::string& APath, std::string& AWhy);

}  // namespace kiren
