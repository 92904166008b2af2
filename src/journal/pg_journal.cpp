#include "journal/pg_journal.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <mutex>
#include <random>

#include "journal/journal_settings.h"
#include "journal/pg_handle.h"

namespace kiren {

namespace {

// Key of the advisory lock that makes stations starting together migrate one after another.
constexpr std::int64_t kSchemaLockKey = 0x6b6972656e4a6eLL;
constexpr std::int64_t kMaxCode = std::numeric_limits<std::int64_t>::max();

const std::vector<TPgMigration> kMigrations = {
    {{1, 0},
     {
         "CREATE TABLE kiren_schema_version ("
         " major integer NOT NULL, minor integer NOT NULL,"
         " applied_at timestamptz NOT NULL DEFAULT now(), applied_by text NOT NULL,"
         " PRIMARY KEY (major, minor))",
         // One row per card-touching operation of any station. "request" makes a statement
         // repeated after a lost connection store its row once.
         "CREATE TABLE kiren_journal ("
         " id bigserial PRIMARY KEY, request text NOT NULL UNIQUE,"
         " time_utc timestamptz NOT NULL, time_local text NOT NULL,"
         " station text NOT NULL, login text NOT NULL,"
         " reader_port text NOT NULL, firmware text NOT NULL,"
         " card_uid text NOT NULL, card_type text NOT NULL, operation text NOT NULL,"
         " block_no integer, code_offset integer, code_size integer,"
         " code_hex text NOT NULL, code_dec text NOT NULL, layout text NOT NULL,"
         " emitent bigint, emission bigint,"
         " result_code integer NOT NULL, result_text text NOT NULL, verify text NOT NULL,"
         " committed_at timestamptz NOT NULL DEFAULT now())",
         "CREATE INDEX kiren_journal_code ON kiren_journal (code_hex)",
         "CREATE INDEX kiren_journal_uid ON kiren_journal (card_uid)",
         "CREATE INDEX kiren_journal_time ON kiren_journal (time_utc)",
         // A row per series with the next code it hands out.
         "CREATE TABLE kiren_series ("
         " name text PRIMARY KEY, next_code bigint NOT NULL CHECK (next_code >= 0),"
         " created_at timestamptz NOT NULL DEFAULT now(), created_by text NOT NULL)",
         // Every code handed out, by whom; a spoiled code's card was not made. The primary key
         // is a second guard against one code going to two cards.
         "CREATE TABLE kiren_code_allocation ("
         " series text NOT NULL REFERENCES kiren_series (name), code bigint NOT NULL,"
         " station text NOT NULL, request text NOT NULL UNIQUE,"
         " allocated_at timestamptz NOT NULL DEFAULT now(),"
         " spoiled_at timestamptz, spoiled_reason text,"
         " PRIMARY KEY (series, code))",
     }},
};

TJournalError Error(TJournalErrorKind AKind, std::string AMessage) {
  return {AKind, std::move(AMessage)};
}

std::string HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0)
    return "?";
  return name.data();
}

// 128 random bits in hex: names one request so that repeating it after a lost connection
// finds what the first attempt stored. Drawn from the system each time: a generator seeded
// once would repeat its numbers in every process forked from this one.
std::string NewRequestId() {
  std::random_device device;
  std::string text;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
    text += part;
  }
  return text;
}

// The server, database and role the connection string names, for messages.
std::string DescribeConnection(const std::string& AConnection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(AConnection.c_str(), &error);
  PQfreemem(error);
  std::string out = "PostgreSQL";
  if (!options)
    return out;
  for (const char* key : {"host", "hostaddr", "port", "dbname", "user"})
    for (const PQconninfoOption* o = options; o->keyword; ++o)
      if (o->val && *o->val && std::string_view(o->keyword) == key)
        out += std::string(" ") + key + "=" + o->val;
  PQconninfoFree(options);
  return out;
}

std::string Num(std::int64_t AValue) {
  return std::to_string(AValue);
}

TPgParam OptNum(const std::optional<std::int64_t>& AValue) {
  if (!AValue)
    return std::nullopt;
  return Num(*AValue);
}

