#include "serial/virtual_readers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "base/message_sink.h"
#include "base/private_dirs.h"

namespace kiren {

namespace {

namespace fs = std::filesystem;

constexpr const char* kEntrySuffix = ".reader";

// Entry values are single lines; a line break inside one would split the entry.
std::string OneLine(std::string AValue) {
  std::replace(AValue.begin(), AValue.end(), '\n', ' ');
  std::replace(AValue.begin(), AValue.end(), '\r', ' ');
  return AValue;
}

bool ProcessIsGone(long APid) {
  return kill(static_cast<pid_t>(APid), 0) == -1 && errno == ESRCH;
}

bool ParseEntry(const fs::path& AFile, TVirtualReader& AReader) {
  std::ifstream In(AFile);
  if (!In)
    return false;
  std::string Line;
  bool HasPid = false;
  while (std::getline(In, Line)) {
    const auto Eq = Line.find('=');
    if (Eq == std::string::npos)
      continue;
    const std::string Key = Line.substr(0, Eq);
    const std::string Value = Line.substr(Eq + 1);
    if (Key == "HardwareID") {
      AReader.HardwareID = Value;
    } else if (Key == "FriendlyName") {
      AReader.FriendlyName = Value;
    } else if (Key == "Port") {
      AReader.Port = Value;
    } else if (Key == "Pid") {
      char* End = nullptr;
      errno = 0;
      AReader.Pid = std::strtol(Value.c_str(), &End, 10);
      // A number beyond pid_t would name another process once narrowed (or all of them).
      HasPid = End != Value.c_str() && *End == '\0' && errno == 0 && AReader.Pid > 0 &&
               AReader.Pid <= std::numeric_limits<pid_t>::max();
    }
  }
  return HasPid;
}

}  // namespace

std::string FallbackReadersDir(const std::string& ATmp) {
  static std::atomic<bool> Warned{false};
  const std::string Base = ATmp + "/kiren-" + std::to_string(getuid());
  const std::string Dir = Base + "/readers";
  // In a folder every user may write to, another user could have made ours first and fill it
  // with entries: it is taken only when it is our own and closed to others.
  std::string Why;
  mkdir(Base.c_str(), 0700);
  if (IsPrivateDir(Base, Why)) {
    mkdir(Dir.c_str(), 0700);
    if (IsPrivateDir(Dir, Why))
      return Dir;
  }
  if (!Warned.exchange(true))
    MsgWarning("Виртуальные считыватели не показываются: " + Why);
  return {};
}

std::string VirtualReadersDir() {
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime == nullptr || *Runtime == '\0')
    return FallbackReadersDir("/tmp");
  const std::string Dir = std::string(Runtime) + "/kiren/readers";
  CreatePrivateDirs(Dir);
  return Dir;
}

std::string RegisterVirtualReader(const TVirtualReader& AReader, const std::string& ADir) {
  static std::atomic<unsigned> Counter{0};
  if (ADir.empty() || !CreatePrivateDirs(ADir))
    return {};
  const long Pid = AReader.Pid > 0 ? AReader.Pid : static_cast<long>(getpid());
  // Zero-padded so that the name order is the registration order within one process.
  char Base[48];
  std::snprintf(Base, sizeof Base, "%010ld-%06u", Pid, Counter++);
  const std::string Name = Base + std::string(kEntrySuffix);
  const std::string Path = ADir + "/" + Name;
  const std::string Temp = ADir + "/." + Name + ".tmp";
  {
    std::ofstream Out(Temp, std::ios::trunc);
    Out << "HardwareID=" << OneLine(AReader.HardwareID) << "\n"
        << "FriendlyName=" << OneLine(AReader.FriendlyName) << "\n"
        << "Port=" << OneLine(AReader.Port) << "\n"
        << "Pid=" << Pid << "\n";
    Out.flush();
    if (!Out) {
      Out.close();
      std::remove(Temp.c_str());
      return {};
    }
  }
  if (std::rename(Temp.c_str(), Path.c_str()) != 0) {
    std::remove(Temp.c_str());
    return {};
  }
  return Path;
}

void UnregisterVirtualReader(const std::string& APath) {
  if (!APath.empty())
    std::remove(APath.c_str());
}

std::vector<TVirtualReader> ListVirtualReaders(const std::string& ADir) {
  std::vector<TVirtualReader> Result;
  if (ADir.empty())
    return Result;
  std::error_code Ec;
  std::vector<fs::path> Files;
  for (fs::directory_iterator It(ADir, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const fs::path& P = It->path();
    const std::string Name = P.filename().string();
    if (Name.empty() || Name[0] == '.' || P.extension() != kEntrySuffix)
      continue;
    Files.push_back(P);
  }
  std::sort(Files.begin(), Files.end());
  for (const auto& File : Files) {
    TVirtualReader Reader;
    if (!ParseEntry(File, Reader))
      continue;
    if (ProcessIsGone(Reader.Pid)) {
      fs::remove(File, Ec);
      continue;
    }
    Result.push_back(std::move(Reader));
  }
  return Result;
}

}  // namespace kiren
