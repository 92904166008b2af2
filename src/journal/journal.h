// Issuance journal: one row per card-touching operation, kept by a back end behind IJournal
// (SQLite file by default; a shared register on a database server may follow).
//
// The journal never holds a key in any form: no field of TJournalRecord carries one and no
// table has a column for one. Callers pass what was done with a card, never how it was opened.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiren {

// What was done with the card.
enum class TJournalOperation {
  CardCodeWrite,  // card code written into a block, trailer rewritten with new keys
  Issue,          // card issued in a fixed layout
  Clear,          // card cleared
  EmissionWrite,  // emission parameters written
};

// What the check after the operation found.
enum class TVerifyOutcome {
  NotChecked,          // no check was made
  Verified,            // read back as written and reported by the reader as intended
  ReadBackDiffers,     // the card holds other bytes than those written
  ReaderReportsOther,  // the reader reports another code (or layout) than written
  ReaderCannotRead,    // the reader cannot read the card
};

// Stable names stored in the journal ("card_code_write", "verified", ...); never change them.
std::string_view StoredName(TJournalOperation AOperation);
std::string_view StoredName(TVerifyOutcome AOutcome);
std::optional<TJournalOperation> OperationFromStoredName(std::string_view AName);
std::optional<TVerifyOutcome> VerifyOutcomeFromStoredName(std::string_view AName);

// Russian texts for the operator.
std::string OperationText(TJournalOperation AOperation);
std::string VerifyOutcomeText(TVerifyOutcome AOutcome);

// One journal row. Texts are UTF-8.
struct TJournalRecord {
  std::int64_t Id = 0;                           // set by the journal
  std::chrono::system_clock::time_point Time{};  // moment of the operation
  std::string TimeUtc;                           // ISO 8601, set by the journal from Time
  std::string TimeLocal;                         // ISO 8601 with offset, likewise
  std::string Station;                           // host name
  std::string Login;                             // operator's login
  std::string ReaderPort;                        // e.g. /dev/ttyACM0
  std::string Firmware;                          // reader's firmware version
  std::string CardUid;                           // hexadecimal, e.g. "04112233445566"
  std::string CardType;                          // e.g. "Mifare 1K"
  TJournalOperation Operation = TJournalOperation::CardCodeWrite;
  std::optional<int> Block, Offset, Size;  // where the code went
  std::string CodeHex;                     // code written, hexadecimal digits
  std::string CodeDec;                     // the same code in decimal, set by the journal
  std::string Layout;                      // layout of an issued card
  std::optional<std::uint32_t> Emitent;    // issued cards
  std::optional<std::uint32_t> Emission;   // issued cards
  int ResultCode = 0;                      // the operation's result code
  std::string ResultText;                  // and its text
  TVerifyOutcome Verify = TVerifyOutcome::NotChecked;

  bool operator==(const TJournalRecord&) const = default;
};

// Why a journal call failed.
enum class TJournalErrorKind {
  None,
  CannotOpen,   // missing folder, no permission, not a file
  ReadOnly,     // the file or its folder cannot be written
  Locked,       // another program holds the journal
  Corrupt,      // not a journal, or damaged
  NewerSchema,  // written by a newer program: left untouched
  Io,           // a statement or a commit failed
  BadInput,     // the call's arguments cannot be used
  NotFound,     // no such series
  Unavailable,  // the register cannot be reached (a server back end)
};

struct TJournalError {
  TJournalErrorKind Kind = TJournalErrorKind::None;
  std::string Message;  // Russian, ready for the operator
};

// A value or the reason there is none. Journal calls never throw. value() only when ok().
template <class T>
class TJournalResult {
 public:
  TJournalResult(T AValue) : FValue(std::move(AValue)) {}
  TJournalResult(TJournalError AError) : FError(std::move(AError)) {}

  bool ok() const { return FValue.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return *FValue; }
  T& value() & { return *FValue; }
  T&& value() && { return std::move(*FValue); }
  const TJournalError& error() const { return FError; }

 private:
  std::optional<T> FValue;
  TJournalError FError;
};

struct TJournalOk {};
using TJournalStatus = TJournalResult<TJournalOk>;

