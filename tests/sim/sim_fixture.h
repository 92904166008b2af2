// Shared test helpers: a TProtocol whose exchange procedure runs every request through the
// frame codec into a TFirmware and the answer back through the codec, and a fixture on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "protocol/answer_reader.h"
#include "protocol/card_content.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "sim/firmware.h"

namespace kiren::sim::test {

// Result codes like the worker's exchange: 0 intact answer, 3 nothing complete, 4 damaged.
inline int Exchange(TFirmware& AFirmware, const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
  TAnswerReader reader;
  reader.Feed(AFirmware.Receive(TBuilder::Finalize(AReq)));
  return AttemptResult(reader, ACmd, AData);
}

struct TSimProtocol {
  TFirmware Firmware;
  TProtocol Proto{[this](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    return Exchange(Firmware, AReq, ACmd, AData);
  }};
};

// A test against the virtual reader through TProtocol, with the reader's card-content answers
// as the texts the tests compare.
class SimProtocolTest : public ::testing::Test {
 protected:
  TSimProtocol S;
  TProtocol& P = S.Proto;

  std::string InfoEx() {
    TKirenCardEx c;
    EXPECT_EQ(P.GetKirenCard(c), kResOk);
    return c.Info();
  }
  std::string InfoShort(int ASize) {
    TKirenCard c;
    EXPECT_EQ(P.GetKirenCard(c), kResOk);
    TCardType type;
    return c.Info(ASize, type);
  }
};

}  // namespace kiren::sim::test
