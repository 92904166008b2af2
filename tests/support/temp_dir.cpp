#include "temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace kiren::test {

TTempDir::TTempDir(const std::string& APrefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (APrefix + "-XXXXXX")).string();
  if (mkdtemp(tmpl.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder " + tmpl);
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  if (FKeep)
    return;
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

}  // namespace kiren::test
