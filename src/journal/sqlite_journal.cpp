#include "journal/sqlite_journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "base/user_files.h"

namespace kiren {

namespace {

// ---- RAII for the C API ---------------------------------------------------------------------

struct TDbCloser {
  void operator()(sqlite3* ADb) const { sqlite3_close_v2(ADb); }
};
using TDb = std::unique_ptr<sqlite3, TDbCloser>;

struct TStmtFinalizer {
  void operator()(sqlite3_stmt* AStmt) const { sqlite3_finalize(AStmt); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFinalizer>;

// ---- Schema ---------------------------------------------------------------------------------

// Step i brings a file of version i to version i + 1. Steps are only ever appended: a file
// written by any earlier program is brought up to date step by step.
const char* const kMigrations[] = {
    // 0 -> 1: the journal. There is no column for keys: the journal never stores one.
    "CREATE TABLE journal ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time_ms INTEGER NOT NULL,"  // milliseconds since 1970-01-01 UTC, for ordering and filters
    " time_utc TEXT NOT NULL,"
    " time_local TEXT NOT NULL,"
    " station TEXT NOT NULL,"
    " login TEXT NOT NULL,"
    " reader_port TEXT NOT NULL,"
    " firmware TEXT NOT NULL,"
    " card_uid TEXT NOT NULL,"
    " card_type TEXT NOT NULL,"
    " operation TEXT NOT NULL,"
    " block_no INTEGER,"
    " code_offset INTEGER,"
    " code_size INTEGER,"
    " code_hex TEXT NOT NULL,"
    " code_dec TEXT NOT NULL,"
    " layout TEXT NOT NULL,"
    " emitent INTEGER,"
    " emission INTEGER,"
    " result_code INTEGER NOT NULL,"
    " result_text TEXT NOT NULL,"
    " verify TEXT NOT NULL);"
    "CREATE INDEX journal_code ON journal(code_hex);"
    "CREATE INDEX journal_uid ON journal(card_uid);"
    "CREATE INDEX journal_time ON journal(time_ms);",
    // 1 -> 2: series of codes handed out by the journal, and codes that were spoiled.
    "CREATE TABLE series ("
    " name TEXT PRIMARY KEY,"
    " next_code INTEGER NOT NULL);"
    "CREATE TABLE spoiled_codes ("
    " series TEXT NOT NULL,"
    " code INTEGER NOT NULL,"
    " reason TEXT NOT NULL,"
    " time_utc TEXT NOT NULL,"
    " PRIMARY KEY (series, code));",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

constexpr int kBusyTimeoutMs = 2000;

// ---- Errors ---------------------------------------------------------------------------------

TJournalError Error(TJournalErrorKind AKind, std::string AMessage) {
  return {.Kind = AKind, .Message = std::move(AMessage)};
}

std::string Quoted(const std::string& APath) {
  return "«" + APath + "»";
}

TJournalError SqliteError(sqlite3* ADb, int ARc, const std::string& APath) {
  const std::string detail = ADb ? sqlite3_errmsg(ADb) : sqlite3_errstr(ARc);
  switch (ARc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Error(TJournalErrorKind::Locked, "Журнал выдачи " + Quoted(APath) +
                                                  " занят другой программой. Закройте её и "
                                                  "повторите.");
    case SQLITE_READONLY:
      return Error(TJournalErrorKind::ReadOnly,
                   "Журнал выдачи " + Quoted(APath) +
                       " доступен только для чтения: нет права записи в файл или его папку.");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Error(TJournalErrorKind::Corrupt,
                   "Файл " + Quoted(APath) +
                       " повреждён или не является журналом выдачи. Файл оставлен как есть.");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Error(TJournalErrorKind::CannotOpen,
                   "Не удалось открыть журнал выдачи " + Quoted(APath) + " (" + detail + ").");
    default:
      return Error(TJournalErrorKind::Io,
                   "Ошибка журнала выдачи " + Quoted(APath) + " (" + detail + ").");
  }
}

// ---- Small statement helpers ----------------------------------------------------------------

std::int64_t EpochMs(std::chrono::system_clock::time_point ATime) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(ATime.time_since_epoch()).count();
}

void BindText(sqlite3_stmt* AStmt, int AIndex, const std::string& AText) {
  sqlite3_bind_text(AStmt, AIndex, AText.data(), static_cast<int>(AText.size()), SQLITE_TRANSIENT);
}

template <class T>
void BindOptional(sqlite3_stmt* AStmt, int AIndex, const std::optional<T>& AValue) {
  if (AValue)
    sqlite3_bind_int64(AStmt, AIndex, static_cast<std::int64_t>(*AValue));
  else
    sqlite3_bind_null(AStmt, AIndex);
}

std::string ColumnText(sqlite3_stmt* AStmt, int AColumn) {
  const auto* text = sqlite3_column_text(AStmt, AColumn);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(AStmt, AColumn)))
              : std::string();
}

template <class T>
std::optional<T> ColumnOptional(sqlite3_stmt* AStmt, int AColumn) {
  if (sqlite3_column_type(AStmt, AColumn) == SQLITE_NULL)
    return std::nullopt;
  return static_cast<T>(sqlite3_column_int64(AStmt, AColumn));
}

// ---- The file -------------------------------------------------------------------------------

constexpr mode_t kFileMode = S_IRUSR | S_IWUSR;

// Creates the folder (private to the owner when new) and the file with mode 0600, so the
// file is never readable by others, not even for a moment. SQLite gives the -wal and -shm
// files the mode of the journal file.
std::optional<TJournalError> PrepareFile(const std::string& APath) {
  const std::filesystem::path path(APath);
  std::error_code ec;
  if (path.has_parent_path() && !std::filesystem::exists(path.parent_path(), ec)) {
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec)
      return Error(TJournalErrorKind::CannotOpen, "Не удалось создать папку журнала выдачи " +
                                                      Quoted(path.parent_path().string()) + " (" +
                                                      ec.message() + ").");
    ::chmod(path.parent_path().c_str(), S_IRWXU);
  }
  const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0) {
    if (errno != ENOENT)
      return Error(
          TJournalErrorKind::CannotOpen,
          "Не удалось открыть журнал выдачи " + Quoted(APath) + " (" + std::strerror(errno) + ").");
    if (!IsWritableDir(dir))
      return Error(TJournalErrorKind::ReadOnly,
                   "Нет права записи в папку журнала выдачи " + Quoted(dir) + ".");
    const int fd = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0 && errno != EEXIST)
      return Error(
          TJournalErrorKind::CannotOpen,
          "Не удалось создать журнал выдачи " + Quoted(APath) + " (" + std::strerror(errno) + ").");
    if (fd >= 0)
      ::close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode))
    return Error(TJournalErrorKind::CannotOpen,
                 "Журнал выдачи " + Quoted(APath) + " не является обычным файлом.");
  // The journal in WAL mode writes beside itself: both the file and its folder must be
  // writable.
  if (::access(APath.c_str(), R_OK | W_OK) != 0 || !IsWritableDir(dir))
    return Error(TJournalErrorKind::ReadOnly,
                 "Журнал выдачи " + Quoted(APath) +
                     " доступен только для чтения: нет права записи в файл или его папку.");
  return std::nullopt;
}

