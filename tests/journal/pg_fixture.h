// Tests against a real PostgreSQL server: scripts/pg-test-cluster starts a throwaway cluster
// and names it in KIREN_TEST_PG (a libpq connection string as the superuser). Each test gets a
// database of its own, dropped afterwards, so tests may run side by side.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kiren::test {

inline constexpr const char* kNoServerMessage =
    "KIREN_TEST_PG is not set: no PostgreSQL test server (run under "
    "'scripts/pg-test-cluster run ...' or scripts/test)";

// The test server's connection string, or nothing when none was started.
std::optional<std::string> TestServer();

// Runs ASql on the test server's database ADatabase (empty: the one KIREN_TEST_PG names) as the
// superuser; empty on success, else the server's message.
std::string AdminExec(const std::string& ASql, const std::string& ADatabase = {});

// A database of its own for one test, created on the test server and dropped at the end.
class TPgTestDatabase {
 public:
  // AOwner: role that owns the database (empty: the superuser).
  explicit TPgTestDatabase(const std::string& AOwner = {});
  ~TPgTestDatabase();
  TPgTestDatabase(const TPgTestDatabase&) = delete;
  TPgTestDatabase& operator=(const TPgTestDatabase&) = delete;

  const std::string& Name() const { return FName; }
  // Connection string to this database as the superuser, or as AUser.
  std::string Connection(const std::string& AUser = {}) const;
  // Runs ASql in this database as the superuser; empty on success, else the message.
  std::string Exec(const std::string& ASql) const { return AdminExec(ASql, FName); }

 private:
  std::string FName;
};

// A name unique to this process and call, for databases and roles.
std::string UniqueName(const std::string& APrefix);

}  // namespace kiren::test

// Skips the test when no test server was started.
#define KIREN_REQUIRE_PG()                             \
  do {                                                 \
    if (!::kiren::test::TestServer())                  \
      GTEST_SKIP() << ::kiren::test::kNoServerMessage; \
  } while (false)
