#include "journal/journal_open.h"

#include "journal/pg_journal.h"
#include "journal/sqlite_journal.h"

namespace kiren {

TJournalResult<std::unique_ptr<IJournal>> OpenConfiguredJournal(const TJournalSettings& ASettings,
                                                                const std::string& ASqlitePath) {
  if (ASettings.Backend == TJournalBackend::Sqlite)
    return OpenSqliteJournal(ASqlitePath);
  return OpenPgJournal({.Connection = ASettings.Connection, .AllowServerAway = true});
}

}  // namespace kiren
