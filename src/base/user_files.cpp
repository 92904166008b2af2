#include "base/user_files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace kiren {

namespace {

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home)
    return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw && pw->pw_dir ? std::string(pw->pw_dir) : std::string("/");
}

std::string JoinPath(const std::string& ADir, const std::string& AName) {
  return (std::filesystem::path(ADir) / AName).string();
}

}  // namespace

bool IsWritableDir(const std::string& ADir) {
  struct stat st {};
  return !ADir.empty() && ::stat(ADir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(ADir.c_str(), W_OK | X_OK) == 0;
}

std::string UserBaseDir(TUserFolder AFolder, const std::string& AUserHome) {
  if (!AUserHome.empty())
    return AUserHome;
  const bool config = AFolder == TUserFolder::Config;
  const char* xdg = std::getenv(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME");
  if (xdg && *xdg == '/')
    return xdg;
  return JoinPath(HomeDir(), config ? ".config" : ".local/share");
}

std::string ProgramFilePath(const std::string& AProgramDir, const std::string& AFileName,
                            TUserFolder AFolder, const std::string& AUserHome) {
  if (IsWritableDir(AProgramDir))
    return JoinPath(AProgramDir, AFileName);
  return JoinPath(JoinPath(UserBaseDir(AFolder, AUserHome), "kiren"), AFileName);
}

}  // namespace kiren
