// Registry of virtual readers (simulated devices on pseudo-terminals).
// A running simulator drops one entry file into a per-user runtime directory;
// port discovery lists these entries after the real USB devices.
#pragma once

#include <string>
#include <vector>

namespace kiren {

struct TVirtualReader {
  std::string HardwareID, FriendlyName, Port;
  long Pid = 0;
};

// $XDG_RUNTIME_DIR/kiren/readers, or FallbackReadersDir("/tmp"); created with mode 0700.
// Empty when the fallback folder is refused.
std::string VirtualReadersDir();

// ATmp/kiren-<uid>/readers, created with mode 0700 when missing. Empty when kiren-<uid> or
// readers is a link, belongs to another user or may be written by group or others; the
// first refusal in a process is told through MsgWarning.
std::string FallbackReadersDir(const std::string& ATmp);

// Writes an entry file atomically (temporary file + rename) and returns its path,
// or an empty string when the entry cannot be written.
std::string RegisterVirtualReader(const TVirtualReader& AReader,
                                  const std::string& ADir = VirtualReadersDir());

// Removes an entry written by RegisterVirtualReader; a missing file is not an error.
void UnregisterVirtualReader(const std::string& APath);

// Entries of live processes, ordered by file name; entries whose process is gone are
// removed on the way.
std::vector<TVirtualReader> ListVirtualReaders(const std::string& ADir = VirtualReadersDir());

}  // namespace kiren
