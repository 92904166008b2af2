#pragma once

#include <cstdint>

#include "base/bytes.h"

namespace kiren {

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, no reflection, no final XOR).
// Positions count from 1. A count of 0 or less, or one running past the end, covers the
// bytes from AStart to the end. The CRC of an empty range is 0xFFFF.
std::uint16_t CalcCRC16(const Bytes& AData, int AStart, int ACount);

// True when the last two bytes of AData hold, high byte first, the CRC over the ACount - 2
// bytes from AStart (ACount of 0 or less: all bytes from AStart). False for 2 bytes or fewer.
bool CheckCRC16(const Bytes& AData, int AStart, int ACount);

// The two CRC bytes of the whole of AData, high byte first.
Bytes CRC16Str(const Bytes& AData);

// CRC over a raw range; the building block of the three above.
std::uint16_t Crc16(const std::uint8_t* AData, std::size_t ASize, std::uint16_t ACrc = 0xFFFF);

}  // namespace kiren
