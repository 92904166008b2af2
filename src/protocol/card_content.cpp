#include "protocol/card_content.h"

#include <algorithm>
#include <cstdio>

#include "base/codepage.h"

namespace kiren {

namespace {

constexpr std::size_t kEmitentPos = 5;
constexpr std::size_t kEmissionPos = 9;
constexpr std::size_t kIdPos = 11;
constexpr std::size_t kCodeEnd = 15;  // one past the last code byte
constexpr std::size_t kValuePos = 15;
constexpr std::size_t kHeaderSize = 5;
// Sorvel IDs are 32-bit numbers: wider code sizes are cut to the last four code bytes.
constexpr int kSorvelIdSize = 4;

const char* const kCodeTitle = "=== КОД КАРТЫ ===\r\n";
const char* const kSorvelTitle = "=== СОРВЕЛ ===\r\n";
const char* const kCounterTitle = "=== СЧЕТЧИК ===\r\n";

std::uint32_t LittleEndian(const std::uint8_t* p, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = n; i-- > 0;)
    v = v << 8 | p[i];
  return v;
}

std::uint32_t BigEndian(const std::uint8_t* p, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i)
    v = v << 8 | p[i];
  return v;
}

// ASize limited to 0..AMax, so a code never reaches outside the record.
std::size_t CodeSize(int ASize, int AMax) {
  return std::size_t(std::clamp(ASize, 0, AMax));
}

std::string Format(const char* AFormat, unsigned long long A1, unsigned long long A2 = 0,
                   unsigned long long A3 = 0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, AFormat, A1, A2, A3);
  return buf;
}

}  // namespace

std::uint32_t TKirenCard::emitent() const {
  return LittleEndian(&data[kEmitentPos], 4);
}
std::uint16_t TKirenCard::emission() const {
  return static_cast<std::uint16_t>(LittleEndian(&data[kEmissionPos], 2));
}
std::uint32_t TKirenCard::id() const {
  return LittleEndian(&data[kIdPos], 4);
}

TCardType TKirenCard::CardType() const {
  const auto h = [this](std::size_t i) { return data[i]; };
  if (h(0) == 0xFF && h(1) == 0xFF && h(2) == 0xFF) {
    if ((h(3) >> 4) == 0xD)
      return TCardType::Universal;
    if (h(3) == 0xFF) {
      switch (h(4)) {
        case 0xFF:
          return TCardType::Sorvel;
        case 0x0F:
          return TCardType::Sorvel_V;
        case 0xFE:
          return TCardType::Unknown;
        case 0xFD:
          return TCardType::LongCode;
        default:
          break;
      }
    }
    if (h(3) == 0xEF && h(4) == 0x1F)
      return TCardType::Perco_V;
  }
  return TCardType::ShortCode;
}

std::string TKirenCard::CardCode(TCardType AType, int ASize) const {
  switch (AType) {
    case TCardType::ShortCode: {
      const std::size_t n = CodeSize(ASize, kHeaderSize);
      return BytesToHex(&data[kHeaderSize - n], n);
    }
    case TCardType::LongCode:
    case TCardType::Perco_V: {
      const std::size_t n = CodeSize(ASize, kCodeEnd);
      return BytesToHex(&data[kCodeEnd - n], n);
    }
    case TCardType::Sorvel:
    case TCardType::Sorvel_V: {
      const std::size_t n = CodeSize(ASize, kSorvelIdSize);
      const std::uint32_t cardId = BigEndian(&data[kCodeEnd - n], n);
      return Format("%.10llu-%.5llu%.10llu", emitent(), emission(), cardId);
    }
    default:
      return {};
  }
}

std::string TKirenCard::CardCodeEx() const {
  const int n = data[3] & 0x0F;
  const std::uint8_t kind = data[4];
  if (kind == 1)
    return "Ошибка. Код: " + std::to_string(n);
  const std::size_t start = std::size_t((n / 5 + 1) * 5 + 5 - n);
  // A length of 15 would run past the record: only the bytes inside it are taken.
  const std::size_t end = std::min(start + std::size_t(n), kSize);
  Bytes code(data.begin() + std::ptrdiff_t(start), data.begin() + std::ptrdiff_t(end));
  ReverseBytes(code);
  const std::string x = BytesToHexTrimmed(code);
  std::string text =
      (kind == 2 && n == 10) ? std::string(kSorvelTitle) + "ID: " + x : std::string(kCodeTitle) + x;
  if (kind == 4)
    text = "Карта c value-блоком\r\n" + text;
  return text;
}

std::string TKirenCard::CardValue() const {
  return BytesToHex(&data[kValuePos], 4);
}

std::string TKirenCard::Info(int ASize, TCardType& ACardType) const {
  ACardType = CardType();
  switch (ACardType) {
    case TCardType::ShortCode:
    case TCardType::LongCode:
      return kCodeTitle + CardCode(ACardType, ASize);
    case TCardType::Sorvel:
    case TCardType::Sorvel_V: {
      std::string text = std::string(kSorvelTitle) +
                         "Код карты: " + CardCode(ACardType, kSorvelIdSize) + "\r\n" +
                         Format("Эмитент: 0x%.8llX\r\nЭмиссия: 0x%.4llX\r\nID: 0x%.8llX", emitent(),
                                emission(), id());
      if (ACardType == TCardType::Sorvel_V)
        text += "\r\n" + (kCounterTitle + CardValue());
      return text;
    }
    case TCardType::Perco_V:
      return kCodeTitle + CardCode(ACardType, ASize) + "\r\n" + kCounterTitle + CardValue();
    case TCardType::Universal:
      return CardCodeEx();
    default:
      return {};
  }
}

void TKirenCardEx::LoadFromBuf(const Bytes& ABuf) {
  std::uint8_t fixed[FixedSize()] = {};
  const std::size_t have = std::min<std::size_t>(ABuf.size(), FixedSize());
  std::copy_n(ABuf.begin(), have, fixed);
  Status.value = fixed[0];
  std::copy_n(fixed + 1, UID.size(), UID.begin());
  Emitent = BigEndian(fixed + 8, 4);
  Emission = static_cast<std::uint16_t>(BigEndian(fixed + 12, 2));
  Value = BigEndian(fixed + 14, 4);
  buf.assign(ABuf.begin() + std::ptrdiff_t(have), ABuf.end());
}

std::uint32_t TKirenCardEx::ID_4() const {
  return LittleEndian(&UID[3], 4);
}

std::string TKirenCardEx::WID() const {
  return AnsiZToUtf8(buf);
}

std::string TKirenCardEx::Info() const {
  if (!Status.CardIsHere())
    return "Нет информации о карте";
  std::string text;
  if (Status.IsSorvel())
    text =
        std::string(kSorvelTitle) + "Код карты: " + WID() + "\r\n" +
        Format("Эмитент: 0x%.8llX\r\nЭмиссия: 0x%.4llX\r\nID: 0x%.8llX", Emitent, Emission, ID_4());
  else
    text = kCodeTitle + WID();
  if (Status.HasValue())
    text += "\r\n" + (kCounterTitle + Format("%.8llX", Value)) + "\r\n";
  return text;
}

}  // namespace kiren
