#include "base/private_dirs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kiren {

bool CreatePrivateDirs(const std::string& APath) {
  if (APath.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string partial;
  std::size_t pos = 0;
  while (pos <= APath.size()) {
    const std::size_t slash = APath.find('/', pos);
    const std::size_t end = slash == std::string::npos ? APath.size() : slash;
    partial = APath.substr(0, end);
    if (!partial.empty() && ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      return false;
    pos = end + 1;
  }
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0)
    return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

bool IsPrivateDir(const std::string& APath, std::string& AWhy) {
  struct stat st {};
  if (::lstat(APath.c_str(), &st) != 0) {
    AWhy = "папка " + APath + " недоступна: " + std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    AWhy = "папка " + APath + " является ссылкой";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    AWhy = APath + " не является папкой";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    AWhy = "папка " + APath + " принадлежит другому пользователю (uid " +
           std::to_string(st.st_uid) + ")";
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    AWhy = "в папку " + APath + " могут писать другие пользователи";
    return false;
  }
  AWhy.clear();
  return true;
}

}  // namespace kiren
