#include "logging/safe_logger.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <thread>

#include "log_fixture.h"
#include "logging/dbg_logger.h"
#include "logging/program_dir.h"

namespace kiren {
namespace {

using test::LogFixture;

TEST_F(LogFixture, SafeLoggerSerialisesTwoWritingThreads) {
  std::shared_ptr<ISafeLogger> log = TSafeLogger::Create(fRoot, "dbg_", true, Clock());
  constexpr int kLines = 300;
  auto writer = [&log](char AName) {
    for (int i = 0; i < kLines; ++i) {
      if (i % 3 == 0) {
        // A locked group: nothing from the other thread lands in between.
        auto inner = log->Lock();
        inner->AddStrSimple(std::string(1, AName) + "{");
        log->AddStr("%s%d", {std::string(1, AName), i}, false, "");  // recursive: no deadlock
        inner->AddStrSimple(std::string(1, AName) + "}");
        log->Unlock();
      } else {
        log->AddEmptyLine();
        log->AddHexData(Bytes{static_cast<std::uint8_t>(AName)}, true);
      }
    }
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  log->Close();

  std::istringstream in(ReadCp1251(fRoot + "dbg_2019.07.09_11.41.05.txt"));
  int hexLines = 0, groups = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with("{\r")) {
      std::string mid, close;
      ASSERT_TRUE(std::getline(in, mid) && std::getline(in, close));
      EXPECT_EQ(mid[0], line[0]);
      EXPECT_EQ(close, std::string(1, line[0]) + "}\r");
      ++groups;
    } else if (line.find(" >> ") != std::string::npos) {
      ++hexLines;
    }
  }
  EXPECT_EQ(groups, 2 * kLines / 3);
  EXPECT_EQ(hexLines, 2 * (kLines - kLines / 3));
}

TEST_F(LogFixture, SafeLoggerReleasesTheLockWhenACallThrows) {
  std::shared_ptr<ISafeLogger> log = TSafeLogger::Create(fRoot, "dbg_", true, Clock());
  EXPECT_THROW(log->AddStr("%d", {"not a number"}, true, ""), std::invalid_argument);
  std::thread([&] { log->AddStrSimple("other thread"); }).join();
  EXPECT_EQ(ReadCp1251(fRoot + "dbg_2019.07.09_11.41.05.txt"), "other thread\r\n");
}

TEST_F(LogFixture, DbgLogDirChoice) {
  unsetenv("KIREN_LOG_DIR");
  SetProgramDir(fRoot + "prog");
  EXPECT_EQ(DbgLogDir(), fRoot + "prog/Logs/");
  EXPECT_TRUE(std::filesystem::is_directory(fRoot + "prog/Logs"));

  // Logs cannot be created beside the program: the user's state folder.
  WriteFile(fRoot + "file", "x");
  SetProgramDir(fRoot + "file");
  setenv("XDG_STATE_HOME", (fRoot + "state").c_str(), 1);
  EXPECT_EQ(DbgLogDir(), fRoot + "state/kiren/Logs/");
  setenv("XDG_STATE_HOME", "relative/ignored", 1);
  setenv("HOME", (fRoot + "home").c_str(), 1);
  EXPECT_EQ(DbgLogDir(), fRoot + "home/.local/state/kiren/Logs/");

  setenv("KIREN_LOG_DIR", (fRoot + "forced").c_str(), 1);
  EXPECT_EQ(DbgLogDir(), fRoot + "forced/");
  unsetenv("KIREN_LOG_DIR");
  SetProgramDir("");
}

TEST_F(LogFixture, DbgLoggerIsOneSharedLoggerBesideTheProgram) {
  unsetenv("KIREN_LOG_DIR");
  SetProgramDir(fRoot);
  auto log = DbgLogger();
  EXPECT_EQ(log, DbgLogger());
  EXPECT_EQ(log->GetDir(), fRoot + "Logs/");
  EXPECT_EQ(log->GetPrefix(), "dbg_");
  EXPECT_TRUE(log->GetActive());
  EXPECT_EQ(log->GetCodePage(), TCodePage::Cp1251);
  EXPECT_EQ(log->GetMaxSize(), 0);
  log->AddHexData(Bytes{0x01}, true, "");
  ASSERT_EQ(Names(fRoot + "Logs").size(), 1u);
  const std::string name = *Names(fRoot + "Logs").begin();
  EXPECT_TRUE(name.starts_with("dbg_") && name.ends_with(".txt") && name.size() == 27) << name;
  log->Close();
  SetProgramDir("");
}

}  // namespace
}  // namespace kiren