std::chrono::system_clock::time_point FromMs(std::int64_t AMs) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(AMs));
}

const char* const kRecordColumns =
    "id, round(extract(epoch FROM time_utc) * 1000)::bigint, time_local, station, login,"
    " reader_port, firmware, card_uid, card_type, operation, block_no, code_offset, code_size,"
    " code_hex, code_dec, layout, emitent, emission, result_code, result_text, verify";

TJournalRecord RecordFromRow(const TPgResult& AResult, int ARow) {
  const auto optInt = [&](int ACol) -> std::optional<int> {
    if (auto v = AResult.OptInt(ARow, ACol))
      return static_cast<int>(*v);
    return std::nullopt;
  };
  const auto optU32 = [&](int ACol) -> std::optional<std::uint32_t> {
    if (auto v = AResult.OptInt(ARow, ACol))
      return static_cast<std::uint32_t>(*v);
    return std::nullopt;
  };
  TJournalRecord r;
  r.Id = AResult.Int(ARow, 0);
  r.Time = FromMs(AResult.Int(ARow, 1));
  r.TimeUtc = IsoUtc(r.Time);
  r.TimeLocal = AResult.Text(ARow, 2);
  r.Station = AResult.Text(ARow, 3);
  r.Login = AResult.Text(ARow, 4);
  r.ReaderPort = AResult.Text(ARow, 5);
  r.Firmware = AResult.Text(ARow, 6);
  r.CardUid = AResult.Text(ARow, 7);
  r.CardType = AResult.Text(ARow, 8);
  r.Operation = OperationFromStoredName(AResult.Text(ARow, 9)).value_or(r.Operation);
  r.Block = optInt(10);
  r.Offset = optInt(11);
  r.Size = optInt(12);
  r.CodeHex = AResult.Text(ARow, 13);
  r.CodeDec = AResult.Text(ARow, 14);
  r.Layout = AResult.Text(ARow, 15);
  r.Emitent = optU32(16);
  r.Emission = optU32(17);
  r.ResultCode = static_cast<int>(AResult.Int(ARow, 18));
  r.ResultText = AResult.Text(ARow, 19);
  r.Verify = VerifyOutcomeFromStoredName(AResult.Text(ARow, 20)).value_or(r.Verify);
  return r;
}

// The newest schema version recorded in the register; nothing when it has none yet.
TJournalResult<std::optional<TPgSchemaVersion>> ReadStoredVersion(PGconn* AConn) {
  using TVersion = std::optional<TPgSchemaVersion>;
  TPgResult table = PgExec(AConn, "SELECT to_regclass('kiren_schema_version') IS NOT NULL");
  if (!table.Ok())
    return Error(TJournalErrorKind::Io, table.ErrorText());
  if (table.Text(0, 0) != "t")
    return TVersion{};
  TPgResult r = PgExec(AConn,
                       "SELECT major, minor FROM kiren_schema_version"
                       " ORDER BY major DESC, minor DESC LIMIT 1");
  if (!r.Ok())
    return Error(TJournalErrorKind::Io, r.ErrorText());
  if (r.Rows() == 0)
    return TVersion{};
  return TVersion{TPgSchemaVersion{static_cast<int>(r.Int(0, 0)), static_cast<int>(r.Int(0, 1))}};
}

class TPgJournal final : public IJournal {
 public:
  explicit TPgJournal(TPgJournalOptions AOptions)
      : FOptions(std::move(AOptions)),
        FLocation(DescribeConnection(FOptions.Connection)),
        FStation(HostName()) {
    if (FOptions.Migrations.empty())
      FOptions.Migrations = kMigrations;
  }

  // Connected, with a schema this program can use.
  TJournalStatus Ready() {
    std::lock_guard lock(FMutex);
    return ReadyLocked();
  }

  std::string Location() const override { return FLocation; }

