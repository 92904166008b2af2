// Fault switches of the virtual reader: answers that arrive late, damaged, cut short or not at
// all, for testing how the tool copes.
#pragma once

#include <cstdint>
#include <optional>

#include "base/bytes.h"
#include "sim/card.h"

namespace kiren::sim {

// The answer and write switches apply to the answers that follow while Count is not 0 (-1: no
// limit; each faulted answer counts down) and, with OnlyCmd set, only to answers of that
// command. The emission switches stay in force until switched off.
struct TFaults {
  bool NoAnswer = false;       // request executed, nothing sent
  bool HalfAnswer = false;     // first half of the frame, then silence
  bool BadCrc = false;         // complete frame whose CRC is wrong
  bool TrailingBytes = false;  // two extra bytes right after the frame
  bool WrongCommand = false;   // the answer carries another command byte
  bool LongAnswer = false;     // valid frame padded with zero payload bytes past 66 bytes
  int DelayMs = 0;             // answer held back this long (the pty host waits)
  // Block writes (0xA3) answered 0001 as if done:
  bool WriteNotStored = false;  // nothing stored
  int WritePartial = 0;         // only the first N bytes stored (1..15; 0: off)
  // The card-content answers (0x50, 0x55) and the reader's own key ring use another block or
  // key than the emission parameters the reader reports (a reader whose settings did not
  // take); -1 / empty: off.
  int EmissionBlock = -1;
  std::optional<TKey6> EmissionKey;
  int Count = -1;
  int OnlyCmd = -1;

  bool AnswerFaults() const;
  bool WriteFaults() const { return WriteNotStored || WritePartial > 0; }
  bool Any() const;
  // True when the switches shape the answer to ACmd now.
  bool AppliesTo(std::uint8_t ACmd) const;
};

// The answer frame to ACmd with APayload as the switches shape it (payloads cut to fit one
// frame); counts AFaults down when they applied. ADelayMs receives the delay to wait.
Bytes FaultedAnswer(std::uint8_t ACmd, const Bytes& APayload, TFaults& AFaults, int& ADelayMs);

}  // namespace kiren::sim
