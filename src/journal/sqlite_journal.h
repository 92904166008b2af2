// The journal in a local SQLite file.
#pragma once

#include <memory>
#include <string>

#include "journal/journal.h"

namespace kiren {

inline constexpr const char* kJournalFileName = "journal.sqlite3";

// Where journal.sqlite3 lives: beside the program when AProgramDir is writable, else in
// $XDG_DATA_HOME/kiren/ (AUserDataHome overrides $XDG_DATA_HOME; default ~/.local/share).
std::string JournalFilePath(const std::string& AProgramDir, const std::string& AUserDataHome = {});

// Opens or creates the journal file (mode 0600, its folder created when missing) and brings
// its schema up to date. A file written by a newer program is refused and left untouched.
TJournalResult<std::unique_ptr<IJournal>> OpenSqliteJournal(const std::string& APath);

// Schema version this program writes.
int SqliteJournalSchemaVersion();

}  // namespace kiren