// A code already on another card (duplicate guard).
struct TCodeOnOtherCard {
  std::string CardUid;
  std::string TimeUtc;
  std::string TimeLocal;
  std::int64_t Id = 0;
};

// Query filter; empty fields do not filter. Since is inclusive, Until exclusive.
struct TJournalFilter {
  std::string CodeHex{};  // any form NormalizeCodeHex accepts
  std::string CardUid{};  // hexadecimal, blanks and case do not matter
  std::optional<std::chrono::system_clock::time_point> Since{};
  std::optional<std::chrono::system_clock::time_point> Until{};
  std::size_t Limit = 0;  // 0: all rows
};

// A series of codes handed out by the journal, one code per card.
struct TSeries {
  std::string Name;
  std::uint64_t NextCode = 0;
};

// One object may be called from several threads; it serialises the calls.
class IJournal {
 public:
  virtual ~IJournal() = default;

  // Where the journal lives, for messages (file path or server description).
  virtual std::string Location() const = 0;

  // Stores the row and returns its id once it is durably committed. Fills the time texts
  // from ARecord.Time (the current time when unset) and the decimal code from CodeHex.
  virtual TJournalResult<std::int64_t> Append(const TJournalRecord& ARecord) = 0;

  // The newest row holding the code on a card other than ACardUid; nothing when the code is
  // unknown or only on ACardUid (writing it again there is a repair). Every attempt counts,
  // whatever its result: a write the reader reported as failed may still have reached the card.
  virtual TJournalResult<std::optional<TCodeOnOtherCard>> FindCodeOnOtherCard(
      const std::string& ACodeHex, const std::string& ACardUid) = 0;

  // Rows newest first.
  virtual TJournalResult<std::vector<TJournalRecord>> Query(const TJournalFilter& AFilter) = 0;

  // Series: creates it starting at AFirstCode, or returns it as it is when it exists.
  virtual TJournalResult<TSeries> OpenSeries(const std::string& AName,
                                             std::uint64_t AFirstCode) = 0;
  // Hands out the series' next code and moves it on, in one transaction: no code is ever
  // handed out twice.
  virtual TJournalResult<std::uint64_t> AllocateCode(const std::string& ASeries) = 0;
  // Records a handed-out code whose card was not made; it is never handed out again.
  virtual TJournalStatus MarkSpoiled(const std::string& ASeries, std::uint64_t ACode,
                                     const std::string& AReason) = 0;
  virtual TJournalResult<std::vector<std::uint64_t>> SpoiledCodes(const std::string& ASeries) = 0;
};

// ---- Codes ----------------------------------------------------------------------------------

// Upper-case hexadecimal digits without blanks, an optional "0x" and leading zeros ("0" for
// zero); nothing when the text holds anything else or no digit.
std::optional<std::string> NormalizeCodeHex(std::string_view AText);
// The code as a row stores it: an empty code stays empty, any other as NormalizeCodeHex gives
// it; nothing for a code that is not hexadecimal.
std::optional<std::string> StoredCodeHex(std::string_view ACodeHex);
// A card UID as rows store it and queries look it up: blanks dropped, letters upper case.
std::string NormalizeCardUid(std::string_view AUid);
// Decimal digits of a hexadecimal code of any length.
std::string CodeHexToDecimal(std::string_view ACodeHex);
// Hexadecimal code of decimal digits of any length; nothing for other text.
std::optional<std::string> CodeDecimalToHex(std::string_view ADecimal);

// ---- Times ----------------------------------------------------------------------------------

// "2026-12-11T14:53:09.123Z".
std::string IsoUtc(std::chrono::system_clock::time_point ATime);
// "2026-12-11T17:53:09.123+03:00" in the local time zone.
std::string IsoLocal(std::chrono::system_clock::time_point ATime);
// The moment a row records: ARecord.Time, or the current time where it is unset.
std::chrono::system_clock::time_point RecordedTime(const TJournalRecord& ARecord);
// "YYYY-MM-DD" (local midnight), "YYYY-MM-DDThh:mm[:ss[.mmm]]" (local) or either with "Z" or an
// offset such as "+03:00"; nothing for other text.
std::optional<std::chrono::system_clock::time_point> ParseJournalTime(std::string_view AText);

}  // namespace kiren
