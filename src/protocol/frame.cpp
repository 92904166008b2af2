#include "protocol/frame.h"

#include <algorithm>

#include "protocol/crc.h"

namespace kiren {

Bytes TBuilder::Finalize(const Bytes& ACmdData) {
  const std::uint16_t crc = CalcCRC16(ACmdData, 1, 0);
  Bytes raw;
  raw.reserve(ACmdData.size() + 4);
  raw.push_back(kFrameStart);
  raw.push_back(0);  // length placeholder, set once the body is escaped
  raw.insert(raw.end(), ACmdData.begin(), ACmdData.end());
  raw.push_back(static_cast<std::uint8_t>(crc >> 8));
  raw.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  Bytes frame = Stuffing(raw, 3);
  frame[1] = static_cast<std::uint8_t>((frame.size() - 2) % 256);
  return frame;
}

Bytes TBuilder::Stuffing(const Bytes& AData, int StartPos) {
  const std::size_t keep = StartPos < 2 ? 0 : std::min<std::size_t>(StartPos - 1, AData.size());
  Bytes out;
  out.reserve(AData.size() * 2);
  out.insert(out.end(), AData.begin(), AData.begin() + static_cast<std::ptrdiff_t>(keep));
  for (std::size_t i = keep; i < AData.size(); ++i) {
    const std::uint8_t b = AData[i];
    if (b == kFrameStart || b == kFrameEscape) {
      out.push_back(kFrameEscape);
      out.push_back(b == kFrameStart ? 0x01 : 0x00);
    } else {
      out.push_back(b);
    }
  }
  return out;
}

bool TParser::CheckAnswer(const Bytes& RxBuf, int Size, Bytes& DataBlock) {
  DataBlock.clear();
  const std::size_t received = Size <= 0 ? 0 : std::min<std::size_t>(Size, RxBuf.size());
  const auto end = RxBuf.begin() + static_cast<std::ptrdiff_t>(received);
  const auto start = std::find(RxBuf.begin(), end, kFrameStart);
  if (start == end || start + 1 == end)
    return false;
  const int length = start[1];
  const std::ptrdiff_t arrivedAfterLength = end - (start + 2);
  if (length < kFrameMinLength || length > kFrameMaxLength || length > arrivedAfterLength)
    return false;
  const int bodyPos = static_cast<int>(start - RxBuf.begin()) + 3;  // 1-based, after L
  DataBlock = UnStuffing(RxBuf, static_cast<int>(received), bodyPos, true);
  return true;
}

bool TParser::CheckCRC(const Bytes& DataBlock) {
  return CheckCRC16(DataBlock, 1, 0);
}

Bytes TParser::UnStuffing(const Bytes& AData, int Size, int StartPos, bool TrimLeft) {
  const std::size_t limit = Size <= 0 ? 0 : std::min<std::size_t>(Size, AData.size());
  const std::size_t first = StartPos < 2 ? 0 : std::min<std::size_t>(StartPos - 1, limit);
  Bytes out;
  out.reserve(limit);
  if (!TrimLeft)
    out.insert(out.end(), AData.begin(), AData.begin() + static_cast<std::ptrdiff_t>(first));
  for (std::size_t i = first; i < limit; ++i) {
    const std::uint8_t b = AData[i];
    if (b != kFrameEscape) {
      out.push_back(b);
    } else if (i + 1 < limit) {
      const std::uint8_t next = AData[i + 1];
      if (next == 0x00 || next == 0x01) {
        out.push_back(next == 0x00 ? kFrameEscape : kFrameStart);
        ++i;
      }
      // Any other byte after FF: the FF alone is dropped and the next byte is read anew.
    }
    // An FF at the limit is dropped.
  }
  return out;
}

}  // namespace kiren