  TJournalResult<std::int64_t> Append(const TJournalRecord& ARecord) override {
    const auto stored = StoredCodeHex(ARecord.CodeHex);
    if (!stored)
      return Error(TJournalErrorKind::BadInput,
                   "Журнал: код карты «" + ARecord.CodeHex + "» не шестнадцатеричный");
    const std::string& codeHex = *stored;
    const auto time = RecordedTime(ARecord);
    const TPgParams params = {
        NewRequestId(),
        IsoUtc(time),
        IsoLocal(time),
        ARecord.Station,
        ARecord.Login,
        ARecord.ReaderPort,
        ARecord.Firmware,
        NormalizeCardUid(ARecord.CardUid),
        ARecord.CardType,
        std::string(StoredName(ARecord.Operation)),
        OptNum(ARecord.Block),
        OptNum(ARecord.Offset),
        OptNum(ARecord.Size),
        codeHex,
        codeHex.empty() ? std::string() : CodeHexToDecimal(codeHex),
        ARecord.Layout,
        OptNum(ARecord.Emitent),
        OptNum(ARecord.Emission),
        Num(ARecord.ResultCode),
        ARecord.ResultText,
        std::string(StoredName(ARecord.Verify)),
    };
    return Run<std::int64_t>("записать строку", [&](PGconn* AConn, bool) {
      // Repeated after a lost connection, the same request returns the row already stored.
      return Expect<std::int64_t>(
          PgExec(AConn,
                 "INSERT INTO kiren_journal (request, time_utc, time_local, station, login,"
                 " reader_port, firmware, card_uid, card_type, operation, block_no, code_offset,"
                 " code_size, code_hex, code_dec, layout, emitent, emission, result_code,"
                 " result_text, verify) VALUES ($1, $2::timestamptz, $3, $4, $5, $6, $7, $8,"
                 " $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21)"
                 " ON CONFLICT (request) DO UPDATE SET request = EXCLUDED.request RETURNING id",
                 params),
          [](const TPgResult& R) { return R.Int(0, 0); });
    });
  }

  TJournalResult<std::optional<TCodeOnOtherCard>> FindCodeOnOtherCard(
      const std::string& ACodeHex, const std::string& ACardUid) override {
    const auto code = NormalizeCodeHex(ACodeHex);
    if (!code)
      return Error(TJournalErrorKind::BadInput,
                   "Журнал: код карты «" + ACodeHex + "» не шестнадцатеричный");
    using TFound = std::optional<TCodeOnOtherCard>;
    // Every attempt counts, whatever its result: the code may be on that card even when the
    // reader reported an error.
    return Run<TFound>("найти код", [&](PGconn* AConn, bool) {
      TPgResult r =
          PgExec(AConn,
                 "SELECT id, card_uid, round(extract(epoch FROM time_utc) * 1000)::bigint,"
                 " time_local FROM kiren_journal"
                 " WHERE code_hex = $1 AND card_uid <> $2 AND operation = $3"
                 " ORDER BY time_utc DESC, id DESC LIMIT 1",
                 {*code, NormalizeCardUid(ACardUid),
                  std::string(StoredName(TJournalOperation::CardCodeWrite))});
      return Expect<TFound>(std::move(r), [](const TPgResult& R) -> TFound {
        if (R.Rows() == 0)
          return std::nullopt;
        return TCodeOnOtherCard{.CardUid = R.Text(0, 1),
                                .TimeUtc = IsoUtc(FromMs(R.Int(0, 2))),
                                .TimeLocal = R.Text(0, 3),
                                .Id = R.Int(0, 0)};
      });
    });
  }

