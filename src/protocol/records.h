#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace kiren {

// A Mifare key and one card block.
using TKey = std::array<std::uint8_t, 6>;
using TBlock = std::array<std::uint8_t, 16>;

// The reader's 16-bit status word (big-endian on the wire).
struct TStatus {
  static constexpr std::uint16_t kExecuted = 0x0001;
  static constexpr std::uint16_t kAuthError = 0x0002;
  static constexpr std::uint16_t kFramWriteError = 0x2000;
  static constexpr std::uint16_t kFramReadError = 0x4000;
  static constexpr std::uint16_t kCardPresent = 0x8000;

  std::uint16_t data = 0;

  constexpr TStatus() = default;
  constexpr explicit TStatus(std::uint16_t AData) : data(AData) {}

  bool operator==(const TStatus&) const = default;

  // Command failed, or authentication / FRAM error.
  bool HasError() const;
  // Russian text of the first error the word reports, "Нет ошибок" when none.
  std::string Error() const;
  bool CardPresent() const { return (data & kCardPresent) != 0; }
};

// Card layouts; the ordinals are part of the record formats.
enum class TCardType : int {
  Unknown = 0,
  ShortCode = 1,
  LongCode = 2,
  Sorvel = 3,
  Sorvel_V = 4,
  Perco = 5,
  Perco_V = 6,
  Universal = 7,
};

// Card flags byte at the head of the card-content answer (command 0x55).
struct TStatusEx {
  std::uint8_t value = 0;

  bool operator==(const TStatusEx&) const = default;

  bool CardIsHere() const { return (value & 0x11) != 0; }
  bool IsSorvel() const { return (value & 0x02) != 0; }
  bool HasValue() const { return (value & 0x04) != 0; }
  bool IsPerco() const { return (value & 0x08) != 0; }
  TCardType CardType() const;
};

// Identity of the card in the field (answer of command 0xA0) plus a text about its content.
struct TCardInfo {
  static constexpr std::size_t kMaxUIDSize = 10;

  TStatus status;
  std::uint16_t type_ = 0;
  std::uint8_t SAK = 0;
  std::uint8_t UIDSize = 0;
  std::array<std::uint8_t, kMaxUIDSize> UID{};
  std::string desc;

  void Clear();
  // The first UIDSize UID bytes as upper-case hexadecimal without separators.
  std::string UIDStr() const;
  // Card-type name from the type word and SAK.
  std::string CardType() const;

  // Equal status words; with a card present also equal type, SAK, UID and description.
  bool operator==(const TCardInfo& AOther) const;
  bool operator!=(const TCardInfo& AOther) const { return !(*this == AOther); }
};

// What is known about the connected reader.
struct TDevInfo {
  std::string verInfo;
  std::int32_t verMajor = 0;
  std::int32_t verMinor = 0;
  std::uint8_t mode = 1;
  std::uint8_t EmissionPrior = 0;

  // Version and numbers cleared, mode back to 1; EmissionPrior keeps its value.
  void Clear();
  bool IsValid() const { return !verInfo.empty(); }
  // Sets verInfo and takes the numbers from the first "v<major>.<minor>". Throws
  // std::out_of_range when a number does not fit 32 bits (verInfo is set, the numbers keep
  // their previous values).
  void UpdateFromVerInfo(const std::string& AVerInfo);

  bool AllowCodeSizeChange() const { return verMajor > 2; }
  bool AllowByteOrderChange() const { return verMajor > 3; }
  bool AllowReadConfig() const { return verMajor > 4; }
};

// The reader's emission parameters: the 10-byte payload of command 0x51 in field order.
struct TPercoPars {
  TKey key{};
  std::uint8_t blockNo = 0;
  std::uint8_t offset = 0;
  std::uint8_t size = 0;
  std::uint8_t lbs = 0;  // 1: the code bytes are in reverse order

  bool operator==(const TPercoPars&) const = default;
};

// N bytes as 2N upper-case hexadecimal digits, no separators.
std::string BytesToHex(const std::uint8_t* p, std::size_t n);
std::string BytesToHex(const Bytes& AData);
// BytesToHex without the leading zero bytes; "00" when all bytes are zero (or none).
std::string BytesToHexTrimmed(const std::uint8_t* p, std::size_t n);
std::string BytesToHexTrimmed(const Bytes& AData);
// Reverses N bytes in place.
void ReverseBytes(std::uint8_t* p, std::size_t n);
void ReverseBytes(Bytes& AData);

}  // namespace kiren
