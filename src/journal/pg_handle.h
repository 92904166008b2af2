// Thin owners of libpq's connection and result handles, and statements with text parameters.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiren {

struct TPgConnDeleter {
  void operator()(PGconn* AConn) const { PQfinish(AConn); }
};
using TPgConn = std::unique_ptr<PGconn, TPgConnDeleter>;

// One statement's result; an empty result (no handle) stands for a lost connection.
class TPgResult {
 public:
  TPgResult() = default;
  explicit TPgResult(PGresult* AResult) : FResult(AResult) {}

  PGresult* get() const { return FResult.get(); }
  ExecStatusType Status() const;
  // True for a command or a query that completed.
  bool Ok() const;
  // The server's SQLSTATE ("23505", ...), empty when there is none.
  std::string SqlState() const;
  std::string ErrorText() const;

  int Rows() const { return FResult ? PQntuples(FResult.get()) : 0; }
  bool IsNull(int ARow, int ACol) const { return PQgetisnull(FResult.get(), ARow, ACol) != 0; }
  std::string Text(int ARow, int ACol) const;
  std::optional<std::string> OptText(int ARow, int ACol) const;
  std::int64_t Int(int ARow, int ACol) const;
  std::optional<std::int64_t> OptInt(int ARow, int ACol) const;

 private:
  struct TDeleter {
    void operator()(PGresult* AResult) const { PQclear(AResult); }
  };
  std::unique_ptr<PGresult, TDeleter> FResult;
};

// A statement parameter in text form; nothing is SQL NULL.
using TPgParam = std::optional<std::string>;
using TPgParams = std::vector<TPgParam>;

// Runs ASql ($1, $2, ... for AParams) and returns its result, whatever its status.
TPgResult PgExec(PGconn* AConn, const std::string& ASql, const TPgParams& AParams = {});

// libpq's last error on the connection, on one line.
std::string PgConnError(PGconn* AConn);

}  // namespace kiren
