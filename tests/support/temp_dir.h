#pragma once

#include <string>

namespace kiren::test {

// A unique empty folder under the system's temporary folder, removed with the object unless
// Keep() was called (to look at what a failed test left behind).
class TTempDir {
 public:
  explicit TTempDir(const std::string& APrefix = "kiren-test");
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  void Keep() { FKeep = true; }

 private:
  std::string FPath;
  bool FKeep = false;
};

}  // namespace kiren::test
