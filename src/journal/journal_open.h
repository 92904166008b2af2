// The journal a station's settings choose.
#pragma once

#include <memory>
#include <string>

#include "journal/journal.h"
#include "journal/journal_settings.h"

namespace kiren {

// SQLite: the file ASqlitePath. PostgreSQL: the register ASettings.Connection names; a server
// that cannot be reached now does not fail the opening (the calls fail with Unavailable until
// it answers, and connect again by themselves), a password in the string or a register of a
// newer major version does.
TJournalResult<std::unique_ptr<IJournal>> OpenConfiguredJournal(const TJournalSettings& ASettings,
                                                                const std::string& ASqlitePath);

}  // namespace kiren
