#include "journal/journal_export.h"

#include <cstdio>
#include <functional>

namespace kiren {

namespace {

// How a field is written to CSV.
enum class TCsvKind {
  Plain,       // numbers and fixed texts
  Text,        // free text: guarded against being taken for a formula
  Identifier,  // digits that must stay as they are (leading zeros, long numbers, "1E5")
};

struct TColumn {
  const char* Caption;
  TCsvKind Kind;
  std::function<std::string(const TJournalRecord&)> Csv;
};

std::string OptInt(const std::optional<int>& AValue) {
  return AValue ? std::to_string(*AValue) : std::string();
}

std::string OptHex(const std::optional<std::uint32_t>& AValue, int AWidth) {
  if (!AValue)
    return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", AWidth, *AValue);
  return buf;
}

const std::vector<TColumn>& Columns() {
  static const std::vector<TColumn> columns{
      {"№", TCsvKind::Plain, [](const auto& r) { return std::to_string(r.Id); }},
      {"Время UTC", TCsvKind::Plain, [](const auto& r) { return r.TimeUtc; }},
      {"Местное время", TCsvKind::Plain, [](const auto& r) { return r.TimeLocal; }},
      {"Рабочее место", TCsvKind::Text, [](const auto& r) { return r.Station; }},
      {"Оператор", TCsvKind::Text, [](const auto& r) { return r.Login; }},
      {"Порт", TCsvKind::Text, [](const auto& r) { return r.ReaderPort; }},
      {"Версия считывателя", TCsvKind::Text, [](const auto& r) { return r.Firmware; }},
      {"UID карты", TCsvKind::Identifier, [](const auto& r) { return r.CardUid; }},
      {"Тип карты", TCsvKind::Text, [](const auto& r) { return r.CardType; }},
      {"Операция", TCsvKind::Plain, [](const auto& r) { return OperationText(r.Operation); }},
      {"Блок", TCsvKind::Plain, [](const auto& r) { return OptInt(r.Block); }},
      {"Смещение", TCsvKind::Plain, [](const auto& r) { return OptInt(r.Offset); }},
      {"Размер", TCsvKind::Plain, [](const auto& r) { return OptInt(r.Size); }},
      {"Код (hex)", TCsvKind::Identifier, [](const auto& r) { return r.CodeHex; }},
      {"Код", TCsvKind::Identifier, [](const auto& r) { return r.CodeDec; }},
      {"Формат", TCsvKind::Text, [](const auto& r) { return r.Layout; }},
      {"Эмитент", TCsvKind::Plain, [](const auto& r) { return OptHex(r.Emitent, 8); }},
      {"Эмиссия", TCsvKind::Plain, [](const auto& r) { return OptHex(r.Emission, 4); }},
      {"Код результата", TCsvKind::Plain,
       [](const auto& r) { return std::to_string(r.ResultCode); }},
      {"Результат", TCsvKind::Text, [](const auto& r) { return r.ResultText; }},
      {"Проверка", TCsvKind::Plain, [](const auto& r) { return VerifyOutcomeText(r.Verify); }},
  };
  return columns;
}

std::string CsvQuoted(const std::string& AText) {
  if (AText.find_first_of(";\"\r\n") == std::string::npos)
    return AText;
  std::string out = "\"";
  for (const char c : AText) {
    if (c == '"')
      out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvField(const std::string& AText, TCsvKind AKind) {
  if (AText.empty())
    return AText;
  switch (AKind) {
    case TCsvKind::Plain:
      return CsvQuoted(AText);
    case TCsvKind::Text:
      // A text starting like a formula is shown as text, never evaluated.
      return CsvQuoted(AText.find_first_of("=+-@\t\r") == 0 ? "'" + AText : AText);
    case TCsvKind::Identifier:
      // ="…" keeps leading zeros and long digit runs, and "12E5" is not read as a number.
      return CsvQuoted("=\"" + AText + "\"");
  }
  return AText;
}

void AppendJsonString(std::string& AOut, const std::string& AText) {
  AOut += '"';
  for (const char c : AText) {
    switch (c) {
      case '"':
        AOut += "\\\"";
        break;
      case '\\':
        AOut += "\\\\";
        break;
      case '\n':
        AOut += "\\n";
        break;
      case '\r':
        AOut += "\\r";
        break;
      case '\t':
        AOut += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          AOut += buf;
        } else {
          AOut += c;
        }
    }
  }
  AOut += '"';
}

class TJsonLine {
 public:
  void Add(const char* AKey, const std::string& AValue) {
    Key(AKey);
    AppendJsonString(FText, AValue);
  }
  void Add(const char* AKey, std::string_view AValue) { Add(AKey, std::string(AValue)); }
  void AddNumber(const char* AKey, std::int64_t AValue) {
    Key(AKey);
    FText += std::to_string(AValue);
  }
  template <class T>
  void AddNumber(const char* AKey, const std::optional<T>& AValue) {
    if (!AValue) {
      Key(AKey);
      FText += "null";
    } else {
      AddNumber(AKey, static_cast<std::int64_t>(*AValue));
    }
  }
  std::string Str() const { return "{" + FText + "}"; }

 private:
  void Key(const char* AKey) {
    if (!FText.empty())
      FText += ',';
    AppendJsonString(FText, AKey);
    FText += ':';
  }
  std::string FText;
};

std::string JsonLine(const TJournalRecord& ARow) {
  TJsonLine j;
  j.AddNumber("id", ARow.Id);
  j.Add("time_utc", ARow.TimeUtc);
  j.Add("time_local", ARow.TimeLocal);
  j.Add("station", ARow.Station);
  j.Add("login", ARow.Login);
  j.Add("reader_port", ARow.ReaderPort);
  j.Add("firmware", ARow.Firmware);
  j.Add("card_uid", ARow.CardUid);
  j.Add("card_type", ARow.CardType);
  j.Add("operation", StoredName(ARow.Operation));
  j.AddNumber("block", ARow.Block);
  j.AddNumber("offset", ARow.Offset);
  j.AddNumber("size", ARow.Size);
  j.Add("code_hex", ARow.CodeHex);
  j.Add("code_dec", ARow.CodeDec);
  j.Add("layout", ARow.Layout);
  j.AddNumber("emitent", ARow.Emitent);
  j.AddNumber("emission", ARow.Emission);
  j.AddNumber("result_code", ARow.ResultCode);
  j.Add("result_text", ARow.ResultText);
  j.Add("verify", StoredName(ARow.Verify));
  return j.Str();
}

}  // namespace

std::string JournalToCsv(const std::vector<TJournalRecord>& ARows) {
  std::string out = "\xEF\xBB\xBF";
  const auto& columns = Columns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    out += (i ? ";" : "") + CsvQuoted(columns[i].Caption);
  out += "\r\n";
  for (const auto& row : ARows) {
    for (std::size_t i = 0; i < columns.size(); ++i)
      out += (i ? ";" : "") + CsvField(columns[i].Csv(row), columns[i].Kind);
    out += "\r\n";
  }
  return out;
}

std::string JournalToJsonLines(const std::vector<TJournalRecord>& ARows) {
  std::string out;
  for (const auto& row : ARows)
    out += JsonLine(row) + "\n";
  return out;
}

}  // namespace kiren
