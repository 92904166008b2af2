// The journal as a register shared by several stations on a PostgreSQL server (libpq).
//
// Every station writes its rows into the same tables and sees every other station's rows, for
// the duplicate guard and the journal window alike. Codes of a series are handed out by the
// server in one statement, so two stations never get the same code. When the server is away a
// call fails with TJournalErrorKind::Unavailable and the next call connects again by itself.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace kiren {

// A schema version: tools of one major version read each other's schema (a newer minor only
// adds what older tools may ignore); a newer major is refused, an older one is migrated.
struct TPgSchemaVersion {
  int Major = 0;
  int Minor = 0;

  auto operator<=>(const TPgSchemaVersion&) const = default;
};

std::string VersionText(TPgSchemaVersion AVersion);

// One step of the schema: the statements that bring it from the previous step's version to To.
struct TPgMigration {
  TPgSchemaVersion To{};
  std::vector<std::string> Statements{};
};

// The register's schema history, oldest first; the last step is the version this program
// writes.
const std::vector<TPgMigration>& PgJournalMigrations();

struct TPgJournalOptions {
  std::string Connection{};  // libpq connection string, without a password
  // Steps this program knows; empty: PgJournalMigrations(). Tests pass older or newer lists.
  std::vector<TPgMigration> Migrations{};
  // Seconds to wait for the server when connecting, unless the connection string says.
  int ConnectTimeout = 5;
  // Return the journal even when the server cannot be reached now; its calls then fail with
  // Unavailable until the server answers.
  bool AllowServerAway = false;
};

// Connects, creates or migrates the schema, and returns the journal. Fails with BadInput for a
// connection string that holds a password or cannot be read, NewerSchema for a register
// written by a program of a newer major version (left untouched), Unavailable when the server
// cannot be reached (unless AllowServerAway), Io when the schema cannot be created.
TJournalResult<std::unique_ptr<IJournal>> OpenPgJournal(const TPgJournalOptions& AOptions);

// The schema version stored in the register, or nothing when it has none yet.
TJournalResult<std::optional<TPgSchemaVersion>> PgStoredSchemaVersion(
    const std::string& AConnection);

}  // namespace kiren
