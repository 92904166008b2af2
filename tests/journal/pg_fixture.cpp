#include "pg_fixture.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "journal/pg_handle.h"

namespace kiren::test {

std::optional<std::string> TestServer() {
  const char* server = std::getenv("KIREN_TEST_PG");
  if (!server || !*server)
    return std::nullopt;
  return std::string(server);
}

std::string UniqueName(const std::string& APrefix) {
  static std::atomic<int> counter{0};
  return APrefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::string AdminExec(const std::string& ASql, const std::string& ADatabase) {
  std::string conninfo = TestServer().value_or("");
  // A later keyword wins in a connection string.
  if (!ADatabase.empty())
    conninfo += " dbname=" + ADatabase;
  TPgConn conn(PQconnectdb(conninfo.c_str()));
  if (PQstatus(conn.get()) != CONNECTION_OK)
    return PgConnError(conn.get());
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  TPgResult r = PgExec(conn.get(), ASql);
  return r.Ok() ? std::string() : r.ErrorText();
}

TPgTestDatabase::TPgTestDatabase(const std::string& AOwner) : FName(UniqueName("kiren_t")) {
  std::string sql = "CREATE DATABASE " + FName;
  if (!AOwner.empty())
    sql += " OWNER " + AOwner;
  if (std::string error = AdminExec(sql); !error.empty())
    throw std::runtime_error("CREATE DATABASE: " + error);
}

TPgTestDatabase::~TPgTestDatabase() {
  AdminExec("DROP DATABASE IF EXISTS " + FName + " WITH (FORCE)");
}

std::string TPgTestDatabase::Connection(const std::string& AUser) const {
  std::string out = TestServer().value_or("") + " dbname=" + FName;
  if (!AUser.empty())
    out += " user=" + AUser;
  return out;
}

}  // namespace kiren::test