// A journal made readable to others (copied, restored) is made private again, with its side
// files.
void NarrowModes(const std::string& APath) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string file = APath + suffix;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && (st.st_mode & 077) != 0 && st.st_uid == ::geteuid())
      ::chmod(file.c_str(), kFileMode);
  }
}

// ---- The back end ---------------------------------------------------------------------------

class TSqliteJournal final : public IJournal {
 public:
  TSqliteJournal(TDb ADb, std::string APath) : FDb(std::move(ADb)), FPath(std::move(APath)) {}

  std::string Location() const override { return FPath; }

  TJournalResult<std::int64_t> Append(const TJournalRecord& ARecord) override;
  TJournalResult<std::optional<TCodeOnOtherCard>> FindCodeOnOtherCard(
      const std::string& ACodeHex, const std::string& ACardUid) override;
  TJournalResult<std::vector<TJournalRecord>> Query(const TJournalFilter& AFilter) override;
  TJournalResult<TSeries> OpenSeries(const std::string& AName, std::uint64_t AFirstCode) override;
  TJournalResult<std::uint64_t> AllocateCode(const std::string& ASeries) override;
  TJournalStatus MarkSpoiled(const std::string& ASeries, std::uint64_t ACode,
                             const std::string& AReason) override;
  TJournalResult<std::vector<std::uint64_t>> SpoiledCodes(const std::string& ASeries) override;

