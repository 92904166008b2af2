// A read block's access conditions: only trailers are decoded, 1K and 4K sector sizes.
#include "operator/block_text.h"

#include <gtest/gtest.h>

namespace kiren::op {
namespace {

TEST(BlockText, OnlyTrailersAreDecoded) {
  const struct {
    int Block;
    bool Trailer;
  } cases[] = {{0, false},   {3, true},    {4, false},  {7, true},  {127, true},
               {128, false}, {142, false}, {143, true}, {255, true}};
  TBlock data{};
  data[6] = 0xFF;
  data[7] = 0x07;
  data[8] = 0x80;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Block);
    EXPECT_EQ(IsSectorTrailer(c.Block), c.Trailer);
    EXPECT_EQ(TrailerAccessText(c.Block, data).has_value(), c.Trailer);
  }
  const std::string text = TrailerAccessText(7, data).value();
  EXPECT_NE(text.find("FF 07 80"), std::string::npos) << text;
  EXPECT_NE(text.find("Блок 4"), std::string::npos) << text;

  data[8] = 0x81;  // the inverted copies no longer match
  EXPECT_NE(TrailerAccessText(7, data).value().find("Инвертированные копии"), std::string::npos);
}

}  // namespace
}  // namespace kiren::op
