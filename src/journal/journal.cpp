#include "journal/journal.h"

#include <time.h>

#include <array>
#include <cctype>
#include <cstdio>

#include "base/text_utils.h"

namespace kiren {

namespace {

template <class E>
struct TNamed {
  E Value;
  std::string_view Stored;
  const char* Text;
};

constexpr std::array<TNamed<TJournalOperation>, 4> kOperations{{
    {TJournalOperation::CardCodeWrite, "card_code_write", "Запись кода карты"},
    {TJournalOperation::Issue, "issue", "Выдача карты"},
    {TJournalOperation::Clear, "clear", "Очистка карты"},
    {TJournalOperation::EmissionWrite, "emission_write", "Запись параметров эмиссии"},
}};

constexpr std::array<TNamed<TVerifyOutcome>, 5> kOutcomes{{
    {TVerifyOutcome::NotChecked, "not_checked", "Не проверено"},
    {TVerifyOutcome::Verified, "verified", "Проверено"},
    {TVerifyOutcome::ReadBackDiffers, "read_back_differs", "Прочитанное с карты отличается"},
    {TVerifyOutcome::ReaderReportsOther, "reader_reports_other", "Считыватель сообщает другой код"},
    {TVerifyOutcome::ReaderCannotRead, "reader_cannot_read",
     "Считыватель не может прочитать карту"},
}};

template <class E, std::size_t N>
const TNamed<E>& Find(const std::array<TNamed<E>, N>& ATable, E AValue) {
  for (const auto& entry : ATable)
    if (entry.Value == AValue)
      return entry;
  return ATable[0];
}

template <class E, std::size_t N>
std::optional<E> FindStored(const std::array<TNamed<E>, N>& ATable, std::string_view AName) {
  for (const auto& entry : ATable)
    if (entry.Stored == AName)
      return entry.Value;
  return std::nullopt;
}

// Digits most significant first, in base ABase, converted to base AToBase.
std::vector<int> ConvertDigits(const std::vector<int>& ADigits, int ABase, int AToBase) {
  std::vector<int> number = ADigits;
  std::vector<int> out;  // least significant first
  while (!number.empty()) {
    std::vector<int> quotient;
    int rest = 0;
    for (const int d : number) {
      const int acc = rest * ABase + d;
      if (!quotient.empty() || acc / AToBase != 0)
        quotient.push_back(acc / AToBase);
      rest = acc % AToBase;
    }
    out.push_back(rest);
    number = std::move(quotient);
  }
  if (out.empty())
    out.push_back(0);
  return {out.rbegin(), out.rend()};
}

struct TSplitTime {
  std::tm Tm{};
  int Ms = 0;
  long Offset = 0;  // seconds east of UTC
};

TSplitTime Split(std::chrono::system_clock::time_point ATime, bool ALocal) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(ATime.time_since_epoch()).count();
  std::int64_t secs = ms / 1000;
  int rest = static_cast<int>(ms % 1000);
  if (rest < 0) {
    rest += 1000;
    --secs;
  }
  const time_t t = static_cast<time_t>(secs);
  TSplitTime out;
  out.Ms = rest;
  if (ALocal) {
    localtime_r(&t, &out.Tm);
    out.Offset = out.Tm.tm_gmtoff;
  } else {
    gmtime_r(&t, &out.Tm);
  }
  return out;
}

std::string DateTimeText(const TSplitTime& AT) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", AT.Tm.tm_year + 1900,
                AT.Tm.tm_mon + 1, AT.Tm.tm_mday, AT.Tm.tm_hour, AT.Tm.tm_min, AT.Tm.tm_sec, AT.Ms);
  return buf;
}

// Reads exactly ACount decimal digits at APos.
bool ReadNumber(std::string_view AText, std::size_t& APos, std::size_t ACount, int& AValue) {
  if (APos + ACount > AText.size())
    return false;
  AValue = 0;
  for (std::size_t i = 0; i < ACount; ++i) {
    const char c = AText[APos + i];
    if (c < '0' || c > '9')
      return false;
    AValue = AValue * 10 + (c - '0');
  }
  APos += ACount;
  return true;
}

bool Expect(std::string_view AText, std::size_t& APos, char AChar) {
  if (APos >= AText.size() || AText[APos] != AChar)
    return false;
  ++APos;
  return true;
}

}  // namespace

std::string_view StoredName(TJournalOperation AOperation) {
  return Find(kOperations, AOperation).Stored;
}

std::string_view StoredName(TVerifyOutcome AOutcome) {
  return Find(kOutcomes, AOutcome).Stored;
}

std::optional<TJournalOperation> OperationFromStoredName(std::string_view AName) {
  return FindStored(kOperations, AName);
}

