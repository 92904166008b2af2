// Fault switches of the virtual reader: answers that arrive late, damaged, cut short or not at
// all, for testing how the tool copes.
#pragma once

#include <cstdint>

#include "base/bytes.h"

namespace kiren::sim {

// They apply to the answers that follow while Count is not 0 (-1: no limit; each faulted
// answer counts down) and, with OnlyCmd set, only to answers of that command.
struct TFaults {
  bool NoAnswer = false;       // request executed, nothing sent
  bool HalfAnswer = false;     // first half of the frame, then silence
  bool BadCrc = false;         // complete frame whose CRC is wrong
  bool TrailingBytes = false;  // two extra bytes right after the frame
  bool WrongCommand = false;   // the answer carries another command byte
  bool LongAnswer = false;     // valid frame padded with zero payload bytes past 66 bytes
  int DelayMs = 0;             // answer held back this long (the pty host waits)
  int Count = -1;
  int OnlyCmd = -1;

  bool Any() const;
  // True when the switches shape the answer to ACmd now.
  bool AppliesTo(std::uint8_t ACmd) const;
};

// The answer frame to ACmd with APayload as the switches shape it (payloads cut to fit one
// frame); counts AFaults down when they applied. ADelayMs receives the delay to wait.
Bytes FaultedAnswer(std::uint8_t ACmd, const Bytes& APayload, TFaults& AFaults, int& ADelayMs);

}  // namespace kiren::sim
