#include "journal/journal_settings.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace kiren {

namespace {

std::string_view Trim(std::string_view AText) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!AText.empty() && blank(AText.front()))
    AText.remove_prefix(1);
  while (!AText.empty() && blank(AText.back()))
    AText.remove_suffix(1);
  return AText;
}

std::string Lower(std::string_view AText) {
  std::string out(AText);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

TJournalError BadInput(std::string AMessage) {
  return {TJournalErrorKind::BadInput, std::move(AMessage)};
}

struct TConninfoDeleter {
  void operator()(PQconninfoOption* AOptions) const { PQconninfoFree(AOptions); }
};

}  // namespace

TIniPairs IniSection(std::string_view AIniText, std::string_view ASection) {
  TIniPairs out;
  bool inside = false;
  while (!AIniText.empty()) {
    const std::size_t end = AIniText.find('\n');
    const std::string_view line = Trim(AIniText.substr(0, end));
    AIniText.remove_prefix(end == std::string_view::npos ? AIniText.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#')
      continue;
    if (line.front() == '[' && line.back() == ']') {
      inside = Trim(line.substr(1, line.size() - 2)) == ASection;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!inside || eq == std::string_view::npos)
      continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    out.emplace_back(std::string(Trim(line.substr(0, eq))), std::string(value));
  }
  return out;
}

namespace {

enum class TConnectionProblem { None, Unreadable, Password };

TConnectionProblem FindProblem(const std::string& AConnection, std::string& ADetail) {
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, TConninfoDeleter> options(
      PQconninfoParse(AConnection.c_str(), &error));
  if (!options) {
    ADetail = error ? error : "";
    PQfreemem(error);
    while (!ADetail.empty() && (ADetail.back() == '\n' || ADetail.back() == ' '))
      ADetail.pop_back();
    return TConnectionProblem::Unreadable;
  }
  for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
    if (std::string_view(o->keyword) == "password" && o->val)
      return TConnectionProblem::Password;
  return TConnectionProblem::None;
}

}  // namespace

std::string ConnectionStringProblem(const std::string& AConnection) {
  std::string detail;
  switch (FindProblem(AConnection, detail)) {
    case TConnectionProblem::None:
      return {};
    case TConnectionProblem::Unreadable:
      // libpq quotes pieces of the string in its message: never where a password may be.
      if (detail.empty() || Lower(AConnection).find("pass") != std::string::npos)
        detail = "неверная запись";
      return "Строка подключения к журналу PostgreSQL не разобрана: " + detail;
    case TConnectionProblem::Password:
      break;
  }
  return "Пароль в строке подключения к журналу не допускается: его хранят в файле паролей "
         "PostgreSQL (~/.pgpass с правами 0600 или файл, названный в PGPASSFILE)";
}

TJournalResult<TJournalSettings> ParseJournalSettings(const TIniPairs& ASection) {
  std::optional<std::string> backend;
  TJournalSettings out;
  for (const auto& [key, value] : ASection) {
    const std::string name = Lower(key);
    if (name == "backend")
      backend = Lower(value);
    else if (name == "connection")
      out.Connection = value;
  }
  if (!backend)
    backend = out.Connection.empty() ? "sqlite" : "postgresql";
  if (*backend == "sqlite") {
    // Unused, but a password has no place in settings.ini all the same.
    std::string detail;
    if (FindProblem(out.Connection, detail) == TConnectionProblem::Password)
      return BadInput("settings.ini, раздел [Journal]: " + ConnectionStringProblem(out.Connection));
    out.Connection.clear();
    return out;
  }
  if (*backend != "postgresql")
    return BadInput("settings.ini, раздел [Journal]: неизвестный журнал Backend=" + *backend +
                    " (допустимо sqlite или postgresql)");
  out.Backend = TJournalBackend::PostgreSql;
  if (std::string problem = ConnectionStringProblem(out.Connection); !problem.empty())
    return BadInput("settings.ini, раздел [Journal]: " + problem);
  return out;
}

}  // namespace kiren