 private:
  TJournalError Fail(int ARc) const { return SqliteError(FDb.get(), ARc, FPath); }
  // Prepares ASql; on failure AStmt stays empty and the error code is returned.
  int Prepare(const char* ASql, TStmt& AStmt) const;
  int Exec(const char* ASql) const {
    return sqlite3_exec(FDb.get(), ASql, nullptr, nullptr, nullptr);
  }
  std::optional<TJournalError> NextCodeOf(const std::string& ASeries, std::int64_t& ANext) const;

  mutable std::mutex FMutex;
  TDb FDb;
  std::string FPath;
};

int TSqliteJournal::Prepare(const char* ASql, TStmt& AStmt) const {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(FDb.get(), ASql, -1, &stmt, nullptr);
  AStmt.reset(stmt);
  return rc;
}

// Rolls back unless committed.
class TTransaction {
 public:
  explicit TTransaction(sqlite3* ADb) : FDb(ADb) {
    FRc = sqlite3_exec(FDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  }
  ~TTransaction() {
    if (FRc == SQLITE_OK && !FDone)
      sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  int BeginRc() const { return FRc; }
  int Commit() {
    const int rc = sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr);
    FDone = rc == SQLITE_OK;
    return rc;
  }

 private:
  sqlite3* FDb;
  int FRc = SQLITE_OK;
  bool FDone = false;
};

TJournalResult<std::int64_t> TSqliteJournal::Append(const TJournalRecord& ARecord) {
  const auto stored = StoredCodeHex(ARecord.CodeHex);
  if (!stored)
    return Error(TJournalErrorKind::BadInput,
                 "Код карты «" + ARecord.CodeHex + "» не является шестнадцатеричным числом.");
  const std::string& code = *stored;
  const auto time = RecordedTime(ARecord);
  std::lock_guard<std::mutex> lock(FMutex);
  TStmt stmt;
  int rc = Prepare(
      "INSERT INTO journal (time_ms, time_utc, time_local, station, login, reader_port, firmware,"
      " card_uid, card_type, operation, block_no, code_offset, code_size, code_hex, code_dec,"
      " layout, emitent, emission, result_code, result_text, verify)"
      " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
      stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  sqlite3_stmt* s = stmt.get();
  sqlite3_bind_int64(s, 1, EpochMs(time));
  BindText(s, 2, IsoUtc(time));
  BindText(s, 3, IsoLocal(time));
  BindText(s, 4, ARecord.Station);
  BindText(s, 5, ARecord.Login);
  BindText(s, 6, ARecord.ReaderPort);
  BindText(s, 7, ARecord.Firmware);
  BindText(s, 8, NormalizeCardUid(ARecord.CardUid));
  BindText(s, 9, ARecord.CardType);
  BindText(s, 10, std::string(StoredName(ARecord.Operation)));
  BindOptional(s, 11, ARecord.Block);
  BindOptional(s, 12, ARecord.Offset);
  BindOptional(s, 13, ARecord.Size);
  BindText(s, 14, code);
  BindText(s, 15, code.empty() ? std::string() : CodeHexToDecimal(code));
  BindText(s, 16, ARecord.Layout);
  BindOptional(s, 17, ARecord.Emitent);
  BindOptional(s, 18, ARecord.Emission);
  sqlite3_bind_int(s, 19, ARecord.ResultCode);
  BindText(s, 20, ARecord.ResultText);
  BindText(s, 21, std::string(StoredName(ARecord.Verify)));
  // Outside a transaction the insert is its own transaction: when step returns, the row is
  // in the write-ahead log and synced (synchronous=FULL).
  rc = sqlite3_step(s);
  if (rc != SQLITE_DONE)
    return Fail(rc);
  return sqlite3_last_insert_rowid(FDb.get());
}

TJournalResult<std::optional<TCodeOnOtherCard>> TSqliteJournal::FindCodeOnOtherCard(
    const std::string& ACodeHex, const std::string& ACardUid) {
  const auto code = NormalizeCodeHex(ACodeHex);
  if (!code)
    return Error(TJournalErrorKind::BadInput,
                 "Код карты «" + ACodeHex + "» не является шестнадцатеричным числом.");
  std::lock_guard<std::mutex> lock(FMutex);
  TStmt stmt;
  // Every attempt counts, whatever its result: the code may be on that card even when the
  // reader reported an error.
  int rc = Prepare(
      "SELECT id, card_uid, time_utc, time_local FROM journal"
      " WHERE code_hex = ? AND card_uid <> ? ORDER BY time_ms DESC, id DESC LIMIT 1",
      stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, *code);
  BindText(stmt.get(), 2, NormalizeCardUid(ACardUid));
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_DONE)
    return std::optional<TCodeOnOtherCard>();
  if (rc != SQLITE_ROW)
    return Fail(rc);
  return std::optional<TCodeOnOtherCard>(TCodeOnOtherCard{
      .CardUid = ColumnText(stmt.get(), 1),
      .TimeUtc = ColumnText(stmt.get(), 2),
      .TimeLocal = ColumnText(stmt.get(), 3),
      .Id = sqlite3_column_int64(stmt.get(), 0),
  });
}

TJournalResult<std::vector<TJournalRecord>> TSqliteJournal::Query(const TJournalFilter& AFilter) {
  std::string code;
  if (!AFilter.CodeHex.empty()) {
    const auto normal = NormalizeCodeHex(AFilter.CodeHex);
    if (!normal)
      return Error(TJournalErrorKind::BadInput,
                   "Код карты «" + AFilter.CodeHex + "» не является шестнадцатеричным числом.");
    code = *normal;
  }
  std::string sql =
      "SELECT id, time_ms, time_utc, time_local, station, login, reader_port, firmware, card_uid,"
      " card_type, operation, block_no, code_offset, code_size, code_hex, code_dec, layout,"
      " emitent, emission, result_code, result_text, verify FROM journal WHERE 1";
  if (!code.empty())
    sql += " AND code_hex = :code";
  if (!AFilter.CardUid.empty())
    sql += " AND card_uid = :uid";
  if (AFilter.Since)
    sql += " AND time_ms >= :since";
  if (AFilter.Until)
    sql += " AND time_ms < :until";
  sql += " ORDER BY time_ms DESC, id DESC";
  if (AFilter.Limit)
    sql += " LIMIT :limit";

  std::lock_guard<std::mutex> lock(FMutex);
  TStmt stmt;
  int rc = Prepare(sql.c_str(), stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  sqlite3_stmt* s = stmt.get();
  const auto bind = [s](const char* AName) { return sqlite3_bind_parameter_index(s, AName); };
  if (!code.empty())
    BindText(s, bind(":code"), code);
  if (!AFilter.CardUid.empty())
    BindText(s, bind(":uid"), NormalizeCardUid(AFilter.CardUid));
  if (AFilter.Since)
    sqlite3_bind_int64(s, bind(":since"), EpochMs(*AFilter.Since));
  if (AFilter.Until)
    sqlite3_bind_int64(s, bind(":until"), EpochMs(*AFilter.Until));
  if (AFilter.Limit)
    sqlite3_bind_int64(s, bind(":limit"), static_cast<std::int64_t>(AFilter.Limit));

  std::vector<TJournalRecord> rows;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    TJournalRecord r;
    r.Id = sqlite3_column_int64(s, 0);
    r.Time = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(sqlite3_column_int64(s, 1)));
    r.TimeUtc = ColumnText(s, 2);
    r.TimeLocal = ColumnText(s, 3);
    r.Station = ColumnText(s, 4);
    r.Login = ColumnText(s, 5);
    r.ReaderPort = ColumnText(s, 6);
    r.Firmware = ColumnText(s, 7);
    r.CardUid = ColumnText(s, 8);
    r.CardType = ColumnText(s, 9);
    // Names written by a newer program read as the nearest known meaning.
    r.Operation = OperationFromStoredName(ColumnText(s, 10)).value_or(r.Operation);
    r.Block = ColumnOptional<int>(s, 11);
    r.Offset = ColumnOptional<int>(s, 12);
    r.Size = ColumnOptional<int>(s, 13);
    r.CodeHex = ColumnText(s, 14);
    r.CodeDec = ColumnText(s, 15);
    r.Layout = ColumnText(s, 16);
    r.Emitent = ColumnOptional<std::uint32_t>(s, 17);
    r.Emission = ColumnOptional<std::uint32_t>(s, 18);
    r.ResultCode = sqlite3_column_int(s, 19);
    r.ResultText = ColumnText(s, 20);
    r.Verify = VerifyOutcomeFromStoredName(ColumnText(s, 21)).value_or(TVerifyOutcome::NotChecked);
    rows.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE)
    return Fail(rc);
  return rows;
}

