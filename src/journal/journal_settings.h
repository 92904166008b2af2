// Section [Journal] of settings.ini: which journal the station keeps.
//   [Journal]
//   Backend=postgresql              ; sqlite (the default) or postgresql
//   Connection=host=db1 dbname=kiren user=station1
// The connection string is libpq's (key=value pairs or a postgresql:// URI). It never holds a
// password: libpq takes that from the password file (~/.pgpass, or the file PGPASSFILE names).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "journal/journal.h"

namespace kiren {

enum class TJournalBackend {
  Sqlite,      // journal.sqlite3 beside settings.ini
  PostgreSql,  // the shared register on a PostgreSQL server
};

struct TJournalSettings {
  TJournalBackend Backend = TJournalBackend::Sqlite;
  std::string Connection;  // libpq connection string, PostgreSQL only

  bool operator==(const TJournalSettings&) const = default;
};

using TIniPairs = std::vector<std::pair<std::string, std::string>>;

// The key=value pairs of section [ASection] of an INI text, in file order: keys and values
// trimmed, a value in double quotes unquoted, lines starting with ';' or '#' skipped.
TIniPairs IniSection(std::string_view AIniText, std::string_view ASection);

// The journal settings of section [Journal]. Without Backend, a Connection makes it PostgreSQL.
// Fails (BadInput, Russian message) on an unknown Backend and on a connection string that
// libpq cannot read or that holds a password.
TJournalResult<TJournalSettings> ParseJournalSettings(const TIniPairs& ASection);

// Why the connection string cannot be used, or empty when it can: it must parse, and must not
// carry a password (password=..., or user:password@ in a URI). The message never repeats the
// string.
std::string ConnectionStringProblem(const std::string& AConnection);

}  // namespace kiren
