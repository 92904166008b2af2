// Opening the issuance journal for a front end. One factory for the window and kiren-cli, so
// that the choice of back end (a local file today, a shared register later) is made in one
// place.
#pragma once

#include <memory>
#include <string>

#include "journal/journal.h"
#include "journal/journal_settings.h"

namespace kiren::op {

// Where the journal is and how to reach it.
struct TJournalOptions {
  // An explicit journal file (kiren-cli --journal, tests); empty: the usual place.
  std::string Path{};
  // Folder of the running program; empty: ProgramDir(). The journal lives beside the
  // program when this folder is writable, else in $XDG_DATA_HOME/kiren/.
  std::string ProgramDir{};
  // Overrides $XDG_DATA_HOME (tests).
  std::string UserDataHome{};
  // The back end ([Journal] of settings.ini): the file above, or a shared register.
  TJournalSettings Settings{};
};

// The opened journal, or why there is none.
struct TJournalOpening {
  std::unique_ptr<IJournal> Journal;  // null when the journal could not be opened
  std::string Location;  // the file (or register) tried, for messages and the status line
  TJournalErrorKind ErrorKind = TJournalErrorKind::None;
  // Russian, ready for the operator: what is wrong and that operations are not journaled
  // until it is mended. Empty when the journal is open.
  std::string Error;

  bool Ok() const { return Journal != nullptr; }
};

// Opens (or creates) the journal. Never throws; a journal that cannot be opened (corrupt,
// locked, read-only, written by a newer program) leaves Journal null with the message in
// Error; the tool still connects and reads.
TJournalOpening OpenJournal(const TJournalOptions& AOptions);

// The journal file OpenJournal uses for AOptions (its Path, or the usual place).
std::string JournalPathFor(const TJournalOptions& AOptions);

}  // namespace kiren::op
