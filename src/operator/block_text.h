// What a read block means to an operator: a sector trailer's access conditions in words.
#pragma once

#include <optional>
#include <string>

#include "protocol/records.h"

namespace kiren::op {

// Whether ABlockNo is the key block (trailer) of its sector.
bool IsSectorTrailer(int ABlockNo);

// The access conditions of a trailer block's data in Russian, lines joined by CR LF, with a
// warning when the inverted copies do not match (the sector is then locked for good); nothing
// when ABlockNo is a data block.
std::optional<std::string> TrailerAccessText(int ABlockNo, const TBlock& AData);

}  // namespace kiren::op
