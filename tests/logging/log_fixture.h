#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "base/bytes.h"
#include "base/codepage.h"
#include "logging/common_logger.h"
#include "support/temp_dir.h"

namespace kiren::test {

// A fresh temporary folder per test and a hand-driven clock.
class LogFixture : public ::testing::Test {
 protected:
  TClock Clock() {
    return [now = fNow] { return *now; };
  }
  void SetTime(int AYear, int AMonth, int ADay, int AHour, int AMin, int ASec, int AMs) {
    *fNow = {AYear, AMonth, ADay, AHour, AMin, ASec, AMs};
  }

  std::shared_ptr<ICommonLogger> NewLogger(const std::string& APrefix = "dbg_") {
    return TCommonLogger::Create(fRoot, APrefix, true, Clock());
  }

  static Bytes ReadBytes(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string ReadCp1251(const std::string& APath) { return DecodeText(ReadBytes(APath)); }
  static void WriteFile(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary) << AText;
  }

  // Names of the entries directly in ADir.
  static std::set<std::string> Names(const std::string& ADir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(ADir))
      names.insert(e.path().filename().string());
    return names;
  }

  TTempDir fDir{"kiren_log"};
  std::string fRoot = fDir.Path() + "/";
  std::shared_ptr<TLocalDateTime> fNow =
      std::make_shared<TLocalDateTime>(TLocalDateTime{2019, 7, 9, 11, 41, 5, 123});
};

}  // namespace kiren::test
