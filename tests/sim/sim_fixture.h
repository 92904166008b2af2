// Shared test helpers: a TProtocol whose exchange procedure runs every request through the
// frame codec into a TFirmware and the answer back through the codec.
#pragma once

#include <cstdint>

#include "protocol/answer_reader.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "sim/firmware.h"

namespace kiren::sim::test {

// Result codes like the worker's exchange: 0 intact answer, 3 nothing complete, 4 damaged.
inline int Exchange(TFirmware& AFirmware, const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  TAnswerReader reader;
  switch (reader.Feed(AFirmware.Receive(TBuilder::Finalize(AReq)))) {
    case TAnswerState::Answer:
      ACmd = reader.Command();
      AData = reader.Payload();
      return kResOk;
    case TAnswerState::Damaged:
      return kResBadAnswer;
    default:
      return kResTimeout;
  }
}

struct TSimProtocol {
  TFirmware Firmware;
  TProtocol Proto{[this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    return Exchange(Firmware, AReq, ACmd, AData);
  }};
};

}  // namespace kiren::sim::test
