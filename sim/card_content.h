// What the virtual reader reports for a card in its field (commands 0x50 and 0x55): the
// issued layout or the plain code its emission parameters point at, encoded both ways.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "sim/card.h"

namespace kiren::sim {

// The largest code the reader takes from a card (the emission size limit of command 0x51).
constexpr std::uint8_t kMaxEmissionSize = 10;

// The reader's emission parameters (command 0x51): where it takes a plain card code from.
struct TEmissionParams {
  TKey6 Key = kTransportKey;
  std::uint8_t BlockNo = 4;
  std::uint8_t Offset = 0;
  std::uint8_t Size = 5;
  std::uint8_t Lbs = 0;  // 1: code bytes in reverse order

  bool operator==(const TEmissionParams&) const = default;
};

// The reader's settings that shape a card-content answer.
struct TContentSettings {
  TEmissionParams Emission;
  std::vector<TKey6> Keys;  // key ring for issued layouts
  std::uint8_t Mode = 0;
  std::uint8_t EmissionPrior = 0;
};

// The issued layout in sector 2, read with the first key (as A, then as B) that opens it.
std::optional<TIssuedLayout> ReadLayout(const TCard& ACard, const std::vector<TKey6>& AKeys);

// Answer payloads: the 0x50 record and the 0x55 flags, UID, numbers and text.
Bytes EncodeKirenCard(const std::optional<TCard>& ACard, const TContentSettings& ASettings);
Bytes EncodeKirenCardEx(const std::optional<TCard>& ACard, const TContentSettings& ASettings);

}  // namespace kiren::sim
