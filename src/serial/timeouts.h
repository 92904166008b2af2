// Read and write timeouts of the port and the plan a read or write follows under them; pure
// arithmetic, no device.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace kiren {

// Read and write timeouts in milliseconds. A read waits for its first byte and between
// bytes as ReadIntervalTimeout says and in total ReadTotalTimeoutMultiplier x n +
// ReadTotalTimeoutConstant; a write gives up after WriteTotalTimeoutMultiplier x n +
// WriteTotalTimeoutConstant. All-ones in ReadIntervalTimeout with both other read values 0
// makes a read return at once with what has arrived.
struct TCommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
using PTimeouts = TCommTimeouts*;

// The all-ones value that the special read modes use.
constexpr std::uint32_t kMaxTimeout = std::numeric_limits<std::uint32_t>::max();

// "RI:%d RM:%d RC:%d WM:%d WC:%d", each value as a signed 32-bit number.
std::string TimeoutsText(const TCommTimeouts& ATimeouts);

// Time limit of a transfer of ACount bytes: AMul x ACount + AConst ms; nothing (wait as long
// as it takes) when both are 0 or the sum is beyond about a year.
std::optional<std::uint64_t> TotalTimeoutMs(std::uint32_t AMul, std::uint32_t AConst,
                                            std::uint64_t ACount);

// How one read of ASize bytes waits.
struct TReadPlan {
  // Limit of the whole read from its start; nothing: no limit.
  std::optional<std::uint64_t> TotalMs;
  // Longest silence after a byte before the read returns; nothing: no limit.
  std::optional<std::uint64_t> GapMs;
  // The read returns with the first bytes that arrive (or none at the limit).
  bool OnePass = false;

  bool operator==(const TReadPlan&) const = default;
};
TReadPlan PlanRead(const TCommTimeouts& ATimeouts, std::uint64_t ASize);

// Limit of a write of ASize bytes; nothing: no limit.
std::optional<std::uint64_t> PlanWrite(const TCommTimeouts& ATimeouts, std::uint64_t ASize);

}  // namespace kiren
