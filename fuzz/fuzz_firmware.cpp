// The virtual reader's request handling: host bytes of any kind, in pieces, mixed with
// correctly framed commands of any content, with or without a card in the field. Without
// fault switches every answer must be a well-formed frame for the command it answers.
#include "fuzz/fuzz_common.h"
#include "protocol/frame.h"
#include "sim/card.h"
#include "sim/firmware.h"

using namespace kiren;
using namespace kiren::sim;

namespace {

// Splits concatenated answers into frames and checks each one.
void CheckAnswers(const Bytes& AOut) {
  std::size_t pos = 0;
  while (pos < AOut.size()) {
    KIREN_FUZZ_CHECK(AOut[pos] == kFrameStart && pos + 1 < AOut.size());
    const std::size_t len = AOut[pos + 1];
    KIREN_FUZZ_CHECK(len >= kFrameMinLength && len <= kFrameMaxLength);
    KIREN_FUZZ_CHECK(pos + 2 + len <= AOut.size());
    const Bytes frame(AOut.begin() + static_cast<std::ptrdiff_t>(pos),
                      AOut.begin() + static_cast<std::ptrdiff_t>(pos + 2 + len));
    Bytes block;
    KIREN_FUZZ_CHECK(TParser::CheckAnswer(frame, static_cast<int>(frame.size()), block));
    KIREN_FUZZ_CHECK(TParser::CheckCRC(block));
    pos += 2 + len;
  }
}

}  // namespace

// Input: card kind (or none), fault switches, then segments: a header byte (bit 7: frame the
// segment as a command; bits 0-6: its length) and the segment's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  fuzz::TInput in(AData, ASize);
  TFirmware fw;
  const int kind = in.Range(0, 6);
  if (kind < 6)
    fw.PutCard(TCard::Make(static_cast<TCardKind>(kind), in.Take(in.Bool() ? 7 : 4)));
  const std::uint8_t faultBits = in.Byte();
  TFaults faults;
  const bool withFaults = (faultBits & 0x80) != 0;
  if (withFaults) {
    faults.NoAnswer = faultBits & 0x01;
    faults.HalfAnswer = faultBits & 0x02;
    faults.BadCrc = faults.HalfAnswer ? false : (faultBits & 0x04) != 0;
    faults.TrailingBytes = faultBits & 0x08;
    faults.WrongCommand = faultBits & 0x10;
    faults.LongAnswer = faultBits & 0x20;
    faults.Count = in.Range(-1, 3);
    faults.OnlyCmd = in.Bool() ? in.Byte() : -1;
    fw.SetFaults(faults);
  }
  while (in.Left() > 0) {
    const std::uint8_t header = in.Byte();
    const Bytes segment = in.Take(header & 0x7F);
    const bool framed = (header & 0x80) != 0 && !segment.empty();
    const Bytes host = framed ? TBuilder::Finalize(segment) : segment;
    int delay = -1;
    const Bytes out = fw.Receive(host, &delay);
    KIREN_FUZZ_CHECK(delay >= 0);
    if (withFaults)
      continue;
    CheckAnswers(out);
  }
  (void)fw.History();
  return 0;
}