  TJournalResult<std::vector<TJournalRecord>> Query(const TJournalFilter& AFilter) override {
    TPgParams params(5);
    if (!AFilter.CodeHex.empty()) {
      const auto code = NormalizeCodeHex(AFilter.CodeHex);
      if (!code)
        return Error(TJournalErrorKind::BadInput,
                     "Журнал: код карты «" + AFilter.CodeHex + "» не шестнадцатеричный");
      params[0] = *code;
    }
    if (!AFilter.CardUid.empty())
      params[1] = NormalizeCardUid(AFilter.CardUid);
    if (AFilter.Since)
      params[2] = IsoUtc(*AFilter.Since);
    if (AFilter.Until)
      params[3] = IsoUtc(*AFilter.Until);
    if (AFilter.Limit > 0)
      params[4] = std::to_string(AFilter.Limit);
    const std::string sql = std::string("SELECT ") + kRecordColumns +
                            " FROM kiren_journal"
                            " WHERE ($1::text IS NULL OR code_hex = $1)"
                            " AND ($2::text IS NULL OR card_uid = $2)"
                            " AND ($3::timestamptz IS NULL OR time_utc >= $3)"
                            " AND ($4::timestamptz IS NULL OR time_utc < $4)"
                            " ORDER BY time_utc DESC, id DESC LIMIT $5::bigint";
    using TRows = std::vector<TJournalRecord>;
    return Run<TRows>("прочитать журнал", [&](PGconn* AConn, bool) {
      return Expect<TRows>(PgExec(AConn, sql, params), [](const TPgResult& R) {
        TRows rows;
        rows.reserve(static_cast<std::size_t>(R.Rows()));
        for (int i = 0; i < R.Rows(); ++i)
          rows.push_back(RecordFromRow(R, i));
        return rows;
      });
    });
  }

  TJournalResult<TSeries> OpenSeries(const std::string& AName, std::uint64_t AFirstCode) override {
    if (AName.empty())
      return Error(TJournalErrorKind::BadInput, "Журнал: серия без имени");
    if (AFirstCode > static_cast<std::uint64_t>(kMaxCode))
      return Error(TJournalErrorKind::BadInput, "Журнал: начальный код серии слишком велик");
    return Run<TSeries>("открыть серию", [&](PGconn* AConn, bool) -> TJournalResult<TSeries> {
      TPgResult created = PgExec(AConn,
                                 "INSERT INTO kiren_series (name, next_code, created_by)"
                                 " VALUES ($1, $2, $3) ON CONFLICT (name) DO NOTHING",
                                 {AName, Num(static_cast<std::int64_t>(AFirstCode)), FStation});
      if (!created.Ok())
        return StatementError(created);
      return Expect<TSeries>(
          PgExec(AConn, "SELECT name, next_code FROM kiren_series WHERE name = $1", {AName}),
          [](const TPgResult& R) {
            return TSeries{.Name = R.Text(0, 0),
                           .NextCode = static_cast<std::uint64_t>(R.Int(0, 1))};
          });
    });
  }

  TJournalResult<std::uint64_t> AllocateCode(const std::string& ASeries) override {
    const std::string request = NewRequestId();
    auto result = Run<std::uint64_t>(
        "выделить код", [&](PGconn* AConn, bool ARepeated) -> TJournalResult<std::uint64_t> {
          if (ARepeated) {
            // The first attempt may have committed before the connection broke.
            TPgResult earlier = PgExec(
                AConn, "SELECT code FROM kiren_code_allocation WHERE request = $1", {request});
            if (!earlier.Ok())
              return StatementError(earlier);
            if (earlier.Rows() > 0)
              return static_cast<std::uint64_t>(earlier.Int(0, 0));
          }
          // One statement, so one transaction: the series row stays locked from the moment its
          // counter moves until the code is recorded, and a second station waits for it.
          TPgResult r = PgExec(AConn,
                               "WITH next AS (UPDATE kiren_series SET next_code = next_code + 1"
                               " WHERE name = $1 AND next_code < $4::bigint"
                               " RETURNING next_code - 1 AS code)"
                               " INSERT INTO kiren_code_allocation (series, code, station, request)"
                               " SELECT $1, code, $2, $3 FROM next RETURNING code",
                               {ASeries, FStation, request, Num(kMaxCode)});
          if (!r.Ok())
            return StatementError(r);
          if (r.Rows() == 1)
            return static_cast<std::uint64_t>(r.Int(0, 0));
          TPgResult known = PgExec(AConn, "SELECT 1 FROM kiren_series WHERE name = $1", {ASeries});
          if (known.Ok() && known.Rows() == 0)
            return Error(TJournalErrorKind::NotFound,
                         "Серия «" + ASeries + "» не найдена в журнале.");
          return Error(TJournalErrorKind::BadInput, "Коды серии «" + ASeries + "» исчерпаны.");
        });
    if (!result && result.error().Kind == TJournalErrorKind::Unavailable)
      return Error(TJournalErrorKind::Unavailable,
                   "Код карты не выделен, карта не записана. " + result.error().Message);
    return result;
  }

