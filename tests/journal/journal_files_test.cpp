#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "journal_fixture.h"

namespace kiren::test {
namespace {

using JournalFiles = JournalFixture;

// Runs AOpen in a child process; under root the child drops to an unprivileged user first, so
// file permissions are honoured. Returns the error kind the child saw.
TJournalErrorKind KindInChild(const std::function<TJournalErrorKind()>& AOpen) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(100);
    ::_exit(static_cast<int>(AOpen()));
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return static_cast<TJournalErrorKind>(99);
  return static_cast<TJournalErrorKind>(WEXITSTATUS(status));
}

TEST_F(JournalFiles, JournalAndItsSideFilesArePrivateWhateverTheUmask) {
  const std::string path = fRoot + "new/folder/journal.sqlite3";
  const mode_t old = ::umask(0);
  auto journal = Open(path);
  ::umask(old);
  ASSERT_TRUE(journal);
  ASSERT_TRUE(journal->Append(CodeWrite("AA01", "1", 0)));
  EXPECT_EQ(Mode(path), 0600u);
  EXPECT_EQ(Mode(path + "-wal"), 0600u);
  EXPECT_EQ(Mode(path + "-shm"), 0600u);
  EXPECT_EQ(Mode(fRoot + "new/folder"), 0700u);
  journal.reset();

  // A journal copied with a wider mode is made private again when opened.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  journal = Open(path);
  ASSERT_TRUE(journal);
  EXPECT_EQ(Mode(path), 0600u);
}

TEST_F(JournalFiles, LocationBesideTheProgramOrInTheUserDataFolder) {
  const std::string prog = fRoot + "bin";
  std::filesystem::create_directory(prog);
  EXPECT_EQ(JournalFilePath(prog, fRoot + "data"), prog + "/journal.sqlite3");
  EXPECT_EQ(JournalFilePath(prog + "/", fRoot + "data"), prog + "/journal.sqlite3");
  EXPECT_EQ(JournalFilePath(prog + "/missing", fRoot + "data"),
            fRoot + "data/kiren/journal.sqlite3");

  const char* oldXdg = getenv("XDG_DATA_HOME");
  const std::optional<std::string> saved =
      oldXdg ? std::optional<std::string>(oldXdg) : std::nullopt;
  setenv("XDG_DATA_HOME", (fRoot + "xdg").c_str(), 1);
  EXPECT_EQ(JournalFilePath(prog + "/missing"), fRoot + "xdg/kiren/journal.sqlite3");
  setenv("XDG_DATA_HOME", "relative/ignored", 1);
  if (const char* home = getenv("HOME"); home && *home == '/') {
    EXPECT_EQ(JournalFilePath(prog + "/missing"),
              std::string(home) + "/.local/share/kiren/journal.sqlite3");
  }
  if (saved)
    setenv("XDG_DATA_HOME", saved->c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");

  // A folder that cannot be written sends the file to the user folder.
  ASSERT_EQ(::chmod(prog.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(fRoot.c_str(), 0755), 0);
  const std::string data = fRoot + "data";
  EXPECT_EQ(KindInChild([&] {
              return JournalFilePath(prog, data) == data + "/kiren/journal.sqlite3"
                         ? TJournalErrorKind::None
                         : TJournalErrorKind::Io;
            }),
            TJournalErrorKind::None);
}

TEST_F(JournalFiles, DamagedFilesGiveAClearMessage) {
  // A journal with rows, cut short or overwritten in the middle.
  {
    auto journal = Open();
    ASSERT_TRUE(journal);
    for (int i = 0; i < 200; ++i)
      ASSERT_TRUE(journal->Append(CodeWrite("AA" + std::to_string(i), std::to_string(i), i)));
  }
  const std::string good = ReadFile(fPath);
  ASSERT_GT(good.size(), 8192u);
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"text file", "это не база данных, а просто текст\n"},
      {"cut short", good.substr(0, good.size() / 2)},
      {"overwritten inside", good.substr(0, 4096) + std::string(4096, '\x5A') + good.substr(8192)},
      {"header only", good.substr(0, 100)},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(fPath + "-wal");
    std::filesystem::remove(fPath + "-shm");
    WriteFile(fPath, c.content);
    const auto journal = OpenSqliteJournal(fPath);
    ASSERT_FALSE(journal) << c.name;
    EXPECT_EQ(journal.error().Kind, TJournalErrorKind::Corrupt) << c.name;
    EXPECT_NE(journal.error().Message.find("повреждён"), std::string::npos)
        << c.name << ": " << journal.error().Message;
  }
}

TEST_F(JournalFiles, LockedJournalGivesAClearMessage) {
  ASSERT_TRUE(Open());
  // Another program holds the file for itself.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(fPath.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other,
                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;"
                         " INSERT INTO series VALUES ('x', 1);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const auto journal = OpenSqliteJournal(fPath);
  ASSERT_FALSE(journal);
  EXPECT_EQ(journal.error().Kind, TJournalErrorKind::Locked);
  EXPECT_NE(journal.error().Message.find("занят другой программой"), std::string::npos)
      << journal.error().Message;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(Open());
}

TEST_F(JournalFiles, AppendToABusyJournalFailsWithAClearMessage) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(fPath.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto id = journal->Append(CodeWrite("AA01", "1", 0));
  ASSERT_FALSE(id);
  EXPECT_EQ(id.error().Kind, TJournalErrorKind::Locked) << id.error().Message;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(journal->Append(CodeWrite("AA01", "1", 0)));
}

TEST_F(JournalFiles, ReadOnlyOrMissingPlacesGiveAClearMessage) {
  ASSERT_TRUE(Open());
  ASSERT_EQ(::chmod(fRoot.c_str(), 0777), 0);
  ASSERT_EQ(::chown(fPath.c_str(), ::geteuid() == 0 ? 65534 : ::geteuid(), -1), 0);
  const std::string path = fPath;
  const auto kindOf = [&path] {
    const auto journal = OpenSqliteJournal(path);
    return journal ? TJournalErrorKind::None : journal.error().Kind;
  };

  ASSERT_EQ(::chmod(fPath.c_str(), 0400), 0);  // the file
  EXPECT_EQ(KindInChild(kindOf), TJournalErrorKind::ReadOnly);
  ASSERT_EQ(::chmod(fPath.c_str(), 0600), 0);
  EXPECT_EQ(KindInChild(kindOf), TJournalErrorKind::None);
  ASSERT_EQ(::chmod(fRoot.c_str(), 0555), 0);  // its folder: no room for the write-ahead log
  EXPECT_EQ(KindInChild(kindOf), TJournalErrorKind::ReadOnly);
  const std::string fresh = fRoot + "other.sqlite3";  // no file yet, and none can be made
  EXPECT_EQ(KindInChild([&fresh] {
              const auto journal = OpenSqliteJournal(fresh);
              return journal ? TJournalErrorKind::None : journal.error().Kind;
            }),
            TJournalErrorKind::ReadOnly);
  ASSERT_EQ(::chmod(fRoot.c_str(), 0700), 0);

  // Not a file at all.
  std::filesystem::create_directory(fRoot + "folder.sqlite3");
  const auto folder = OpenSqliteJournal(fRoot + "folder.sqlite3");
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().Kind, TJournalErrorKind::CannotOpen);
  EXPECT_NE(folder.error().Message.find("не является обычным файлом"), std::string::npos);
}

}  // namespace
}  // namespace kiren::test
