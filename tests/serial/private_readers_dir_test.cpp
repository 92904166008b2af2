// The virtual readers' fallback folder under a shared temporary folder is taken only when it
// is the user's own and closed to others; anything else is refused and said once.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "serial/virtual_readers.h"

namespace kiren {
namespace {

namespace fs = std::filesystem;

class TRecordingSink : public IMessageSink {
 public:
  void Info(const std::string& AText) override { Texts.push_back(AText); }
  void Warning(const std::string& AText) override { Texts.push_back(AText); }
  bool Question(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> Texts;
};

// A shared temporary folder of its own (like /tmp: everyone may write, sticky), a recording
// message sink, and no umask, so that a folder made for everyone would show it.
class FallbackDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kiren_tmp_XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    FTmp = tmpl;
    ::chmod(FTmp.c_str(), 01777);
    FOldUmask = ::umask(0);
    FOldSink = SetMessageSink(FSink);
  }
  void TearDown() override {
    SetMessageSink(FOldSink);
    ::umask(FOldUmask);
    std::error_code ec;
    fs::remove_all(FTmp, ec);
  }

  std::string Base() const { return FTmp + "/kiren-" + std::to_string(::getuid()); }
  static unsigned Mode(const std::string& APath) {
    struct stat st {};
    EXPECT_EQ(::lstat(APath.c_str(), &st), 0) << APath;
    return st.st_mode & 07777;
  }
  // An entry that would pass for a live reader (this process) if the folder were taken.
  static void Plant(const std::string& ADir) {
    std::ofstream(ADir + "/0000000001-000000.reader")
        << "HardwareID=USB\\VID_0483&PID_5740\nFriendlyName=planted (pts/9)\nPort=pts/9\nPid="
        << ::getpid() << "\n";
  }

  std::string FTmp;
  mode_t FOldUmask = 0;
  std::shared_ptr<TRecordingSink> FSink = std::make_shared<TRecordingSink>();
  std::shared_ptr<IMessageSink> FOldSink;
};

TEST_F(FallbackDirTest, MadeForTheOwnerAlone) {
  const std::string dir = FallbackReadersDir(FTmp);
  EXPECT_EQ(dir, Base() + "/readers");
  EXPECT_EQ(Mode(Base()), 0700u);
  EXPECT_EQ(Mode(dir), 0700u);
  // Taken again as it is, and usable by a simulator.
  EXPECT_EQ(FallbackReadersDir(FTmp), dir);
  EXPECT_FALSE(
      RegisterVirtualReader({"USB\\VID_0483&PID_5740", "sim (pts/3)", "pts/3", 0}, dir).empty());
  EXPECT_EQ(ListVirtualReaders(dir).size(), 1u);
  EXPECT_TRUE(FSink->Texts.empty());
}

TEST_F(FallbackDirTest, RefusesFoldersOthersCanControl) {
  struct TCase {
    const char* Name;
    std::function<void(const std::string& ABase, const std::string& AOther)> Prepare;
  };
  const std::string other = FTmp + "/other";
  const TCase cases[] = {
      {"a link to a folder of ours",
       [](const std::string& B, const std::string& O) {
         ::mkdir(O.c_str(), 0700);
         ::mkdir((O + "/readers").c_str(), 0700);
         ::symlink(O.c_str(), B.c_str());
       }},
      {"writable by others",
       [](const std::string& B, const std::string&) { ::mkdir(B.c_str(), 0777); }},
      {"writable by the group",
       [](const std::string& B, const std::string&) { ::mkdir(B.c_str(), 0770); }},
      {"readers writable by others",
       [](const std::string& B, const std::string&) {
         ::mkdir(B.c_str(), 0700);
         ::mkdir((B + "/readers").c_str(), 0777);
       }},
      {"a file", [](const std::string& B, const std::string&) { std::ofstream(B) << "x"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::error_code ec;
    fs::remove_all(Base(), ec);
    fs::remove_all(other, ec);
    c.Prepare(Base(), other);
    if (fs::is_directory(Base() + "/readers"))
      Plant(Base() + "/readers");
    EXPECT_EQ(FallbackReadersDir(FTmp), "");
    EXPECT_TRUE(ListVirtualReaders(FallbackReadersDir(FTmp)).empty());
  }
  // Said once per run, not at every look at the port list.
  ASSERT_EQ(FSink->Texts.size(), 1u);
  EXPECT_NE(FSink->Texts[0].find("Виртуальные считыватели не показываются: папка " + Base() +
                                 " является ссылкой"),
            std::string::npos)
      << FSink->Texts[0];
}

TEST_F(FallbackDirTest, RefusesAFolderPlantedByAnotherUser) {
  ASSERT_EQ(::mkdir(Base().c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((Base() + "/readers").c_str(), 0700), 0);
  Plant(Base() + "/readers");
  const passwd* nobody = ::getpwnam("nobody");
  const uid_t otherUid = nobody ? nobody->pw_uid : 65534;
  if (otherUid == ::getuid() || ::lchown(Base().c_str(), otherUid, static_cast<gid_t>(-1)) != 0)
    GTEST_SKIP() << "cannot give a folder to another user here (needs root or CAP_CHOWN)";
  EXPECT_EQ(FallbackReadersDir(FTmp), "");
  EXPECT_TRUE(ListVirtualReaders(FallbackReadersDir(FTmp)).empty());
  // The first refusal of this process names the owner (another case may have come first).
  EXPECT_LE(FSink->Texts.size(), 1u);
  for (const auto& text : FSink->Texts)
    EXPECT_NE(text.find("принадлежит другому пользователю (uid " + std::to_string(otherUid)),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace kiren
