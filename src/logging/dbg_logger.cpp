#include "logging/dbg_logger.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "logging/program_dir.h"

namespace kiren {

namespace {

std::string EnvValue(const char* AName) {
  const char* v = std::getenv(AName);
  return v ? std::string(v) : std::string();
}

bool UsableDir(const std::string& ADir) {
  std::error_code ec;
  std::filesystem::create_directories(ADir, ec);
  return !ec && ::access(ADir.c_str(), W_OK | X_OK) == 0;
}

std::string StateHome() {
  const std::string xdg = EnvValue("XDG_STATE_HOME");
  if (!xdg.empty() && xdg.front() == '/')
    return xdg;
  std::string home = EnvValue("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
      home = pw->pw_dir;
  }
  return home + "/.local/state";
}

}  // namespace

std::string DbgLogDir() {
  const std::string forced = EnvValue("KIREN_LOG_DIR");
  if (!forced.empty())
    return TCommonLogger::GetFullDir(forced);
  const std::string besideProgram = ProgramDir() + "Logs/";
  if (UsableDir(besideProgram))
    return besideProgram;
  return StateHome() + "/kiren/Logs/";
}

std::shared_ptr<ISafeLogger> DbgLogger() {
  static const std::shared_ptr<ISafeLogger> logger = TSafeLogger::Create(DbgLogDir(), "dbg_", true);
  return logger;
}

}  // namespace kiren
