#include "journal/journal_settings.h"

#include <stdlib.h>

#include <filesystem>

#include "journal/journal_open.h"

#include <gtest/gtest.h>

namespace kiren {
namespace {

TEST(JournalSettingsTest, IniSectionReadsOnlyItsSection) {
  const std::string ini =
      "[Common]\nConnection=elsewhere\n"
      "[Journal]\r\n"
      "; a comment\n"
      "# another\n"
      "  Backend = postgresql \r\n"
      "Connection=\"host=/tmp/pg dbname=kiren user=station1\"\n"
      "no equals sign\n"
      "[Other]\nBackend=sqlite\n";
  const TIniPairs expected = {{"Backend", "postgresql"},
                              {"Connection", "host=/tmp/pg dbname=kiren user=station1"}};
  EXPECT_EQ(IniSection(ini, "Journal"), expected);
  EXPECT_TRUE(IniSection(ini, "Missing").empty());
}

struct TSettingsCase {
  const char* Name = "";
  TIniPairs Section{};
  std::optional<TJournalSettings> Expected{};  // nothing: refused
  const char* MessagePart = "";                // in the refusal
};

TEST(JournalSettingsTest, BackendAndConnection) {
  const std::string secret = "s3cr3t-word";
  const TSettingsCase cases[] = {
      {.Name = "empty section", .Section = {}, .Expected = TJournalSettings{}},
      {.Name = "connection alone means PostgreSQL",
       .Section = {{"Connection", "host=db1 dbname=kiren user=station1"}},
       .Expected =
           TJournalSettings{TJournalBackend::PostgreSql, "host=db1 dbname=kiren user=station1"}},
      {.Name = "explicit sqlite ignores the connection",
       .Section = {{"Backend", "SQLite"}, {"Connection", "host=db1"}},
       .Expected = TJournalSettings{}},
      {.Name = "keys in any case",
       .Section = {{"backend", "PostgreSQL"}, {"CONNECTION", "postgresql://st1@db1/kiren"}},
       .Expected = TJournalSettings{TJournalBackend::PostgreSql, "postgresql://st1@db1/kiren"}},
      {.Name = "PostgreSQL from the environment",
       .Section = {{"Backend", "postgresql"}},
       .Expected = TJournalSettings{TJournalBackend::PostgreSql, ""}},
      {.Name = "unknown backend",
       .Section = {{"Backend", "mysql"}},
       .Expected = std::nullopt,
       .MessagePart = "Backend=mysql"},
      {.Name = "password keyword",
       .Section = {{"Connection", "host=db1 user=st1 password=" + secret}},
       .Expected = std::nullopt,
       .MessagePart = ".pgpass"},
      {.Name = "quoted password keyword",
       .Section = {{"Connection", "host=db1 password = '" + secret + " x'"}},
       .Expected = std::nullopt,
       .MessagePart = ".pgpass"},
      {.Name = "empty password keyword",
       .Section = {{"Connection", "host=db1 password="}},
       .Expected = std::nullopt,
       .MessagePart = ".pgpass"},
      {.Name = "password in a URI",
       .Section = {{"Connection", "postgresql://st1:" + secret + "@db1/kiren"}},
       .Expected = std::nullopt,
       .MessagePart = "PGPASSFILE"},
      {.Name = "password as a URI parameter",
       .Section = {{"Connection", "postgresql://db1/kiren?password=" + secret}},
       .Expected = std::nullopt,
       .MessagePart = "PGPASSFILE"},
      {.Name = "password with the backend off is still refused",
       .Section = {{"Backend", "sqlite"}, {"Connection", "password=" + secret}},
       .Expected = std::nullopt,
       .MessagePart = ".pgpass"},
      {.Name = "unreadable string",
       .Section = {{"Connection", "host=db1 dbname"}},
       .Expected = std::nullopt,
       .MessagePart = "не разобрана"},
      {.Name = "unreadable string mentioning a password",
       .Section = {{"Connection", "host=db1 passwd " + secret}},
       .Expected = std::nullopt,
       .MessagePart = "не разобрана"},
  };
  for (const TSettingsCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto result = ParseJournalSettings(c.Section);
    if (c.Expected) {
      ASSERT_TRUE(result.ok()) << result.error().Message;
      EXPECT_EQ(result.value(), *c.Expected);
      continue;
    }
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().Kind, TJournalErrorKind::BadInput);
    EXPECT_NE(result.error().Message.find(c.MessagePart), std::string::npos)
        << result.error().Message;
    EXPECT_EQ(result.error().Message.find(secret), std::string::npos) << result.error().Message;
  }
}

TEST(JournalSettingsTest, DefaultSettingsOpenTheSqliteFile) {
  std::string dir = (std::filesystem::temp_directory_path() / "kiren_jopen_XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/journal.sqlite3";
  {
    auto journal = OpenConfiguredJournal(ParseJournalSettings({}).value(), path);
    ASSERT_TRUE(journal.ok()) << journal.error().Message;
    EXPECT_NE(journal.value()->Location().find(path), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kiren
