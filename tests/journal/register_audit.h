// For tests of several stations sharing one register (threads here; kiren-cli processes against
// virtual readers later): what a station's settings.ini says, and what a run left behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace kiren::test {

// settings.ini of a station keeping its journal in the register AConnection names.
std::string StationSettingsIni(const std::string& AConnection);

// What the register holds for the codes of one series, from AFirst up to its next code.
struct TSeriesAudit {
  std::uint64_t First = 0;
  std::uint64_t Next = 0;                       // the series' next code
  std::size_t Rows = 0;                         // card-code rows with a code of the series
  std::vector<std::uint64_t> OnTwoCards{};      // a code on more than one card
  std::vector<std::uint64_t> Missing{};         // handed out, yet neither on a card nor spoiled
  std::vector<std::uint64_t> WrittenSpoiled{};  // spoiled, yet on a card
  std::vector<std::uint64_t> Spoiled{};

  std::size_t HandedOut() const { return static_cast<std::size_t>(Next - First); }
  // Every code handed out is on exactly one card or spoiled, never both.
  bool Clean() const { return OnTwoCards.empty() && Missing.empty() && WrittenSpoiled.empty(); }
};

TJournalResult<TSeriesAudit> AuditSeries(IJournal& AJournal, const std::string& ASeries,
                                         std::uint64_t AFirst);

}  // namespace kiren::test
