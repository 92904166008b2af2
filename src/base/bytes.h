#pragma once

#include <cstdint>
#include <vector>

namespace kiren {

// Every byte string of the system: wire data, command bytes, payloads, encoded text.
using Bytes = std::vector<std::uint8_t>;

}  // namespace kiren
