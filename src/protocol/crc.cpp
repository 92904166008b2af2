#include "protocol/crc.h"

#include <array>

namespace kiren {

namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr auto kTable = MakeTable();
static_assert(kTable[1] == 0x1021 && kTable[2] == 0x2042);

// Clamps a 1-based (start, count) to a 0-based [begin, end) inside a buffer of ASize bytes.
void Range(std::size_t ASize, int AStart, int ACount, std::size_t& ABegin, std::size_t& AEnd) {
  ABegin = AStart < 1 ? 0 : std::min<std::size_t>(std::size_t(AStart) - 1, ASize);
  AEnd = ASize;
  if (ACount > 0 && std::size_t(ACount) <= ASize - ABegin)
    AEnd = ABegin + std::size_t(ACount);
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* AData, std::size_t ASize, std::uint16_t ACrc) {
  for (std::size_t i = 0; i < ASize; ++i)
    ACrc = static_cast<std::uint16_t>(kTable[((ACrc >> 8) ^ AData[i]) & 0xFF] ^ (ACrc << 8));
  return ACrc;
}

std::uint16_t CalcCRC16(const Bytes& AData, int AStart, int ACount) {
  std::size_t begin, end;
  Range(AData.size(), AStart, ACount, begin, end);
  return Crc16(AData.data() + begin, end - begin);
}

bool CheckCRC16(const Bytes& AData, int AStart, int ACount) {
  if (AData.size() <= 2)
    return false;
  std::size_t begin, end;
  Range(AData.size(), AStart, ACount, begin, end);
  // The CRC covers the range less its last two bytes; a range that short covers nothing.
  const std::size_t covered = end - begin >= 2 ? end - begin - 2 : 0;
  const std::uint16_t crc = Crc16(AData.data() + begin, covered);
  return AData[AData.size() - 2] == (crc >> 8) && AData.back() == (crc & 0xFF);
}

Bytes CRC16Str(const Bytes& AData) {
  const std::uint16_t crc = CalcCRC16(AData, 1, 0);
  return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

}  // namespace kiren