  TJournalStatus MarkSpoiled(const std::string& ASeries, std::uint64_t ACode,
                             const std::string& AReason) override {
    const std::string request = NewRequestId();
    return Run<TJournalOk>("отметить испорченный код", [&](PGconn* AConn, bool) -> TJournalStatus {
      TPgResult series =
          PgExec(AConn, "SELECT next_code FROM kiren_series WHERE name = $1", {ASeries});
      if (!series.Ok())
        return StatementError(series);
      if (series.Rows() == 0)
        return Error(TJournalErrorKind::NotFound, "Серия «" + ASeries + "» не найдена в журнале.");
      if (ACode >= static_cast<std::uint64_t>(series.Int(0, 0)))
        return Error(TJournalErrorKind::BadInput,
                     "Код " + std::to_string(ACode) + " серии «" + ASeries + "» ещё не выдавался.");
      // A code below the series' start was never handed out here; it is recorded all the
      // same. Marking twice keeps the first time and reason.
      TPgResult r =
          PgExec(AConn,
                 "INSERT INTO kiren_code_allocation (series, code, station, request, spoiled_at,"
                 " spoiled_reason) VALUES ($1, $2, $3, $4, now(), $5)"
                 " ON CONFLICT (series, code) DO UPDATE SET"
                 " spoiled_at = coalesce(kiren_code_allocation.spoiled_at, now()),"
                 " spoiled_reason = coalesce(kiren_code_allocation.spoiled_reason, $5)",
                 {ASeries, Num(static_cast<std::int64_t>(ACode)), FStation, request, AReason});
      if (!r.Ok())
        return StatementError(r);
      return TJournalOk{};
    });
  }

  TJournalResult<std::vector<std::uint64_t>> SpoiledCodes(const std::string& ASeries) override {
    using TCodes = std::vector<std::uint64_t>;
    return Run<TCodes>("прочитать испорченные коды", [&](PGconn* AConn, bool) {
      return Expect<TCodes>(PgExec(AConn,
                                   "SELECT code FROM kiren_code_allocation"
                                   " WHERE series = $1 AND spoiled_at IS NOT NULL ORDER BY code",
                                   {ASeries}),
                            [](const TPgResult& R) {
                              TCodes codes;
                              for (int i = 0; i < R.Rows(); ++i)
                                codes.push_back(static_cast<std::uint64_t>(R.Int(i, 0)));
                              return codes;
                            });
    });
  }

 private:
  template <class T>
  using TStep = std::function<TJournalResult<T>(PGconn*, bool ARepeated)>;

  TJournalError StatementError(const TPgResult& AResult) const {
    return Error(TJournalErrorKind::Io, AResult.ErrorText());
  }

  template <class T, class F>
  TJournalResult<T> Expect(TPgResult AResult, F AConvert) const {
    if (!AResult.Ok())
      return StatementError(AResult);
    return TJournalResult<T>(AConvert(AResult));
  }

  TJournalError Unavailable(const std::string& ADetail) const {
    return Error(TJournalErrorKind::Unavailable,
                 "Нет связи с журналом " + FLocation + " (" + ADetail +
                     "). Программа подключится снова при следующем обращении.");
  }

  // Runs one step on a ready connection. A step that fails because the connection broke (the
  // server restarted since the last call, say) runs once more on a new connection; steps are
  // written so that running twice stores nothing twice.
  template <class T>
  TJournalResult<T> Run(const char* AWhat, const TStep<T>& AStep) {
    std::lock_guard lock(FMutex);
    for (int attempt = 0;; ++attempt) {
      if (TJournalStatus ready = ReadyLocked(); !ready)
        return ready.error();
      TJournalResult<T> result = AStep(FConn.get(), attempt > 0);
      if (result || PQstatus(FConn.get()) == CONNECTION_OK) {
        if (!result && result.error().Kind == TJournalErrorKind::Io)
          return Error(TJournalErrorKind::Io, std::string("Журнал ") + FLocation + ": не удалось " +
                                                  AWhat + ": " + result.error().Message);
        return result;
      }
      const std::string detail = PgConnError(FConn.get());
      FConn.reset();
      if (attempt > 0)
        return Unavailable(detail);
    }
  }

