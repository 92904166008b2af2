#include "logging/program_dir.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace kiren {

namespace {

std::mutex gMutex;
std::string gOverride;

std::string WithSlash(std::string ADir) {
  if (ADir.empty() || ADir.back() != '/')
    ADir += '/';
  return ADir;
}

std::string ExecutableDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path())
    return WithSlash(exe.parent_path().string());
  const auto cwd = std::filesystem::current_path(ec);
  return ec ? std::string("./") : WithSlash(cwd.string());
}

}  // namespace

std::string ProgramDir() {
  static const std::string exeDir = ExecutableDir();
  std::lock_guard<std::mutex> lock(gMutex);
  return gOverride.empty() ? exeDir : gOverride;
}

void SetProgramDir(const std::string& ADir) {
  std::lock_guard<std::mutex> lock(gMutex);
  gOverride = ADir.empty() ? std::string() : WithSlash(ADir);
}

}  // namespace kiren
