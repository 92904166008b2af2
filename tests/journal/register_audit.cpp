#include "register_audit.h"

#include <map>
#include <set>

namespace kiren::test {

std::string StationSettingsIni(const std::string& AConnection) {
  return "[Journal]\nBackend=postgresql\nConnection=" + AConnection + "\n";
}

TJournalResult<TSeriesAudit> AuditSeries(IJournal& AJournal, const std::string& ASeries,
                                         std::uint64_t AFirst) {
  // Opening an existing series only reads it.
  const auto series = AJournal.OpenSeries(ASeries, AFirst);
  if (!series)
    return series.error();
  const auto spoiled = AJournal.SpoiledCodes(ASeries);
  if (!spoiled)
    return spoiled.error();
  const auto rows = AJournal.Query({});
  if (!rows)
    return rows.error();

  TSeriesAudit audit;
  audit.First = AFirst;
  audit.Next = series.value().NextCode;
  audit.Spoiled = spoiled.value();
  std::map<std::uint64_t, std::set<std::string>> cards;
  for (const TJournalRecord& r : rows.value()) {
    if (r.Operation != TJournalOperation::CardCodeWrite || r.CodeDec.empty() ||
        r.CodeDec.size() > 19)
      continue;
    const std::uint64_t code = std::stoull(r.CodeDec);
    if (code < audit.First || code >= audit.Next)
      continue;
    ++audit.Rows;
    cards[code].insert(r.CardUid);
  }
  const std::set<std::uint64_t> spoiledSet(audit.Spoiled.begin(), audit.Spoiled.end());
  for (std::uint64_t code = audit.First; code < audit.Next; ++code) {
    const auto it = cards.find(code);
    const bool written = it != cards.end();
    if (written && it->second.size() > 1)
      audit.OnTwoCards.push_back(code);
    if (written && spoiledSet.count(code))
      audit.WrittenSpoiled.push_back(code);
    if (!written && !spoiledSet.count(code))
      audit.Missing.push_back(code);
  }
  return audit;
}

}  // namespace kiren::test
