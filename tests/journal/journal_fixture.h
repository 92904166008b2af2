#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "journal/sqlite_journal.h"
#include "journal_rows.h"

namespace kiren::test {

using namespace std::chrono_literals;

// A fresh temporary folder per test, and journal rows to fill it with.
class JournalFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kiren_journal_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    fRoot = tmpl + "/";
    fPath = fRoot + "journal.sqlite3";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(fRoot, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(fRoot, ec);
  }

  std::unique_ptr<IJournal> Open(const std::string& APath = {}) {
    auto journal = OpenSqliteJournal(APath.empty() ? fPath : APath);
    EXPECT_TRUE(journal.ok()) << journal.error().Message;
    return journal.ok() ? std::move(journal).value() : nullptr;
  }

  // 2026-12-11 10:00:00 UTC plus AMinutes.
  static std::chrono::system_clock::time_point At(int AMinutes) {
    return std::chrono::system_clock::from_time_t(1796983200) + std::chrono::minutes(AMinutes);
  }

  static TJournalRecord CodeWrite(const std::string& AUid, const std::string& ACodeHex,
                                  int AMinutes) {
    return CodeWriteRow(AUid, ACodeHex, At(AMinutes));
  }

  static std::string ReadFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void WriteFile(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary) << AText;
  }
  static unsigned Mode(const std::string& APath) {
    struct stat st {};
    return ::stat(APath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
  }

  // Runs SQL on the file with a plain connection of its own.
  static void RawSql(const std::string& APath, const std::string& ASql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(APath.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, ASql.c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
  }

  std::string fRoot;
  std::string fPath;
};

}  // namespace kiren::test
