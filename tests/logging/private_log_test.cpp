// The debug log is kept to its owner (it carries keys) and can leave the keys out.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "log_fixture.h"
#include "logging/common_logger.h"
#include "logging/dbg_logger.h"
#include "logging/program_dir.h"
#include "protocol/frame.h"

namespace kiren {
namespace {

using test::LogFixture;

unsigned Mode(const std::string& APath) {
  struct stat st {};
  EXPECT_EQ(::stat(APath.c_str(), &st), 0) << APath;
  return st.st_mode & 07777;
}

// With no umask, a folder or file made for everyone would show it.
class NoUmask {
 public:
  NoUmask() : FOld(::umask(0)) {}
  ~NoUmask() { ::umask(FOld); }

 private:
  mode_t FOld;
};

TEST_F(LogFixture, NewFoldersAndFilesAreTheOwnersAlone) {
  NoUmask noUmask;
  auto log = TCommonLogger::Create(fRoot + "a/b/Logs", "dbg_", true, Clock());
  log->AddHexData(Bytes{0x01}, true, "");
  ASSERT_TRUE(log->IsOpened()) << log->GetLastOpenError();
  for (const char* dir : {"a", "a/b", "a/b/Logs"})
    EXPECT_EQ(Mode(fRoot + dir), 0700u) << dir;
  EXPECT_EQ(Mode(fRoot + "a/b/Logs/dbg_2019.07.09_11.41.05.txt"), 0600u);

  // The day folders too.
  log->SetDayInDir(true);
  ASSERT_TRUE(log->Open());
  EXPECT_EQ(Mode(fRoot + "a/b/Logs/2019.07.09"), 0700u);

  // A file that is already there is appended to and keeps its mode.
  WriteFile(fRoot + "kept.txt", "old\r\n");
  ::chmod((fRoot + "kept.txt").c_str(), 0644);
  log->SetDayInDir(false);
  log->SetFileName(fRoot + "kept.txt");
  ASSERT_TRUE(log->Open());
  log->AddStrSimple("new");
  EXPECT_EQ(Mode(fRoot + "kept.txt"), 0644u);
  EXPECT_EQ(ReadCp1251(fRoot + "kept.txt"), "old\r\nnew\r\n");
}

TEST_F(LogFixture, LogsFolderBesideTheProgramIsPrivate) {
  NoUmask noUmask;
  ::unsetenv("KIREN_LOG_DIR");
  SetProgramDir(fRoot + "prog");
  ASSERT_EQ(::mkdir((fRoot + "prog").c_str(), 0755), 0);
  EXPECT_EQ(DbgLogDir(), fRoot + "prog/Logs/");
  EXPECT_EQ(Mode(fRoot + "prog/Logs"), 0700u);
  SetProgramDir("");
}

Bytes LoadKeyFrame(const TKey& AKey) {
  return TBuilder::Finalize(TBuilder::Req_LoadKey(0xAA, AKey));
}

// The masked text of a whole load-key frame: start, any length, command, key type, six
// hidden key bytes, then the CRC as sent (two bytes, each maybe escaped).
std::regex MaskedFrame(const std::string& AKeyType) {
  return std::regex("FE [0-9A-F]{2} A1 " + AKeyType +
                    " \\*\\* \\*\\* \\*\\* \\*\\* \\*\\* \\*\\* ([0-9A-F]{2} ){1,3}[0-9A-F]{2}");
}

TEST(MaskKeys, OnlyTheKeyBytesOfLoadKeyRequestsAreHidden) {
  const Bytes plainKey = LoadKeyFrame({0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
  struct TCase {
    const char* Name;
    Bytes Frame;
    std::string Masked = {};  // pattern of the text with keys hidden; empty: as BufToHex shows it
  };
  const TCase cases[] = {
      {.Name = "plain key", .Frame = plainKey, .Masked = "AA"},
      // Escaped key bytes (FE -> FF 01, FF -> FF 00) are one "**" each.
      {.Name = "escaped key bytes",
       .Frame = LoadKeyFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}),
       .Masked = "AA"},
      {.Name = "key type B",
       .Frame =
           TBuilder::Finalize(TBuilder::Req_LoadKey(0xBB, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5})),
       .Masked = "BB"},
      {.Name = "read block", .Frame = TBuilder::Finalize(TBuilder::Req_ReadBlock(4, 0xAA))},
      {.Name = "version (command FE, escaped)",
       .Frame = TBuilder::Finalize(TBuilder::Req_GetVerInfo())},
      {.Name = "A1 as a payload byte", .Frame = TBuilder::Finalize(TBuilder::Req_SetupMode(0xA1))},
      {.Name = "too short", .Frame = {0xFE, 0x0A}},
      {.Name = "empty", .Frame = {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string plain = TCommonLogger::BufToHex(c.Frame);
    EXPECT_EQ(DbgRequestHex(c.Frame, false), plain);
    const std::string masked = DbgRequestHex(c.Frame, true);
    if (c.Masked.empty()) {
      EXPECT_EQ(masked, plain);
      continue;
    }
    EXPECT_TRUE(std::regex_match(masked, MaskedFrame(c.Masked))) << masked;
    // The CRC is shown as sent: both texts end alike.
    EXPECT_EQ(masked.substr(masked.size() - 5), plain.substr(plain.size() - 5));
  }
  // A frame cut inside the key shows what there is of it, hidden.
  const Bytes cut(plainKey.begin(), plainKey.begin() + 6);
  EXPECT_EQ(DbgRequestHex(cut, true), TCommonLogger::BufToHex(cut.data(), 4) + " ** **");
}

// The request lines (">>" or "<<" and the bytes) of a debug log, without their timestamps.
std::vector<std::string> HexLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::istringstream in(AText);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (const auto pos = line.find(' '); pos != std::string::npos && line.size() > pos + 3)
      lines.push_back(line.substr(pos + 1));
  }
  return lines;
}

TEST_F(LogFixture, DebugLogHidesKeysWhileMaskKeysIsOn) {
  NoUmask noUmask;
  ::setenv("KIREN_LOG_DIR", fRoot.c_str(), 1);
  const Bytes frame = LoadKeyFrame({0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
  EXPECT_FALSE(GetMaskKeys());  // off unless asked for
  auto log = DbgLogger();
  SetMaskKeys(true);
  log->AddHexData(frame, true, "");
  log->AddHexData(frame, false, "");  // received bytes are never changed
  SetMaskKeys(false);
  log->AddHexData(frame, true, "");
  log->Close();
  ::unsetenv("KIREN_LOG_DIR");

  const auto names = Names(fRoot);
  ASSERT_EQ(names.size(), 1u);
  const std::string plain = TCommonLogger::BufToHex(frame);
  const std::string hidden = plain.substr(0, 12) + "** ** ** ** ** ** " + plain.substr(30);
  EXPECT_EQ(HexLines(ReadCp1251(fRoot + *names.begin())),
            (std::vector<std::string>{">> " + hidden, "<< " + plain, ">> " + plain}));
  EXPECT_EQ(Mode(fRoot + *names.begin()), 0600u);
}

}  // namespace
}  // namespace kiren
