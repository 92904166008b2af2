#include "protocol/records.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <stdexcept>

#include "base/text_utils.h"

namespace kiren {

namespace {

struct TCardTypeName {
  std::uint16_t type;
  std::uint8_t sak;
  const char* name;
};

constexpr TCardTypeName kCardTypeNames[] = {
    {0x0400, 0x08, "Mifare Classic 1K"},   {0x0400, 0x09, "Mifare Mini"},
    {0x0400, 0x88, "Mifare Plus S 1K"},    {0x0200, 0x18, "Mifare Classic 4K"},
    {0x4403, 0x20, "DESFire, -EV1, -ISO"}, {0x4403, 0x24, "DESFire, -EV1, -ISO"},
    {0x4400, 0x00, "Mifare Ultralight"},   {0x4400, 0x04, "Mifare Ultralight"},
    {0x4400, 0x20, "Mifare Plus S 2K"},    {0x4200, 0x20, "Mifare Plus X 4K / Plus S 4K"},
};

constexpr std::int32_t kAllCapabilities = 2147483647;

// Decimal digits to a 32-bit signed number; throws std::out_of_range when it does not fit.
std::int32_t ToInt32(const std::string& ADigits) {
  std::int64_t value = 0;
  for (char c : ADigits) {
    value = value * 10 + (c - '0');
    if (value > kAllCapabilities)
      throw std::out_of_range("Номер версии вне допустимого диапазона: " + ADigits);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

bool TStatus::HasError() const {
  return (data & kExecuted) == 0 || (data & (kAuthError | kFramWriteError | kFramReadError)) != 0;
}

std::string TStatus::Error() const {
  if (data & kAuthError)
    return "Ошибка аутентификации";
  const bool readError = (data & kFramReadError) != 0;
  const bool writeError = (data & kFramWriteError) != 0;
  if (readError && writeError)
    return "Ошибка чтения/записи настроек из FRAM";
  if (readError)
    return "Ошибка чтения настроек из FRAM";
  if (writeError)
    return "Ошибка записи настроек FRAM";
  if ((data & kExecuted) == 0)
    return "Команда не выполнена";
  return "Нет ошибок";
}

TCardType TStatusEx::CardType() const {
  if (!CardIsHere())
    return TCardType::Unknown;
  if (IsSorvel())
    return HasValue() ? TCardType::Sorvel_V : TCardType::Sorvel;
  if (IsPerco())
    return HasValue() ? TCardType::Perco_V : TCardType::Perco;
  return TCardType::Universal;
}

void TCardInfo::Clear() {
  *this = TCardInfo{};
}

std::string TCardInfo::UIDStr() const {
  return BytesToHex(UID.data(), std::min<std::size_t>(UIDSize, UID.size()));
}

std::string TCardInfo::CardType() const {
  for (const auto& entry : kCardTypeNames)
    if (entry.type == type_ && entry.sak == SAK)
      return entry.name;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Карта типа %.4X (SAK: 0x%.2X)", unsigned(type_), unsigned(SAK));
  return buf;
}

bool TCardInfo::operator==(const TCardInfo& AOther) const {
  if (status != AOther.status)
    return false;
  if (!status.CardPresent())
    return true;
  return type_ == AOther.type_ && SAK == AOther.SAK && UIDSize == AOther.UIDSize &&
         UID == AOther.UID && desc == AOther.desc;
}

void TDevInfo::Clear() {
  verInfo.clear();
  verMajor = 0;
  verMinor = 0;
  mode = 1;
}

void TDevInfo::UpdateFromVerInfo(const std::string& AVerInfo) {
  verInfo = AVerInfo;
  if (AVerInfo.find("188-06") != std::string::npos) {
    verMajor = verMinor = kAllCapabilities;
    return;
  }
  static const std::regex kVersion(R"(v(\d+)\.(\d+))");
  std::smatch match;
  if (!std::regex_search(AVerInfo, match, kVersion)) {
    verMajor = verMinor = 0;
    return;
  }
  const std::int32_t major = ToInt32(match[1].str());
  const std::int32_t minor = ToInt32(match[2].str());
  verMajor = major;
  verMinor = minor;
}

std::string BytesToHex(const std::uint8_t* p, std::size_t n) {
  std::string out;
  out.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i)
    AppendHexByte(out, p[i]);
  return out;
}

std::string BytesToHex(const Bytes& AData) {
  return BytesToHex(AData.data(), AData.size());
}

std::string BytesToHexTrimmed(const std::uint8_t* p, std::size_t n) {
  std::size_t first = 0;
  while (first < n && p[first] == 0)
    ++first;
  if (first == n)
    return "00";
  return BytesToHex(p + first, n - first);
}

std::string BytesToHexTrimmed(const Bytes& AData) {
  return BytesToHexTrimmed(AData.data(), AData.size());
}

void ReverseBytes(std::uint8_t* p, std::size_t n) {
  std::reverse(p, p + n);
}

void ReverseBytes(Bytes& AData) {
  std::reverse(AData.begin(), AData.end());
}

}  // namespace kiren