std::optional<TJournalError> TSqliteJournal::NextCodeOf(const std::string& ASeries,
                                                        std::int64_t& ANext) const {
  TStmt stmt;
  int rc = Prepare("SELECT next_code FROM series WHERE name = ?", stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, ASeries);
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_DONE)
    return Error(TJournalErrorKind::NotFound, "Серия «" + ASeries + "» не найдена в журнале.");
  if (rc != SQLITE_ROW)
    return Fail(rc);
  ANext = sqlite3_column_int64(stmt.get(), 0);
  return std::nullopt;
}

TJournalResult<TSeries> TSqliteJournal::OpenSeries(const std::string& AName,
                                                   std::uint64_t AFirstCode) {
  if (AName.empty() || AFirstCode > static_cast<std::uint64_t>(LLONG_MAX))
    return Error(TJournalErrorKind::BadInput,
                 "Недопустимая серия кодов: «" + AName + "», " + std::to_string(AFirstCode) + ".");
  std::lock_guard<std::mutex> lock(FMutex);
  TStmt stmt;
  int rc = Prepare("INSERT OR IGNORE INTO series (name, next_code) VALUES (?, ?)", stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, AName);
  sqlite3_bind_int64(stmt.get(), 2, static_cast<std::int64_t>(AFirstCode));
  if ((rc = sqlite3_step(stmt.get())) != SQLITE_DONE)
    return Fail(rc);
  std::int64_t next = 0;
  if (auto error = NextCodeOf(AName, next))
    return *error;
  return TSeries{.Name = AName, .NextCode = static_cast<std::uint64_t>(next)};
}

