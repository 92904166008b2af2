#include "serial/timeouts.h"

#include <cstdio>

namespace kiren {

std::string TimeoutsText(const TCommTimeouts& ATimeouts) {
  char Buf[128];
  std::snprintf(Buf, sizeof Buf, "RI:%d RM:%d RC:%d WM:%d WC:%d",
                static_cast<std::int32_t>(ATimeouts.ReadIntervalTimeout),
                static_cast<std::int32_t>(ATimeouts.ReadTotalTimeoutMultiplier),
                static_cast<std::int32_t>(ATimeouts.ReadTotalTimeoutConstant),
                static_cast<std::int32_t>(ATimeouts.WriteTotalTimeoutMultiplier),
                static_cast<std::int32_t>(ATimeouts.WriteTotalTimeoutConstant));
  return Buf;
}

std::optional<std::uint64_t> TotalTimeoutMs(std::uint32_t AMul, std::uint32_t AConst,
                                            std::uint64_t ACount) {
  if (AMul == 0 && AConst == 0)
    return std::nullopt;
  // Beyond about a year the wait is as good as endless (and the sum could overflow).
  constexpr std::uint64_t kEndless = 1ull << 35;
  if (ACount != 0 && AMul > kEndless / ACount)
    return std::nullopt;
  const std::uint64_t Ms = static_cast<std::uint64_t>(AMul) * ACount + AConst;
  if (Ms > kEndless)
    return std::nullopt;
  return Ms;
}

TReadPlan PlanRead(const TCommTimeouts& ATimeouts, std::uint64_t ASize) {
  const TCommTimeouts& T = ATimeouts;
  // Return at once with what has arrived.
  if (T.ReadIntervalTimeout == kMaxTimeout && T.ReadTotalTimeoutMultiplier == 0 &&
      T.ReadTotalTimeoutConstant == 0)
    return {.TotalMs = 0, .GapMs = std::nullopt, .OnePass = true};
  // Return at once when bytes wait, else with the first that come, or empty after RC ms.
  if (T.ReadIntervalTimeout == kMaxTimeout && T.ReadTotalTimeoutMultiplier == kMaxTimeout &&
      T.ReadTotalTimeoutConstant != 0 && T.ReadTotalTimeoutConstant != kMaxTimeout)
    return {.TotalMs = T.ReadTotalTimeoutConstant, .GapMs = std::nullopt, .OnePass = true};
  TReadPlan Plan;
  Plan.TotalMs = TotalTimeoutMs(T.ReadTotalTimeoutMultiplier, T.ReadTotalTimeoutConstant, ASize);
  if (T.ReadIntervalTimeout != 0)
    Plan.GapMs = T.ReadIntervalTimeout;
  return Plan;
}

std::optional<std::uint64_t> PlanWrite(const TCommTimeouts& ATimeouts, std::uint64_t ASize) {
  return TotalTimeoutMs(ATimeouts.WriteTotalTimeoutMultiplier, ATimeouts.WriteTotalTimeoutConstant,
                        ASize);
}

}  // namespace kiren
