// Shared test helpers: a TProtocol whose exchange procedure runs every request through the
// frame codec into a TFirmware and the answer back through the codec.
#pragma once

#include <cstdint>

#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "sim/firmware.h"

namespace kiren::sim::test {

// Result codes like the worker's exchange: 0 intact answer, 3 nothing complete, 4 damaged.
inline int Exchange(TFirmware& AFirmware, const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  const Bytes rx = AFirmware.Receive(TBuilder::Finalize(AReq));
  Bytes block;
  if (!TParser::CheckAnswer(rx, static_cast<int>(rx.size()), block))
    return kResTimeout;
  if (!TParser::CheckCRC(block))
    return kResBadAnswer;
  ACmd = block[0];
  AData.assign(block.begin() + 1, block.end() - 2);
  return kResOk;
}

struct TSimProtocol {
  TFirmware Firmware;
  TProtocol Proto{[this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    return Exchange(Firmware, AReq, ACmd, AData);
  }};
};

}  // namespace kiren::sim::test
