// Access conditions of a MIFARE Classic sector: bytes 6-8 of the sector trailer say what key A
// and key B may do with each data block and with the trailer; byte 9 is free user data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/bytes.h"

namespace kiren {

// Which keys allow an operation (a set of two bits).
enum class TAccessKeys : std::uint8_t {
  Never = 0,
  KeyA = 1,
  KeyB = 2,
  KeyAOrB = 3,
};

// Rights on a data block (in a 16-block sector of a 4K card: on a group of five blocks).
struct TDataBlockAccess {
  std::uint8_t Bits = 0;  // C1 C2 C3 as a three-bit number, C1 the highest
  TAccessKeys Read = TAccessKeys::Never;
  TAccessKeys Write = TAccessKeys::Never;
  TAccessKeys Increment = TAccessKeys::Never;
  TAccessKeys Decrement = TAccessKeys::Never;  // decrement, transfer, restore

  bool operator==(const TDataBlockAccess&) const = default;
};

// Rights on the sector trailer. Key A itself is never readable.
struct TTrailerAccess {
  std::uint8_t Bits = 0;
  TAccessKeys KeyAWrite = TAccessKeys::Never;
  TAccessKeys AccessBitsRead = TAccessKeys::Never;
  TAccessKeys AccessBitsWrite = TAccessKeys::Never;
  TAccessKeys KeyBRead = TAccessKeys::Never;
  TAccessKeys KeyBWrite = TAccessKeys::Never;

  bool operator==(const TTrailerAccess&) const = default;
};

// The decoded access bytes. The rights are those the card grants: where key B can be read it
// cannot serve for authentication, so no right is given to key B then.
struct TAccessConditions {
  std::array<std::uint8_t, 3> AccessBytes{};  // bytes 6, 7, 8
  std::uint8_t UserByte = 0;                  // byte 9
  // The inverted copies match the plain bits. When they do not, the card refuses every
  // access to the sector for good, and the rights below are all Never.
  bool Consistent = false;
  bool KeyBReadable = false;
  std::array<TDataBlockAccess, 3> Blocks{};
  TTrailerAccess Trailer{};

  bool operator==(const TAccessConditions&) const = default;
};

// Decodes access bytes 6, 7, 8 and user byte 9.
TAccessConditions DecodeAccessConditions(std::uint8_t AByte6, std::uint8_t AByte7,
                                         std::uint8_t AByte8, std::uint8_t AByte9);

// Decodes the access bytes of a 16-byte sector trailer; nothing for another length.
std::optional<TAccessConditions> DecodeSectorTrailer(const Bytes& ATrailer);

// Russian text, lines joined by CR LF. ATrailerBlock (the trailer's block number, or -1 when
// unknown) names the data blocks by number.
std::string AccessConditionsText(const TAccessConditions& AConditions, int ATrailerBlock = -1);

// "ключ A", "ключ B", "ключ A или B", "никогда".
std::string AccessKeysText(TAccessKeys AKeys);

}  // namespace kiren
