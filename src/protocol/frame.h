#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "protocol/records.h"

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

  // Command bytes (command byte + payload) of the reader commands.
  static Bytes Req_GetVerInfo();
  static Bytes Req_GetStatus();
  static Bytes Req_GetCardType();
  static Bytes Req_GetKirenCard();
  static Bytes Req_ReadKirenCard();
  static Bytes Req_ClearCard();
  static Bytes Req_GetConfig();
  // Layout, emitent (4), emission (2), value (4), factory key (6), user data. Bad emitent,
  // emission or key texts are replaced by their defaults after a warning; user data that is
  // not hexadecimal throws std::invalid_argument.
  static Bytes Req_IssueCard(int AType, const std::string& ACodeEmitent,
                             const std::string& ACodeEmission, const std::string& AFactoryKey,
                             const std::string& AUserData);
  static Bytes Req_LoadKey(std::uint8_t AKeyType, const TKey& AKey);
  static Bytes Req_ReadBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType);
  static Bytes Req_WriteBlock(std::uint8_t ABlockNo, std::uint8_t AKeyType, const TBlock& AData);
  static Bytes Req_SetupMode(std::uint8_t AMode);
  static Bytes Req_SetupSorvelMode(std::uint8_t AMode);
  static Bytes Req_SetupPerco(const TPercoPars& APercoPars);

  // Issuing user data: hexadecimal pairs from the first character on, a last single digit is
  // one byte. Throws std::invalid_argument for a pair that is not hexadecimal.
  static Bytes UserDataToBytes(const std::string& AText);
  // One issuing parameter to ASize bytes. Hexadecimal mode: exactly ASize bytes of hex text.
  // Text mode: a signed 32-bit number (its first ASize little-endian bytes) or a text of at
  // most ASize characters (Windows-1251, zero-padded to ASize). Anything else is replaced by
  // ADefault after a warning box.
  static void ParamToBytes(const std::string& AText, const Bytes& ADefault,
                           const std::string& AParamName, Bytes& AResult, bool AIsHex,
                           std::uint8_t ASize);
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
    if (Size > 0)
      std::memcpy(pBuf, p, static_cast<std::size_t>(Size));
  }
};

}  // namespace kiren
