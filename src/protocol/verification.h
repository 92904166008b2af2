// Checks of card operations after the reader confirmed them: the written block read back, and
// what the reader itself reports about the card. Pure comparisons of what was meant with what
// came back; the device sequences that gather the answers live in worker/verify_actions.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "protocol/card_content.h"
#include "protocol/protocol.h"
#include "protocol/records.h"

namespace kiren {

// Outcome of a check. Kept apart from the action result codes: an action can succeed (code 0)
// and still fail its check.
enum class TCheckOutcome {
  Verified,                // everything compared equal
  ReadBackDiffers,         // the card holds something else than was written
  ReaderReportsOtherCode,  // the reader reads the card but reports another code or layout
  ReaderCannotRead,        // the reader answered but could not read the card
  NotChecked,              // the check did not run or its exchange failed
};

// Stable lowercase names (journal column, JSON): verified, read_back_differs,
// reader_reports_other, reader_cannot_read, not_checked.
std::string_view CheckOutcomeName(TCheckOutcome AOutcome);
std::optional<TCheckOutcome> CheckOutcomeFromName(std::string_view AName);
// Short Russian caption of the outcome.
std::string CheckOutcomeCaption(TCheckOutcome AOutcome);

struct TCheckResult {
  TCheckOutcome Outcome = TCheckOutcome::NotChecked;
  // Russian, one finding per line ("\n" between lines): what differs, or what was confirmed.
  std::string Message;

  bool Verified() const { return Outcome == TCheckOutcome::Verified; }
  bool operator==(const TCheckResult&) const = default;
};

// Both checks in one: the outcome of the first that did not verify (the first when both did),
// the messages one after the other.
TCheckResult CombineChecks(const TCheckResult& AFirst, const TCheckResult& ASecond);
// A check that did not run because the operation itself failed with this result code.
TCheckResult NotCheckedAfter(int AErrCode);

// ---- Card-code write: read-back --------------------------------------------------------------

// Access bytes 6..9 that a card-code write puts into the sector trailer.
inline constexpr std::array<std::uint8_t, 4> kCodeTrailerAccess = {0x78, 0x77, 0x88, 0x00};

// A card code as it was written.
struct TWrittenCode {
  std::uint8_t BlockNo = 0;
  std::uint8_t Offset = 0;
  Bytes Code;      // the code bytes, in the order written
  TBlock Block{};  // the whole block written
  TKey KeyA{};     // new key A of the sector
  TKey KeyB{};     // new key B of the sector
};

// One block read of a check: the command's result code, the status word and the data.
struct TBlockRead {
  int ErrCode = kResNotExecuted;
  TStatus Status;
  TBlock Data{};
};

// Compares the code block and the sector trailer, both read with the new key A, with what was
// written. Of the trailer only the access bytes 6..9 count: keys read back as zeros.
TCheckResult CompareReadBack(const TWrittenCode& AWritten, const TBlockRead& ACodeBlock,
                             const TBlockRead& ATrailer);

// ---- What the reader reports -----------------------------------------------------------------

// The card content the reader reports (command 0x55 or 0x50), reduced to what checks compare.
struct TReportedCard {
  enum class TKind {
    NoCard,  // the reader sees no card
    Error,   // the reader sees the card but cannot read its code
    Code,    // a card code (plain, or the user data of a user layout)
    Sorvel,  // a Sorvel-type layout (emitent, emission, ID)
    Perco,   // a PERCo-type layout
  };
  TKind Kind = TKind::NoCard;
  int ErrorNo = 0;  // Error: the number the reader gives, 0 when none
  // Code: the code in hexadecimal as reported; layouts: their code text.
  std::string Code;
  bool HasValue = false;  // the card holds a value block
  std::optional<std::uint32_t> Emitent;
  std::optional<std::uint16_t> Emission;
  // The full card text for the card panel, as the card poll renders it.
  std::string Text;

  bool operator==(const TReportedCard&) const = default;
};

TReportedCard ReportedCard(const TKirenCardEx& ACard);
// ACodeSize: the code size the card poll renders the record with.
TReportedCard ReportedCard(const TKirenCard& ACard, int ACodeSize);

// A content read of a check: the command's result code and, when it is 0, the card.
struct TContentRead {
  int ErrCode = kResNotExecuted;
  TReportedCard Card;
};

// Where the reader takes a plain card code from, as far as the tool knows.
struct TEmissionView {
  enum class TSource { ReaderConfig, LastWritten };
  TSource Source = TSource::LastWritten;
  std::uint8_t BlockNo = 0;
  std::uint8_t Offset = 0;
  std::uint8_t Size = 0;
  std::uint8_t Lbs = 0;
  std::optional<TKey> Key;  // the configuration does not report the key

  bool operator==(const TEmissionView&) const = default;
};

// Block, offset, size and byte order from entry 81 of the reader's configuration; empty when
// the entry is missing or not four numbers.
std::optional<TEmissionView> EmissionFromConfig(const TConfig& AConfig);
TEmissionView EmissionFromPars(const TPercoPars& APars);

// The reader's report after a card-code write against the code written: the reader should
// report the written code. Where it does not, the message says why as far as AEmission tells.
TCheckResult CompareEmittedCode(const TWrittenCode& AWritten,
                                const std::optional<TEmissionView>& AEmission,
                                const TContentRead& ARead);

// ---- Issue and clear -------------------------------------------------------------------------

// What an issue request carries.
struct TIssuedCard {
  int Layout = 1;  // 1..5
  std::uint32_t Emitent = 0;
  std::uint16_t Emission = 0;
  Bytes UserData;
};

// The values the issue command sends for these texts (bad emitent or emission texts give their
// defaults, as the command does, without a warning). Empty for user data that is not
// hexadecimal (the command is then not sent).
std::optional<TIssuedCard> IssuedCardOf(int AType, const std::string& ACodeEmitent,
                                        const std::string& ACodeEmission,
                                        const std::string& AUserData);
// Russian caption of a layout 1..5 as the window lists it.
std::string IssueLayoutCaption(int ALayout);

// The reader's report after an issue: the layout, and its emitent and emission (user layouts:
// the user data).
TCheckResult CompareIssued(const TIssuedCard& AIssued, const TContentRead& ARead);
// The reader's report after a clear: no issued layout any more.
TCheckResult CompareCleared(const TContentRead& ARead);

}  // namespace kiren