TJournalResult<std::uint64_t> TSqliteJournal::AllocateCode(const std::string& ASeries) {
  std::lock_guard<std::mutex> lock(FMutex);
  TTransaction tx(FDb.get());
  if (tx.BeginRc() != SQLITE_OK)
    return Fail(tx.BeginRc());
  std::int64_t next = 0;
  if (auto error = NextCodeOf(ASeries, next))
    return *error;
  if (next == LLONG_MAX)
    return Error(TJournalErrorKind::BadInput, "Коды серии «" + ASeries + "» исчерпаны.");
  TStmt stmt;
  int rc = Prepare("UPDATE series SET next_code = next_code + 1 WHERE name = ?", stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, ASeries);
  if ((rc = sqlite3_step(stmt.get())) != SQLITE_DONE)
    return Fail(rc);
  if ((rc = tx.Commit()) != SQLITE_OK)
    return Fail(rc);
  return static_cast<std::uint64_t>(next);
}

TJournalStatus TSqliteJournal::MarkSpoiled(const std::string& ASeries, std::uint64_t ACode,
                                           const std::string& AReason) {
  std::lock_guard<std::mutex> lock(FMutex);
  std::int64_t next = 0;
  if (auto error = NextCodeOf(ASeries, next))
    return *error;
  if (ACode >= static_cast<std::uint64_t>(next))
    return Error(TJournalErrorKind::BadInput,
                 "Код " + std::to_string(ACode) + " серии «" + ASeries + "» ещё не выдавался.");
  TStmt stmt;
  int rc = Prepare(
      "INSERT OR IGNORE INTO spoiled_codes (series, code, reason, time_utc) VALUES (?, ?, ?, ?)",
      stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, ASeries);
  sqlite3_bind_int64(stmt.get(), 2, static_cast<std::int64_t>(ACode));
  BindText(stmt.get(), 3, AReason);
  BindText(stmt.get(), 4, IsoUtc(std::chrono::system_clock::now()));
  if ((rc = sqlite3_step(stmt.get())) != SQLITE_DONE)
    return Fail(rc);
  return TJournalOk{};
}

TJournalResult<std::vector<std::uint64_t>> TSqliteJournal::SpoiledCodes(
    const std::string& ASeries) {
  std::lock_guard<std::mutex> lock(FMutex);
  TStmt stmt;
  int rc = Prepare("SELECT code FROM spoiled_codes WHERE series = ? ORDER BY code", stmt);
  if (rc != SQLITE_OK)
    return Fail(rc);
  BindText(stmt.get(), 1, ASeries);
  std::vector<std::uint64_t> codes;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW)
    codes.push_back(static_cast<std::uint64_t>(sqlite3_column_int64(stmt.get(), 0)));
  if (rc != SQLITE_DONE)
    return Fail(rc);
  return codes;
}

// ---- Opening --------------------------------------------------------------------------------

