// The parameters of the operator's card and reader commands, checked before anything is
// queued: the window and kiren-cli fill an input of texts as the operator typed them, and
// get back the values the worker's action takes, or a TInputError with the operator's
// message (the command then stops and nothing reaches the reader or the card).
//
// Each check runs in the order the window's fields are read, so that the first mistake an
// operator made is the one reported, the same way in both front ends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "operator/input.h"
#include "protocol/records.h"
#include "worker/actions.h"

namespace kiren::op {

// Ranges of the editors' numbers.
inline constexpr int kMaxBlockNo = 252;  // emission parameters and card code
inline constexpr int kMaxOffset = 12;
inline constexpr int kMinCodeSize = 4;
inline constexpr int kMaxCodeSize = 10;
inline constexpr int kMaxReadBlockNo = 255;  // any block of the largest card
inline constexpr int kBlockSize = 16;
inline constexpr int kMaxUserDataBytes = 10;
inline constexpr int kMinVariant = 1;
inline constexpr int kMaxVariant = 5;

inline const std::string kDefaultKeyText = "FF FF FF FF FF FF";
inline const std::string kNoUserDataText = "00000000000000000000";

// ---- Emission parameters (the reader's command 0x51) ----------------------------------------

struct TEmissionInput {
  std::string Key = kDefaultKeyText;  // ASCII or hexadecimal
  std::string BlockNo = "0";
  std::string Offset = "0";
  std::string Size = "4";
  bool ReverseOrder = false;
};

// Asked when the block is the key block (trailer) of ASector; false ends the command.
using TConfirmTrailer = std::function<bool(int ASector)>;

// Key, block, the trailer question, offset, size, and whether offset and size fit the
// block. Nothing when the question was answered "no".
std::optional<TPercoPars> EmissionParams(const TEmissionInput& AInput,
                                         const TConfirmTrailer& AConfirmTrailer);

// The sector whose key block ABlockNo is; nothing for a data block.
std::optional<int> TrailerSector(int ABlockNo);

// ---- Card code (a block of the card and its sector's keys) ------------------------------

struct TCardCodeInput {
  std::string BlockNo = "0";
  std::string Offset = "0";
  std::string Size = "4";
  std::string KeyA = kDefaultKeyText;     // new read key, ASCII or hexadecimal
  std::string KeyB = kDefaultKeyText;     // new write key
  std::string OldKeyB = kDefaultKeyText;  // current write key
  TCardCodeText Code;
};

struct TCardCodeParams {
  std::uint8_t BlockNo = 0;
  std::uint8_t Offset = 0;
  int Size = 0;
  Bytes Code;  // Size bytes, most significant first
  TKeyList Keys;
};

// Block, offset, size, the three keys, the code, then whether the code fits the block at the
// offset (the action's own rule).
TCardCodeParams CardCodeParams(const TCardCodeInput& AInput);

// The code bytes of ACode for a write with AParams' block, offset and size: for the next
// card of a series. Throws TInputError as CardCodeParams does.
Bytes NextCodeBytes(const TCardCodeParams& AParams, const TCardCodeText& ACode);

// The code after a successful write of ACode: plus 1 (see IncCardCodeText).
TCardCodeText NextCardCode(const TCardCodeText& ACode);

// ---- Issuing a card -----------------------------------------------------------------------

struct TIssueInput {
  std::string Variant = "1";                 // layout 1 .. 5
  std::string Emitent = "0";                 // number, or a text of up to 4 characters
  std::string Emission = "0";                // number, or a text of up to 2 characters
  std::string FactoryKey = kDefaultKeyText;  // six hexadecimal byte pairs
  std::string UserData = kNoUserDataText;    // up to ten hexadecimal byte pairs, blanks allowed
};

// The texts the issuing action takes, each one the command layer converts without a warning
// and without a conversion error (so the card is never cleared for a value it cannot use).
struct TIssueParams {
  int Variant = 0;
  std::string Emitent;
  std::string Emission;
  std::string FactoryKey;  // "XX XX XX XX XX XX"
  std::string UserData;    // hexadecimal digits without blanks
};

// Variant, emitent, emission, factory key, user data.
TIssueParams IssueParams(const TIssueInput& AInput);

// ---- Reading a block ------------------------------------------------------------------------

struct TReadBlockInput {
  std::string BlockNo = "0";
  std::string Key = kDefaultKeyText;  // hexadecimal only
};

struct TReadBlockParams {
  std::uint8_t BlockNo = 0;
  TKey Key{};
};

// Block, then key.
TReadBlockParams ReadBlockParams(const TReadBlockInput& AInput);

}  // namespace kiren::op
