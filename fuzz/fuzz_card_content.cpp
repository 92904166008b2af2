// Both card-content answers and their texts: the 20-byte record of command 0x50 in every
// layout and code size, and the payload of command 0x55 of any length.
#include <algorithm>

#include "fuzz/fuzz_common.h"
#include "protocol/card_content.h"

using namespace kiren;

namespace {

constexpr TCardType kTypes[] = {TCardType::Unknown, TCardType::ShortCode, TCardType::LongCode,
                                TCardType::Sorvel,  TCardType::Sorvel_V,  TCardType::Perco,
                                TCardType::Perco_V, TCardType::Universal};

void CheckRecord(int ASize, const Bytes& APayload) {
  const int size = ASize;
  TKirenCard card;
  std::copy_n(APayload.begin(), std::min(APayload.size(), TKirenCard::kSize), card.data.begin());
  TCardType type = TCardType::Unknown;
  const std::string info = card.Info(size, type);
  KIREN_FUZZ_CHECK(type == card.CardType());
  KIREN_FUZZ_CHECK(fuzz::IsUtf8(info));
  for (const TCardType t : kTypes)
    KIREN_FUZZ_CHECK(fuzz::IsUtf8(card.CardCode(t, size)));
  KIREN_FUZZ_CHECK(fuzz::IsUtf8(card.CardCodeEx()));
  KIREN_FUZZ_CHECK(card.CardValue().size() == 8);
}

void CheckAnswerEx(const Bytes& APayload) {
  const Bytes& payload = APayload;
  TKirenCardEx card;
  card.LoadFromBuf(payload);
  if (payload.size() >= static_cast<std::size_t>(TKirenCardEx::FixedSize()))
    KIREN_FUZZ_CHECK(card.buf.size() == payload.size() - TKirenCardEx::FixedSize());
  KIREN_FUZZ_CHECK(fuzz::IsUtf8(card.WID()));
  KIREN_FUZZ_CHECK(fuzz::IsUtf8(card.Info()));
  (void)card.ID_4();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  fuzz::TInput in(AData, ASize);
  // The code size, then one payload read both ways.
  const int size = in.Range(-4, 24);
  const Bytes payload = in.Rest();
  CheckRecord(size, payload);
  CheckAnswerEx(payload);
  return 0;
}