std::optional<TVerifyOutcome> VerifyOutcomeFromStoredName(std::string_view AName) {
  return FindStored(kOutcomes, AName);
}

std::string OperationText(TJournalOperation AOperation) {
  return Find(kOperations, AOperation).Text;
}

std::string VerifyOutcomeText(TVerifyOutcome AOutcome) {
  return Find(kOutcomes, AOutcome).Text;
}

std::optional<std::string> NormalizeCodeHex(std::string_view AText) {
  std::string digits;
  std::size_t i = 0;
  while (i < AText.size() && AText[i] == ' ')
    ++i;
  if (i + 1 < AText.size() && AText[i] == '0' && (AText[i + 1] == 'x' || AText[i + 1] == 'X'))
    i += 2;
  for (; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == ' ')
      continue;
    if (HexDigitValue(c) < 0)
      return std::nullopt;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.empty())
    return std::nullopt;
  const auto first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : digits.substr(first);
}

std::optional<std::string> StoredCodeHex(std::string_view ACodeHex) {
  if (ACodeHex.empty())
    return std::string();
  return NormalizeCodeHex(ACodeHex);
}

std::string NormalizeCardUid(std::string_view AUid) {
  std::string out;
  for (const char c : AUid)
    if (c != ' ')
      out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

std::string CodeHexToDecimal(std::string_view ACodeHex) {
  std::vector<int> digits;
  for (const char c : ACodeHex)
    if (HexDigitValue(c) >= 0)
      digits.push_back(HexDigitValue(c));
  std::string out;
  for (const int d : ConvertDigits(digits, 16, 10))
    out += static_cast<char>('0' + d);
  return out;
}

std::optional<std::string> CodeDecimalToHex(std::string_view ADecimal) {
  std::vector<int> digits;
  for (const char c : ADecimal) {
    if (c < '0' || c > '9')
      return std::nullopt;
    digits.push_back(c - '0');
  }
  if (digits.empty())
    return std::nullopt;
  std::string out;
  for (const int d : ConvertDigits(digits, 10, 16))
    out += "0123456789ABCDEF"[d];
  return out;
}

std::string IsoUtc(std::chrono::system_clock::time_point ATime) {
  return DateTimeText(Split(ATime, false)) + "Z";
}

std::string IsoLocal(std::chrono::system_clock::time_point ATime) {
  const TSplitTime t = Split(ATime, true);
  const long off = t.Offset < 0 ? -t.Offset : t.Offset;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", t.Offset < 0 ? '-' : '+', off / 3600,
                off / 60 % 60);
  return DateTimeText(t) + zone;
}

std::chrono::system_clock::time_point RecordedTime(const TJournalRecord& ARecord) {
  return ARecord.Time == std::chrono::system_clock::time_point{} ? std::chrono::system_clock::now()
                                                                 : ARecord.Time;
}

std::optional<std::chrono::system_clock::time_point> ParseJournalTime(std::string_view AText) {
  std::size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  if (!ReadNumber(AText, pos, 4, year) || !Expect(AText, pos, '-') ||
      !ReadNumber(AText, pos, 2, month) || !Expect(AText, pos, '-') ||
      !ReadNumber(AText, pos, 2, day))
    return std::nullopt;
  if (pos < AText.size() && (AText[pos] == 'T' || AText[pos] == ' ')) {
    ++pos;
    if (!ReadNumber(AText, pos, 2, hour) || !Expect(AText, pos, ':') ||
        !ReadNumber(AText, pos, 2, minute))
      return std::nullopt;
    if (pos < AText.size() && AText[pos] == ':' && !(++pos, ReadNumber(AText, pos, 2, second)))
      return std::nullopt;
    if (pos < AText.size() && AText[pos] == '.' && !(++pos, ReadNumber(AText, pos, 3, ms)))
      return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  time_t t = 0;
  if (pos == AText.size()) {
    tm.tm_isdst = -1;
    t = mktime(&tm);
  } else {
    long offset = 0;
    if (AText[pos] == 'Z') {
      ++pos;
    } else if (AText[pos] == '+' || AText[pos] == '-') {
      const long sign = AText[pos++] == '-' ? -1 : 1;
      int oh = 0, om = 0;
      if (!ReadNumber(AText, pos, 2, oh) || !Expect(AText, pos, ':') ||
          !ReadNumber(AText, pos, 2, om) || oh > 23 || om > 59)
        return std::nullopt;
      offset = sign * (oh * 3600L + om * 60L);
    }
    if (pos != AText.size())
      return std::nullopt;
    t = timegm(&tm) - offset;
  }
  return std::chrono::system_clock::from_time_t(t) + std::chrono::milliseconds(ms);
}

}  // namespace kiren
