#include "sim/faults.h"

#include <algorithm>

#include "protocol/crc.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

namespace kiren::sim {

namespace {

// A long answer is padded up to this many frame bytes (the tool reads at most 66).
constexpr std::size_t kLongFrameSize = 90;

std::size_t EscapedSize(const Bytes& ABody) {
  std::size_t n = ABody.size();
  for (std::uint8_t b : ABody)
    n += (b == kFrameStart || b == kFrameEscape) ? 1 : 0;
  return n;
}

// Cuts the payload so that the escaped body (command, payload, CRC of up to 4 escaped bytes)
// stays within the longest length a frame can carry.
void FitPayload(std::uint8_t ACmd, Bytes& APayload) {
  Bytes body{ACmd};
  body.insert(body.end(), APayload.begin(), APayload.end());
  while (!APayload.empty() && EscapedSize(body) + 4 > static_cast<std::size_t>(kFrameMaxLength)) {
    APayload.pop_back();
    body.pop_back();
  }
}

// A frame like TBuilder::Finalize builds, but with a CRC that does not match.
Bytes FrameWithBadCrc(const Bytes& ACmdData) {
  Bytes raw(2 + ACmdData.size());
  raw[0] = kFrameStart;
  std::copy(ACmdData.begin(), ACmdData.end(), raw.begin() + 2);
  const std::uint16_t crc = static_cast<std::uint16_t>(CalcCRC16(ACmdData, 1, 0) ^ 0x0001);
  raw.push_back(static_cast<std::uint8_t>(crc >> 8));
  raw.push_back(static_cast<std::uint8_t>(crc));
  Bytes frame = TBuilder::Stuffing(raw, 3);
  frame[1] = static_cast<std::uint8_t>(frame.size() - 2);
  return frame;
}

}  // namespace

bool TFaults::AnswerFaults() const {
  return NoAnswer || HalfAnswer || BadCrc || TrailingBytes || WrongCommand || LongAnswer ||
         DelayMs > 0;
}

bool TFaults::Any() const {
  return AnswerFaults() || WriteFaults() || EmissionBlock >= 0 || EmissionKey.has_value();
}

bool TFaults::AppliesTo(std::uint8_t ACmd) const {
  const bool shapes = AnswerFaults() || (ACmd == kCmdWriteBlock && WriteFaults());
  return shapes && Count != 0 && (OnlyCmd < 0 || OnlyCmd == ACmd);
}

Bytes FaultedAnswer(std::uint8_t ACmd, const Bytes& APayload, TFaults& AFaults, int& ADelayMs) {
  Bytes payload = APayload;
  FitPayload(ACmd, payload);
  Bytes cmdData{ACmd};
  cmdData.insert(cmdData.end(), payload.begin(), payload.end());
  if (!AFaults.AppliesTo(ACmd))
    return TBuilder::Finalize(cmdData);
  if (AFaults.Count > 0)
    --AFaults.Count;
  ADelayMs = std::max(0, AFaults.DelayMs);
  if (AFaults.NoAnswer)
    return {};
  if (AFaults.WrongCommand)
    cmdData[0] = ACmd == kCmdGetStatus ? kCmdGetVerInfo : kCmdGetStatus;
  if (AFaults.LongAnswer) {
    while (EscapedSize(cmdData) + 4 < kLongFrameSize)
      cmdData.push_back(0x00);
  }
  Bytes frame = AFaults.BadCrc ? FrameWithBadCrc(cmdData) : TBuilder::Finalize(cmdData);
  if (AFaults.TrailingBytes) {
    frame.push_back(0x00);
    frame.push_back(0x5A);
  }
  if (AFaults.HalfAnswer)
    frame.resize(frame.size() / 2);
  return frame;
}

}  // namespace kiren::sim
