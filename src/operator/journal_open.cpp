#include "operator/journal_open.h"

#include <utility>

#include "journal/journal_open.h"
#include "journal/sqlite_journal.h"
#include "logging/program_dir.h"

namespace kiren::op {

namespace {

const char kNotJournaledNote[] =
    "Операции с картами не заносятся в журнал, пока это не исправлено.";

}  // namespace

std::string JournalPathFor(const TJournalOptions& AOptions) {
  if (!AOptions.Path.empty())
    return AOptions.Path;
  const std::string dir = AOptions.ProgramDir.empty() ? ProgramDir() : AOptions.ProgramDir;
  return JournalFilePath(dir, AOptions.UserDataHome);
}

TJournalOpening OpenJournal(const TJournalOptions& AOptions) {
  TJournalOpening opening;
  opening.Location = JournalPathFor(AOptions);
  auto opened = OpenConfiguredJournal(AOptions.Settings, opening.Location);
  if (opened.ok()) {
    opening.Journal = std::move(opened).value();
    opening.Location = opening.Journal->Location();
    return opening;
  }
  opening.ErrorKind = opened.error().Kind;
  opening.Error = opened.error().Message;
  if (opening.Error.empty())
    opening.Error = "Не удалось открыть журнал выдачи «" + opening.Location + "».";
  opening.Error += std::string(" ") + kNotJournaledNote;
  return opening;
}

}  // namespace kiren::op