  TJournalStatus ReadyLocked() {
    if (FConn && PQstatus(FConn.get()) == CONNECTION_OK)
      return TJournalOk{};
    FConn.reset();
    const std::string timeout = std::to_string(FOptions.ConnectTimeout);
    // Values of the connection string, expanded from "dbname", win over the ones before it.
    // Over TCP, keepalives and a send timeout tell a server that went silent in some 25 s
    // instead of the system's hours, so a call does not hang on it.
    const std::array<const char*, 8> keys{
        "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
    const std::array<const char*, 8> values{
        timeout.c_str(), "kiren-setup", "10", "5", "3", "25000", FOptions.Connection.c_str(),
        nullptr};
    TPgConn conn(PQconnectdbParams(keys.data(), values.data(), 1));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
      return Unavailable(PgConnError(conn.get()));
    // Notices ("already exists, skipping") are not for the operator's terminal.
    PQsetNoticeProcessor(
        conn.get(), [](void*, const char*) {}, nullptr);
    if (TJournalStatus schema = EnsureSchema(conn.get()); !schema) {
      if (PQstatus(conn.get()) != CONNECTION_OK)
        return Unavailable(PgConnError(conn.get()));
      return schema;
    }
    FConn = std::move(conn);
    return TJournalOk{};
  }

  // Nothing to do (empty), a refusal, or the version to migrate from.
  std::optional<TJournalError> CheckVersion(const std::optional<TPgSchemaVersion>& AStored) const {
    const TPgSchemaVersion mine = FOptions.Migrations.back().To;
    if (AStored && AStored->Major > mine.Major)
      return Error(TJournalErrorKind::NewerSchema,
                   "Журнал " + FLocation + " ведётся в схеме версии " + VersionText(*AStored) +
                       ", а эта программа знает схему только до версии " +
                       std::to_string(mine.Major) +
                       ".x: обновите программу на этой станции. Журнал не изменён.");
    return std::nullopt;
  }

  static bool Current(const std::optional<TPgSchemaVersion>& AStored, TPgSchemaVersion AMine) {
    return AStored && AStored->Major == AMine.Major && AStored->Minor >= AMine.Minor;
  }

  TJournalStatus EnsureSchema(PGconn* AConn) {
    const TPgSchemaVersion mine = FOptions.Migrations.back().To;
    auto stored = ReadStoredVersion(AConn);
    if (!stored)
      return SchemaError(stored.error().Message);
    if (auto refusal = CheckVersion(stored.value()))
      return *refusal;
    if (Current(stored.value(), mine))
      return TJournalOk{};
    // Migrate in one transaction, one station at a time. The lock is taken before the
    // transaction starts, so that the transaction sees what a station before it committed.
    if (TPgResult lock =
            PgExec(AConn, "SELECT pg_advisory_lock($1::bigint)", {Num(kSchemaLockKey)});
        !lock.Ok())
      return SchemaError(lock.ErrorText());
    TJournalStatus done = MigrateInTransaction(AConn, mine);
    PgExec(AConn, "SELECT pg_advisory_unlock($1::bigint)", {Num(kSchemaLockKey)});
    return done;
  }

  TJournalStatus MigrateInTransaction(PGconn* AConn, TPgSchemaVersion AMine) {
    if (TPgResult begin = PgExec(AConn, "BEGIN"); !begin.Ok())
      return SchemaError(begin.ErrorText());
    TJournalStatus done = MigrateLocked(AConn, AMine);
    TPgResult end = PgExec(AConn, done ? "COMMIT" : "ROLLBACK");
    if (done && !end.Ok())
      return SchemaError(end.ErrorText());
    return done;
  }

  // Under the lock: the version is read again, since another station may have migrated
  // meanwhile.
  TJournalStatus MigrateLocked(PGconn* AConn, TPgSchemaVersion AMine) {
    auto stored = ReadStoredVersion(AConn);
    if (!stored)
      return SchemaError(stored.error().Message);
    if (auto refusal = CheckVersion(stored.value()))
      return *refusal;
    if (Current(stored.value(), AMine))
      return TJournalOk{};
    if (TJournalStatus role = BecomeDatabaseOwner(AConn); !role)
      return role;
    for (const TPgMigration& step : FOptions.Migrations) {
      if (stored.value() && step.To <= *stored.value())
        continue;
      for (const std::string& sql : step.Statements)
        if (TPgResult r = PgExec(AConn, sql); !r.Ok())
          return SchemaError(r.ErrorText());
      TPgResult mark = PgExec(AConn,
                              "INSERT INTO kiren_schema_version (major, minor, applied_by)"
                              " VALUES ($1, $2, $3)",
                              {Num(step.To.Major), Num(step.To.Minor), FStation});
      if (!mark.Ok())
        return SchemaError(mark.ErrorText());
    }
    return TJournalOk{};
  }

  // Tables belong to the database's owner when this login is a member of that role, so that
  // stations logging in as different members of it share them.
  TJournalStatus BecomeDatabaseOwner(PGconn* AConn) {
    TPgResult owner = PgExec(AConn,
                             "SELECT r.rolname FROM pg_database d JOIN pg_roles r"
                             " ON r.oid = d.datdba WHERE d.datname = current_database()"
                             " AND r.rolname <> current_user"
                             " AND pg_has_role(current_user, d.datdba, 'MEMBER')");
    if (!owner.Ok())
      return SchemaError(owner.ErrorText());
    if (owner.Rows() == 0)
      return TJournalOk{};
    const std::string name = owner.Text(0, 0);
    char* quoted = PQescapeIdentifier(AConn, name.c_str(), name.size());
    if (!quoted)
      return SchemaError(PgConnError(AConn));
    const std::string sql = std::string("SET LOCAL ROLE ") + quoted;
    PQfreemem(quoted);
    if (TPgResult r = PgExec(AConn, sql); !r.Ok())
      return SchemaError(r.ErrorText());
    return TJournalOk{};
  }

  TJournalError SchemaError(const std::string& ADetail) const {
    return Error(TJournalErrorKind::Io,
                 "Журнал " + FLocation + ": схема не создана или не обновлена: " + ADetail);
  }

  TPgJournalOptions FOptions;
  std::string FLocation;
  std::string FStation;
  std::mutex FMutex;
  TPgConn FConn;
};

}  // namespace

