// Answer recognition, unescaping and the CRC check over arbitrary received bytes, and the
// round trip Finalize -> CheckAnswer -> CheckCRC -> split for arbitrary command bytes.
#include <algorithm>

#include "fuzz/fuzz_common.h"
#include "protocol/crc.h"
#include "protocol/frame.h"

using namespace kiren;

namespace {

// Received bytes: whatever CheckAnswer says, it must stay inside the first Size bytes.
void CheckReceived(const Bytes& ARx, int ASize) {
  Bytes block;
  const bool found = TParser::CheckAnswer(ARx, ASize, block);
  if (!found) {
    KIREN_FUZZ_CHECK(block.empty());
    return;
  }
  const std::size_t limit = std::min<std::size_t>(std::max(ASize, 0), ARx.size());
  KIREN_FUZZ_CHECK(block.size() + 2 <= limit);
  if (TParser::CheckCRC(block)) {
    KIREN_FUZZ_CHECK(block.size() >= 3);
    KIREN_FUZZ_CHECK(CRC16Str(Bytes(block.begin(), block.end() - 2)) ==
                     Bytes(block.end() - 2, block.end()));
  }
}

// Escaping is undone by unescaping, and the escaped part never holds a start byte.
void CheckEscaping(const Bytes& AData, int AStartPos) {
  const Bytes stuffed = TBuilder::Stuffing(AData, AStartPos);
  const std::size_t keep =
      AStartPos < 2 ? 0
                    : std::min<std::size_t>(static_cast<std::size_t>(AStartPos) - 1, AData.size());
  KIREN_FUZZ_CHECK(std::equal(AData.begin(), AData.begin() + static_cast<std::ptrdiff_t>(keep),
                              stuffed.begin()));
  KIREN_FUZZ_CHECK(std::find(stuffed.begin() + static_cast<std::ptrdiff_t>(keep), stuffed.end(),
                             kFrameStart) == stuffed.end());
  const Bytes back = TParser::UnStuffing(stuffed, static_cast<int>(stuffed.size()),
                                         static_cast<int>(keep) + 1, false);
  KIREN_FUZZ_CHECK(back == AData);
}

// Command bytes framed and received again come back unchanged; no proper prefix of the frame
// is taken for a complete answer.
void CheckRoundTrip(const Bytes& ACmdData) {
  const Bytes frame = TBuilder::Finalize(ACmdData);
  const std::size_t body = frame.size() - 2;
  KIREN_FUZZ_CHECK(frame[0] == kFrameStart && frame[1] == body % 256);
  if (ACmdData.empty() || body > static_cast<std::size_t>(kFrameMaxLength))
    return;
  Bytes block;
  KIREN_FUZZ_CHECK(TParser::CheckAnswer(frame, static_cast<int>(frame.size()), block));
  KIREN_FUZZ_CHECK(TParser::CheckCRC(block));
  KIREN_FUZZ_CHECK(block.front() == ACmdData.front());
  KIREN_FUZZ_CHECK(Bytes(block.begin() + 1, block.end() - 2) ==
                   Bytes(ACmdData.begin() + 1, ACmdData.end()));
  for (std::size_t k = 0; k < frame.size(); ++k)
    KIREN_FUZZ_CHECK(!TParser::CheckAnswer(frame, static_cast<int>(k), block));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  fuzz::TInput in(AData, ASize);
  const int sizeShift = in.Range(-3, 3);
  const int startPos = in.Range(-1, 8);
  const bool trimLeft = in.Bool();
  const Bytes rest = in.Rest();
  const int n = static_cast<int>(rest.size());

  CheckReceived(rest, n);
  CheckReceived(rest, n + sizeShift);  // a Size past the buffer must not read past it
  (void)TParser::UnStuffing(rest, n + sizeShift, startPos, trimLeft);
  (void)CalcCRC16(rest, startPos, n + sizeShift);
  (void)CheckCRC16(rest, startPos, n + sizeShift);
  CheckEscaping(rest, startPos);
  CheckRoundTrip(rest);
  return 0;
}
