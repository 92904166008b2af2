// The timeouts plan without a device: how long a read or a write may wait under each
// setting, and the settings text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/timeouts.h"

namespace kiren {
namespace {

constexpr std::uint32_t kMax = kMaxTimeout;
constexpr std::optional<std::uint64_t> kNone = std::nullopt;

TEST(TimeoutsPlan, ReadPlans) {
  struct TCase {
    const char* Name;
    TCommTimeouts Timeouts;
    std::uint64_t Size;
    TReadPlan Plan;
  };
  const TCase cases[] = {
      {.Name = "immediate: what has arrived, at once",
       .Timeouts = {.ReadIntervalTimeout = kMax},
       .Size = 66,
       .Plan = {.TotalMs = 0, .GapMs = kNone, .OnePass = true}},
      {.Name = "wait for the first bytes, at most RC",
       .Timeouts = {.ReadIntervalTimeout = kMax,
                    .ReadTotalTimeoutMultiplier = kMax,
                    .ReadTotalTimeoutConstant = 250},
       .Size = 66,
       .Plan = {.TotalMs = 250, .GapMs = kNone, .OnePass = true}},
      {.Name = "RC all ones is no wait-for-first: both parts too large, no limit",
       .Timeouts = {.ReadIntervalTimeout = kMax,
                    .ReadTotalTimeoutMultiplier = kMax,
                    .ReadTotalTimeoutConstant = kMax},
       .Size = 66,
       .Plan = {.TotalMs = kNone, .GapMs = kMax, .OnePass = false}},
      {.Name = "RM all ones with RC 0 is no wait-for-first either",
       .Timeouts = {.ReadIntervalTimeout = kMax, .ReadTotalTimeoutMultiplier = kMax},
       .Size = 1,
       .Plan = {.TotalMs = kMax, .GapMs = kMax, .OnePass = false}},
      {.Name = "total limit from multiplier and constant, gap from the interval",
       .Timeouts = {.ReadIntervalTimeout = 20,
                    .ReadTotalTimeoutMultiplier = 3,
                    .ReadTotalTimeoutConstant = 100},
       .Size = 10,
       .Plan = {.TotalMs = 130, .GapMs = 20, .OnePass = false}},
      {.Name = "all zero: no limit at all",
       .Timeouts = {},
       .Size = 10,
       .Plan = {.TotalMs = kNone, .GapMs = kNone, .OnePass = false}},
      {.Name = "the construction defaults: gap only",
       .Timeouts = {.ReadIntervalTimeout = 1000},
       .Size = 10,
       .Plan = {.TotalMs = kNone, .GapMs = 1000, .OnePass = false}},
      {.Name = "an empty read still has its constant",
       .Timeouts = {.ReadTotalTimeoutMultiplier = 5, .ReadTotalTimeoutConstant = 7},
       .Size = 0,
       .Plan = {.TotalMs = 7, .GapMs = kNone, .OnePass = false}},
      {.Name = "a product beyond a year is endless, not wrapped",
       .Timeouts = {.ReadTotalTimeoutMultiplier = kMax, .ReadTotalTimeoutConstant = 1},
       .Size = 0x7FFFFFFF,
       .Plan = {.TotalMs = kNone, .GapMs = kNone, .OnePass = false}},
  };
  for (const TCase& c : cases) {
    const TReadPlan plan = PlanRead(c.Timeouts, c.Size);
    EXPECT_EQ(plan.TotalMs, c.Plan.TotalMs) << c.Name;
    EXPECT_EQ(plan.GapMs, c.Plan.GapMs) << c.Name;
    EXPECT_EQ(plan.OnePass, c.Plan.OnePass) << c.Name;
  }
}

TEST(TimeoutsPlan, WriteLimits) {
  struct TCase {
    std::uint32_t Mul, Const;
    std::uint64_t Size;
    std::optional<std::uint64_t> Ms;
  };
  const TCase cases[] = {
      {1, 1000, 7, 1007},           // the worker's setting
      {0, 0, 100, kNone},           // no limit
      {0, 5, 0, 5},                 //
      {2, 0, 0, 0},                 // a limit of 0 ms, not "none"
      {kMax, kMax, 1, 8589934590},  // 2 x (2^32 - 1): still below a year
      {kMax, 0, 1u << 30, kNone},   // beyond a year
      {1, kMax, (1ull << 35), kNone},
  };
  for (const TCase& c : cases) {
    const TCommTimeouts t{.WriteTotalTimeoutMultiplier = c.Mul,
                          .WriteTotalTimeoutConstant = c.Const};
    EXPECT_EQ(PlanWrite(t, c.Size), c.Ms) << c.Mul << " x " << c.Size << " + " << c.Const;
  }
}

TEST(TimeoutsPlan, Text) {
  EXPECT_EQ(TimeoutsText({.ReadIntervalTimeout = kMax,
                          .WriteTotalTimeoutMultiplier = 1,
                          .WriteTotalTimeoutConstant = 1000}),
            "RI:-1 RM:0 RC:0 WM:1 WC:1000");
  EXPECT_EQ(TimeoutsText({1, 2, 3, 0x80000000u, 5}), "RI:1 RM:2 RC:3 WM:-2147483648 WC:5");
}

}  // namespace
}  // namespace kiren
