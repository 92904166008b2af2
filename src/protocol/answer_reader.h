// Collects the bytes of one answer into the fixed receive buffer and recognises the frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace kiren {

// Where an answer stands after the bytes fed so far.
enum class TAnswerState {
  Collecting,  // no complete frame yet, room left for more bytes
  Answer,      // a complete frame with a valid CRC: Command() and Payload() hold it
  Damaged,     // a complete frame whose CRC (or size) is wrong
  Full,        // the buffer is full without a complete frame; nothing more is taken
};

// The receive path of one exchange attempt. Bytes are fed as they arrive; after each feed
// the received bytes are searched for a complete frame (bytes before the start byte are
// skipped, bytes after the frame stay in the body and fail the CRC). Once the state is
// anything but Collecting, further feeds take nothing.
class TAnswerReader {
 public:
  static constexpr std::size_t kBufferSize = 66;

  TAnswerReader() = default;

  // Back to an empty buffer for a new attempt.
  void Reset();
  // Takes at most Room() of the ACount bytes and returns the new state.
  TAnswerState Feed(const std::uint8_t* AData, std::size_t ACount);
  TAnswerState Feed(const Bytes& AData) { return Feed(AData.data(), AData.size()); }

  TAnswerState State() const { return FState; }
  bool Done() const { return FState != TAnswerState::Collecting; }
  // Free bytes left in the buffer; 0 once the reader is done.
  std::size_t Room() const { return Done() ? 0 : kBufferSize - FCount; }
  // The bytes taken so far, in arrival order.
  Bytes Received() const { return Bytes(FBuffer.begin(), FBuffer.begin() + FCount); }
  std::size_t Count() const { return FCount; }

  // The answer's command byte and payload; meaningful in state Answer.
  std::uint8_t Command() const { return FCommand; }
  const Bytes& Payload() const { return FPayload; }

 private:
  TAnswerState Recognise();

  std::array<std::uint8_t, kBufferSize> FBuffer{};
  std::size_t FCount = 0;
  TAnswerState FState = TAnswerState::Collecting;
  std::uint8_t FCommand = 0;
  Bytes FPayload;
};

// The result code of an attempt once AReader is done: kResOk with the answer's command byte
// and payload in ACmd and AData, kResBadAnswer for a damaged frame, kResTimeout where no
// complete frame came.
int AttemptResult(const TAnswerReader& AReader, std::uint8_t& ACmd, Bytes& AData);

}  // namespace kiren
