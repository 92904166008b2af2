#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "protocol/records.h"

namespace kiren {

// Answer of command 0x50: up to 20 bytes, copied unchanged (missing bytes are zero).
// Bytes 0-4 mark the layout; multi-byte fields are little-endian as they lie here:
// emitent at 5 (4 bytes), emission at 9 (2), id at 11 (4), code = bytes 0-14,
// value = bytes 15-19 (15-18 shown).
struct TKirenCard {
  static constexpr std::size_t kSize = 20;

  std::array<std::uint8_t, kSize> data{};

  bool operator==(const TKirenCard&) const = default;

  std::uint32_t emitent() const;
  std::uint16_t emission() const;
  std::uint32_t id() const;

  // Layout from the header bytes 0-4.
  TCardType CardType() const;
  // Card code in layout AType from ASize code bytes; empty for layouts without a code.
  std::string CardCode(TCardType AType, int ASize) const;
  // Text of the universal layout.
  std::string CardCodeEx() const;
  // Bytes 15-18 as eight hexadecimal digits.
  std::string CardValue() const;
  // Full text; ACardType receives CardType().
  std::string Info(int ASize, TCardType& ACardType) const;
};

// Answer of command 0x55: flags, UID, three big-endian numbers, then the card code as text.
struct TKirenCardEx {
  TStatusEx Status;
  std::array<std::uint8_t, 7> UID{};
  std::uint32_t Emitent = 0;
  std::uint16_t Emission = 0;
  std::uint32_t Value = 0;
  Bytes buf;

  bool operator==(const TKirenCardEx&) const = default;

  // Length of the fixed part of the payload.
  static constexpr int FixedSize() { return 18; }
  // Decodes a payload; bytes missing from a payload shorter than FixedSize() count as zero.
  void LoadFromBuf(const Bytes& ABuf);
  // UID bytes 3-6 as a little-endian number.
  std::uint32_t ID_4() const;
  // The card code text (Windows-1251, up to a zero byte) as UTF-8.
  std::string WID() const;
  std::string Info() const;
};

}  // namespace kiren