std::string VersionText(TPgSchemaVersion AVersion) {
  return std::to_string(AVersion.Major) + "." + std::to_string(AVersion.Minor);
}

const std::vector<TPgMigration>& PgJournalMigrations() {
  return kMigrations;
}

TJournalResult<std::unique_ptr<IJournal>> OpenPgJournal(const TPgJournalOptions& AOptions) {
  if (std::string problem = ConnectionStringProblem(AOptions.Connection); !problem.empty())
    return Error(TJournalErrorKind::BadInput, problem);
  auto journal = std::make_unique<TPgJournal>(AOptions);
  TJournalStatus ready = journal->Ready();
  if (!ready && !(AOptions.AllowServerAway && ready.error().Kind == TJournalErrorKind::Unavailable))
    return ready.error();
  return std::unique_ptr<IJournal>(std::move(journal));
}

TJournalResult<std::optional<TPgSchemaVersion>> PgStoredSchemaVersion(
    const std::string& AConnection) {
  if (std::string problem = ConnectionStringProblem(AConnection); !problem.empty())
    return Error(TJournalErrorKind::BadInput, problem);
  TPgConn conn(PQconnectdb(AConnection.c_str()));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
    return Error(TJournalErrorKind::Unavailable, PgConnError(conn.get()));
  return ReadStoredVersion(conn.get());
}

}  // namespace kiren
