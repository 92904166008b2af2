#include "protocol/answer_reader.h"

#include <algorithm>

#include "protocol/frame.h"
#include "protocol/protocol.h"

namespace kiren {

void TAnswerReader::Reset() {
  FCount = 0;
  FState = TAnswerState::Collecting;
  FCommand = 0;
  FPayload.clear();
}

TAnswerState TAnswerReader::Feed(const std::uint8_t* AData, std::size_t ACount) {
  const std::size_t n = std::min(ACount, Room());
  if (n == 0)
    return FState;
  std::copy_n(AData, n, FBuffer.begin() + static_cast<std::ptrdiff_t>(FCount));
  FCount += n;
  FState = Recognise();
  return FState;
}

TAnswerState TAnswerReader::Recognise() {
  Bytes block;
  if (!TParser::CheckAnswer(Received(), static_cast<int>(FCount), block))
    return FCount < kBufferSize ? TAnswerState::Collecting : TAnswerState::Full;
  // A body of command byte and CRC at least; shorter ones fail the CRC check anyway.
  if (block.size() < 3 || !TParser::CheckCRC(block))
    return TAnswerState::Damaged;
  FCommand = block.front();
  FPayload.assign(block.begin() + 1, block.end() - 2);
  return TAnswerState::Answer;
}

int AttemptResult(const TAnswerReader& AReader, std::uint8_t& ACmd, Bytes& AData) {
  switch (AReader.State()) {
    case TAnswerState::Answer:
      ACmd = AReader.Command();
      AData = AReader.Payload();
      return kResOk;
    case TAnswerState::Damaged:
      return kResBadAnswer;
    default:
      return kResTimeout;
  }
}

}  // namespace kiren
