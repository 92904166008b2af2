#include "journal/pg_handle.h"

#include <cstdlib>

namespace kiren {

namespace {

// libpq's messages end in a newline and may span lines; messages here are one line.
std::string OneLine(const char* AText) {
  std::string out;
  for (const char* p = AText ? AText : ""; *p; ++p) {
    const bool blank = *p == '\n' || *p == '\r' || *p == '\t' || *p == ' ';
    if (!blank)
      out += *p;
    else if (!out.empty() && out.back() != ' ')
      out += ' ';
  }
  if (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

}  // namespace

ExecStatusType TPgResult::Status() const {
  return FResult ? PQresultStatus(FResult.get()) : PGRES_FATAL_ERROR;
}

bool TPgResult::Ok() const {
  const ExecStatusType status = Status();
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string TPgResult::SqlState() const {
  if (!FResult)
    return {};
  const char* state = PQresultErrorField(FResult.get(), PG_DIAG_SQLSTATE);
  return state ? state : "";
}

std::string TPgResult::ErrorText() const {
  if (!FResult)
    return "нет ответа сервера";
  return OneLine(PQresultErrorMessage(FResult.get()));
}

std::string TPgResult::Text(int ARow, int ACol) const {
  return PQgetvalue(FResult.get(), ARow, ACol);
}

std::optional<std::string> TPgResult::OptText(int ARow, int ACol) const {
  if (IsNull(ARow, ACol))
    return std::nullopt;
  return Text(ARow, ACol);
}

std::int64_t TPgResult::Int(int ARow, int ACol) const {
  return std::strtoll(PQgetvalue(FResult.get(), ARow, ACol), nullptr, 10);
}

std::optional<std::int64_t> TPgResult::OptInt(int ARow, int ACol) const {
  if (IsNull(ARow, ACol))
    return std::nullopt;
  return Int(ARow, ACol);
}

TPgResult PgExec(PGconn* AConn, const std::string& ASql, const TPgParams& AParams) {
  std::vector<const char*> values;
  values.reserve(AParams.size());
  for (const TPgParam& p : AParams)
    values.push_back(p ? p->c_str() : nullptr);
  return TPgResult(PQexecParams(AConn, ASql.c_str(), static_cast<int>(values.size()), nullptr,
                                values.data(), nullptr, nullptr, 0));
}

std::string PgConnError(PGconn* AConn) {
  return OneLine(AConn ? PQerrorMessage(AConn) : "нет соединения");
}

}  // namespace kiren
