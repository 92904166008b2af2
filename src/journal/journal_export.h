// Journal rows as files for spreadsheets and scripts.
#pragma once

#include <string>
#include <vector>

#include "journal/journal.h"

namespace kiren {

// CSV for spreadsheets set to a Russian locale: UTF-8 with BOM, ";" between fields, CR LF
// between rows, a header row; fields holding ; " CR or LF are quoted.
std::string JournalToCsv(const std::vector<TJournalRecord>& ARows);
// One JSON object per line.
std::string JournalToJsonLines(const std::vector<TJournalRecord>& ARows);

}  // namespace kiren
