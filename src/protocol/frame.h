#pragma once

#include <cstdint>
#include <cstring>

#include "base/bytes.h"

namespace kiren {

// Wire frame: FE, L, escaped body (command byte, payload, CRC-16 high byte first).
// Escaping: FE -> FF 01, FF -> FF 00. Positions count from 1.
constexpr std::uint8_t kFrameStart = 0xFE;
constexpr std::uint8_t kFrameEscape = 0xFF;
constexpr int kFrameMinLength = 2;
constexpr int kFrameMaxLength = 128;

// Builds wire frames from command bytes. Stateless; the request builders (Req_*) produce
// the command bytes of each reader command.
class TBuilder {
 public:
  TBuilder() = delete;

  // The complete wire frame for command byte + payload.
  static Bytes Finalize(const Bytes& ACmdData);
  // AData with every byte from position StartPos on escaped (StartPos below 2: all of it).
  static Bytes Stuffing(const Bytes& AData, int StartPos);
};

// Recognises, unescapes and checks received frames; reads fields from payloads.
class TParser {
 public:
  TParser() = delete;

  // Looks for a complete frame in the first Size bytes of RxBuf. On success DataBlock is the
  // unescaped body up to the last received byte (bytes after the frame included, so the CRC
  // check then fails); on failure it is empty.
  static bool CheckAnswer(const Bytes& RxBuf, int Size, Bytes& DataBlock);
  // The CRC at the end of an unescaped body matches the bytes before it.
  static bool CheckCRC(const Bytes& DataBlock);
  // Removes the escaping between StartPos and min(Size, length of AData). Bytes before
  // StartPos are dropped with TrimLeft, copied otherwise.
  static Bytes UnStuffing(const Bytes& AData, int Size, int StartPos, bool TrimLeft);

  // Cursor readers; multi-byte values are big-endian. No bounds checks: callers check the
  // payload length first.
  static std::uint8_t GetByte(const std::uint8_t*& p) { return *p++; }
  static std::uint16_t GetWord(const std::uint8_t*& p) {
    const std::uint16_t w = _GetWord(p);
    p += 2;
    return w;
  }
  static void GetBuf(const std::uint8_t*& p, void* pBuf, int Size) {
    _GetBuf(p, pBuf, Size);
    p += Size;
  }
  static std::uint16_t _GetWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  }
  static void _GetBuf(const std::uint8_t* p, void* pBuf, int Size) {
    if (Size > 0) std::memcpy(pBuf, p, static_cast<std::size_t>(Size));
  }
};

}  // namespace kiren