// Runs a query that must give a row; on SQLITE_OK AStmt stands on that row. No row at all
// counts as SQLITE_CORRUPT.
int QueryRow(sqlite3* ADb, const char* ASql, TStmt& AStmt) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(ADb, ASql, -1, &raw, nullptr);
  AStmt.reset(raw);
  if (rc != SQLITE_OK)
    return rc;
  rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW)
    return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  return SQLITE_OK;
}

int ReadInt(sqlite3* ADb, const char* ASql, std::int64_t& AValue) {
  TStmt stmt;
  const int rc = QueryRow(ADb, ASql, stmt);
  if (rc == SQLITE_OK)
    AValue = sqlite3_column_int64(stmt.get(), 0);
  return rc;
}

int ReadText(sqlite3* ADb, const char* ASql, std::string& AValue) {
  TStmt stmt;
  const int rc = QueryRow(ADb, ASql, stmt);
  if (rc == SQLITE_OK)
    AValue = ColumnText(stmt.get(), 0);
  return rc;
}

// Brings the schema from AVersion to the current one, one step per transaction.
std::optional<TJournalError> Migrate(sqlite3* ADb, int AVersion, const std::string& APath) {
  for (int v = AVersion; v < kSchemaVersion; ++v) {
    TTransaction tx(ADb);
    if (tx.BeginRc() != SQLITE_OK)
      return SqliteError(ADb, tx.BeginRc(), APath);
    const std::string sql =
        std::string(kMigrations[v]) + ";PRAGMA user_version = " + std::to_string(v + 1) + ";";
    int rc = sqlite3_exec(ADb, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
      rc = tx.Commit();
    if (rc != SQLITE_OK)
      return SqliteError(ADb, rc, APath);
  }
  return std::nullopt;
}

// Checks what the file holds before anything is written to it.
std::optional<TJournalError> CheckVersion(sqlite3* ADb, const std::string& APath,
                                          std::int64_t& AVersion) {
  int rc = ReadInt(ADb, "PRAGMA user_version", AVersion);
  if (rc != SQLITE_OK)
    return SqliteError(ADb, rc, APath);
  if (AVersion > kSchemaVersion)
    return Error(TJournalErrorKind::NewerSchema,
                 "Журнал выдачи " + Quoted(APath) + " создан более новой версией программы " +
                     "(версия схемы " + std::to_string(AVersion) + ", эта программа знает до " +
                     std::to_string(kSchemaVersion) +
                     "). Файл оставлен как есть; обновите программу.");
  std::int64_t tables = 0;
  rc = ReadInt(ADb, "SELECT count(*) FROM sqlite_master", tables);
  if (rc != SQLITE_OK)
    return SqliteError(ADb, rc, APath);
  if (AVersion <= 0 && tables > 0)
    return Error(TJournalErrorKind::Corrupt,
                 "Файл " + Quoted(APath) +
                     " не является журналом выдачи (это другая база данных). Файл оставлен как "
                     "есть.");
  return std::nullopt;
}

}  // namespace

std::string JournalFilePath(const std::string& AProgramDir, const std::string& AUserDataHome) {
  return ProgramFilePath(AProgramDir, kJournalFileName, TUserFolder::Data, AUserDataHome);
}

int SqliteJournalSchemaVersion() {
  return kSchemaVersion;
}

TJournalResult<std::unique_ptr<IJournal>> OpenSqliteJournal(const std::string& APath) {
  if (auto error = PrepareFile(APath))
    return *error;
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(APath.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  TDb db(raw);
  if (rc != SQLITE_OK)
    return SqliteError(db.get(), rc, APath);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  if (sqlite3_db_readonly(raw, "main") == 1)
    return SqliteError(raw, SQLITE_READONLY, APath);

  std::int64_t version = 0;
  if (auto error = CheckVersion(raw, APath, version))
    return *error;
  std::string check;
  rc = sqlite3_exec(raw, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(raw, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = ReadText(raw, "PRAGMA quick_check", check);
  if (rc == SQLITE_OK && check != "ok")
    rc = SQLITE_CORRUPT;
  if (rc != SQLITE_OK)
    return SqliteError(raw, rc, APath);
  if (auto error = Migrate(raw, static_cast<int>(version), APath))
    return *error;
  NarrowModes(APath);
  return std::unique_ptr<IJournal>(std::make_unique<TSqliteJournal>(std::move(db), APath));
}

}  // namespace kiren
