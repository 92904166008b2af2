#include "operator/block_text.h"

#include "protocol/access_conditions.h"
#include "protocol/protocol.h"

namespace kiren::op {

bool IsSectorTrailer(int ABlockNo) {
  return ABlockNo >= 0 && TProtocol::GetTBlock(ABlockNo) == ABlockNo;
}

std::optional<std::string> TrailerAccessText(int ABlockNo, const TBlock& AData) {
  if (!IsSectorTrailer(ABlockNo))
    return std::nullopt;
  const TAccessConditions conditions =
      DecodeAccessConditions(AData[6], AData[7], AData[8], AData[9]);
  return AccessConditionsText(conditions, ABlockNo);
}

}  // namespace kiren::op
