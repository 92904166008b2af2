#include "logging/format_str.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

namespace kiren {
namespace {

TEST(FormatStr, ConversionsFlagsAndWidths) {
  const std::int64_t big = -5000000000;
  const struct {
    std::string Got, Want;
  } cases[] = {
      {FormatStr("Ошибка записи в COM-порт [попытка %d]: %s", {2, "Ресурс занят"}),
       "Ошибка записи в COM-порт [попытка 2]: Ресурс занят"},
      {FormatStr("%d|%i|%u|%d", {-7, 8u, 9, big}), "-7|8|9|-5000000000"},
      {FormatStr("%x|%X|%.4x|%.2x", {255, 171, 255, std::uint8_t{5}}), "FF|AB|00FF|05"},
      {FormatStr("%x|%u", {-1, -1}), "FFFFFFFF|4294967295"},
      {FormatStr("[%5d][%-5d][%05d][%.3d][%05d]", {42, 42, 42, 7, -42}),
       "[   42][42   ][00042][007][-0042]"},
      {FormatStr("[%6s][%-6s][%.2s]", {"ЖЖ", "ab", "Щука"}), "[    ЖЖ][ab    ][Щу]"},
      {FormatStr("%f|%.3f|%.0f|%8.1f", {1.0, 2.5, 2.4, -3.26}), "1.00|2.500|2|    -3.3"},
      {FormatStr("100%% %s", {std::string("done")}), "100% done"},
      {FormatStr("%d", {1, "surplus"}), "1"},
      {FormatStr("no conversions", {}), "no conversions"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Got, c.Want);
}

TEST(FormatStr, MismatchesThrow) {
  EXPECT_THROW(FormatStr("%d", {"text"}), std::invalid_argument);
  EXPECT_THROW(FormatStr("%s", {5}), std::invalid_argument);
  EXPECT_THROW(FormatStr("%f", {5}), std::invalid_argument);
  EXPECT_THROW(FormatStr("%d", {1.5}), std::invalid_argument);
  EXPECT_THROW(FormatStr("%d %d", {1}), std::invalid_argument);
  EXPECT_THROW(FormatStr("%q", {1}), std::invalid_argument);
  EXPECT_THROW(FormatStr("tail %", {1}), std::invalid_argument);
}

}  // namespace
}  // namespace kiren
