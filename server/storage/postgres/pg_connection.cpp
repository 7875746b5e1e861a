#include "server/storage/postgres/pg_connection.h"

#include <libpq-fe.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <span>

namespace heartpage::server {
namespace {

// Errors after which the same request may succeed shortly: the database is
// going down or coming up, or a lock or a statement took too long.
bool IsTransient(std::string_view state) {
  return state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03" ||
         state == "53300";
}
bool IsBusy(std::string_view state) {
  return state == "55P03" || state == "57014" || state == "40001" || state == "40P01";
}

// The types of the columns the rules read, and of the values they bind
// (PostgreSQL's pg_type).
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kNumericOid = 1700;

// libpq's messages run over several lines; a log line is one.
std::string Trimmed(const char* message) {
  std::string text;
  for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
    const bool space = *c == '\n' || *c == '\t' || *c == ' ' || *c == '\r';
    if (!space)
      text += *c;
    else if (!text.empty() && text.back() != ' ')
      text += ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// What the database says outside an answer (a notice, or the farewell of a
// server going down) shows in the errors of what fails next, where it is one
// line; printed as it comes it would break the log's lines.
void IgnoreNotice(void*, const char*) {}

}  // namespace

PgResult::~PgResult() {
  PQclear(result_);
}

int PgResult::Rows() const {
  return PQntuples(result_);
}

bool PgResult::IsNull(int row, int column) const {
  return PQgetisnull(result_, row, column) != 0;
}

std::string_view PgResult::Get(int row, int column) const {
  return {PQgetvalue(result_, row, column),
          static_cast<std::size_t>(PQgetlength(result_, row, column))};
}

std::optional<std::string> PgResult::Optional(int row, int column) const {
  if (IsNull(row, column)) return std::nullopt;
  return std::string(Get(row, column));
}

std::int64_t PgResult::Int(int row, int column) const {
  return std::stoll(std::string(Get(row, column)));
}

std::int64_t PgResult::BinaryInt(int row, int column) const {
  const std::string_view bytes = Get(row, column);
  const auto word = [&](std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = at; i < at + size; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
  };
  switch (PQftype(result_, column)) {
    case kBoolOid:
      return bytes.size() == 1 && bytes[0] != 0;
    case kInt2Oid:
      if (bytes.size() == 2) return static_cast<std::int16_t>(word(0, 2));
      break;
    case kInt4Oid:
      if (bytes.size() == 4) return static_cast<std::int32_t>(word(0, 4));
      break;
    case kInt8Oid:
      if (bytes.size() == 8) return static_cast<std::int64_t>(word(0, 8));
      break;
    case kNumericOid: {
      // Sums of bigints: base-10000 digits after a header of the digits'
      // count, the first one's weight, the sign and the scale.
      if (bytes.size() < 8) break;
      const auto digits = static_cast<std::int16_t>(word(0, 2));
      const auto weight = static_cast<std::int16_t>(word(2, 2));
      if (bytes.size() < 8 + 2 * static_cast<std::size_t>(std::max<int>(digits, 0))) break;
      std::int64_t value = 0;
      for (int i = 0; i <= weight; ++i)
        value =
            value * 10000 +
            (i < digits ? static_cast<std::int64_t>(word(8 + 2 * static_cast<std::size_t>(i), 2))
                        : 0);
      return word(4, 2) == 0x4000 ? -value : value;
    }
    default:
      break;
  }
  throw StorageError("expected an integer in binary");
}

namespace {

// The rows of one statement, as the rules read them.
class PgCursor final : public SqlCursor {
 public:
  explicit PgCursor(PgResult result) : result_(std::move(result)) {}
  bool Next() override { return ++row_ < result_.Rows(); }
  bool IsNull(int column) override { return result_.IsNull(row_, column); }
  std::string_view Bytes(int column) override { return result_.Get(row_, column); }
  std::int64_t Int(int column) override { return result_.BinaryInt(row_, column); }

 private:
  PgResult result_;
  int row_ = -1;
};

}  // namespace

std::unique_ptr<SqlCursor> PgConnection::Start(const char* sql,
                                               std::initializer_list<SqlValue> values) {
  return std::make_unique<PgCursor>(Run(sql, values, /*binary=*/true));
}

PgConnection::PgConnection(const std::string& uri) {
  // Our defaults come first, so that whatever the URI says wins. Without a
  // connect timeout libpq waits as long as the network does; without the TCP
  // limits a database that vanished from the network would hold a request
  // for many minutes.
  const char* keys[] = {
      "connect_timeout",     "application_name", "keepalives_idle", "keepalives_count",
      "keepalives_interval", "tcp_user_timeout", "dbname",          nullptr};
  const char* values[] = {"3", "heartpage-server", "10", "3", "5", "10000", uri.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, /*expand_dbname=*/1);
  if (conn_ == nullptr) throw StorageError("out of memory connecting to the database");
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = Trimmed(PQerrorMessage(conn_));
    // A server that answers and refuses (no such role or database, a wrong
    // password) will not change its mind by itself; one that cannot be
    // reached may come up.
    const bool refused = why.find("authentication") != std::string::npos ||
                         why.find("does not exist") != std::string::npos ||
                         why.find("password") != std::string::npos;
    PQfinish(conn_);
    conn_ = nullptr;
    if (refused) throw StorageError("database refused the connection: " + why);
    throw DatabaseUnavailable("database unavailable: " + why);
  }
  PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
  try {
    Exec(
        "SET synchronous_commit TO on; SET statement_timeout TO '15s'; "
        "SET lock_timeout TO '2s'; SET client_min_messages TO warning");
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

PgConnection::~PgConnection() {
  PQfinish(conn_);
}

bool PgConnection::StillUp() {
  if (PQconsumeInput(conn_) == 0) return false;
  // A server that went down said goodbye and closed; the goodbye may have
  // been all that one read took, so look whether the end follows.
  char byte;
  if (recv(PQsocket(conn_), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
  return !Broken();
}

bool PgConnection::Broken() const {
  return PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE;
}

void PgConnection::Throw(pg_result* result, std::string_view what) {
  // Copied out: the result's fields go with it.
  const char* field = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string state = field != nullptr ? field : "";
  const std::string why = std::string(what) + ": " +
                          Trimmed(result != nullptr && *PQresultErrorMessage(result) != '\0'
                                      ? PQresultErrorMessage(result)
                                      : PQerrorMessage(conn_));
  PQclear(result);
  if (PQstatus(conn_) != CONNECTION_OK || (!state.empty() && IsTransient(state)))
    throw DatabaseUnavailable("database unavailable: " + why);
  if (!state.empty() && IsBusy(state)) throw StorageBusy(why);
  throw StorageError(why);
}

namespace {

constexpr std::size_t kMostValues = 8;

// A statement's values as libpq takes them.
struct Bound {
  const char* data[kMostValues];
  int lengths[kMostValues];
  int formats[kMostValues];
  // libpq reads text values up to their zero byte, which a view (a part of
  // a request's path, say) need not have: text goes as a terminated copy.
  std::string texts[kMostValues];
  int count = 0;

  explicit Bound(std::span<const PgValue> values) {
    for (const PgValue& value : values) {
      const int n = count++;
      data[n] = value.kind == PgValue::Kind::kNull ? nullptr : value.data.data();
      if (value.kind == PgValue::Kind::kText || value.kind == PgValue::Kind::kInt) {
        texts[n] = value.kind == PgValue::Kind::kInt ? std::to_string(value.number)
                                                     : std::string(value.data);
        data[n] = texts[n].c_str();
      }
      lengths[n] =
          static_cast<int>(value.kind == PgValue::Kind::kInt ? texts[n].size() : value.data.size());
      formats[n] = value.kind == PgValue::Kind::kBytes ? 1 : 0;
    }
  }
};

bool Succeeded(pg_result* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
}

}  // namespace

const std::string& PgConnection::Prepared(const char* sql, std::span<const PgValue> values) {
  if (values.size() > kMostValues) throw StorageError("too many values for one statement");
  auto [it, inserted] = prepared_.try_emplace(sql);
  if (inserted) {
    it->second = "s" + std::to_string(prepared_.size());
    // Numbers are bigints and bytes bytea; text takes the type its place
    // in the statement gives it.
    Oid types[kMostValues] = {};
    int count = 0;
    for (const PgValue& value : values)
      types[count++] = value.kind == PgValue::Kind::kInt     ? kInt8Oid
                       : value.kind == PgValue::Kind::kBytes ? kByteaOid
                                                             : 0;
    pg_result* prepared = PQprepare(conn_, it->second.c_str(), sql, count, types);
    if (PQresultStatus(prepared) != PGRES_COMMAND_OK) {
      prepared_.erase(it);
      Throw(prepared, "preparing a statement");
    }
    PQclear(prepared);
  }
  return it->second;
}

PgResult PgConnection::Run(const char* sql, std::initializer_list<PgValue> values, bool binary) {
  if (!later_.empty()) return RunWithLater(sql, values, binary);
  const std::string& name = Prepared(sql, values);
  const Bound bound(values);
  pg_result* result = PQexecPrepared(conn_, name.c_str(), bound.count, bound.data, bound.lengths,
                                     bound.formats, binary ? 1 : 0);
  if (!Succeeded(result)) Throw(result, "statement failed");
  return PgResult(result);
}

void PgConnection::RunLater(const char* sql, std::initializer_list<SqlValue> values) {
  if (values.size() > kMostValues) throw StorageError("too many values for one statement");
  Later& later = later_.emplace_back();
  later.sql = sql;
  // Held here until sent: the caller's values may be gone by then.
  later.owned.reserve(values.size());
  for (const PgValue& value : values) {
    PgValue& kept = later.values.emplace_back(value);
    if (value.kind == PgValue::Kind::kText || value.kind == PgValue::Kind::kBytes)
      kept.data = later.owned.emplace_back(value.data);
  }
}

PgResult PgConnection::RunWithLater(const char* sql, std::initializer_list<PgValue> values,
                                    bool binary) {
  std::vector<Later> sending = std::exchange(later_, {});
  // Prepared apart, the first time only: a pipeline's statements must be
  // ready when it is sent.
  for (const Later& later : sending)
    if (later.prepared) Prepared(later.sql, later.values);
  if (sql != nullptr) Prepared(sql, values);
  if (PQenterPipelineMode(conn_) == 0) Throw(nullptr, "starting a pipeline");
  bool sent = true;
  for (const Later& later : sending) {
    const Bound bound(later.values);
    sent = sent && (later.prepared
                        ? PQsendQueryPrepared(conn_, prepared_.at(later.sql).c_str(), bound.count,
                                              bound.data, bound.lengths, bound.formats, 1)
                        : PQsendQueryParams(conn_, later.sql, 0, nullptr, nullptr, nullptr,
                                            nullptr, 1)) == 1;
  }
  if (sql != nullptr) {
    const Bound bound(values);
    sent = sent && PQsendQueryPrepared(conn_, prepared_.at(sql).c_str(), bound.count, bound.data,
                                       bound.lengths, bound.formats, binary ? 1 : 0) == 1;
  }
  sent = sent && PQpipelineSync(conn_) == 1;
  // Every statement's results, then the end of the pipeline; the first
  // failure is the one to tell (those after it were not run).
  pg_result* failure = nullptr;
  pg_result* last = nullptr;
  const std::size_t statements = sending.size() + (sql != nullptr ? 1 : 0);
  for (std::size_t i = 0; sent && i < statements; ++i) {
    pg_result* result = PQgetResult(conn_);
    if (result == nullptr) {
      sent = false;
      break;
    }
    if (!Succeeded(result) && failure == nullptr && PQresultStatus(result) != PGRES_PIPELINE_ABORTED)
      failure = std::exchange(result, nullptr);
    if (i + 1 == statements && sql != nullptr) std::swap(last, result);
    PQclear(result);
    // Each statement's results end with a null.
    while (pg_result* more = PQgetResult(conn_)) PQclear(more);
  }
  if (sent) {
    pg_result* sync = PQgetResult(conn_);
    sent = PQresultStatus(sync) == PGRES_PIPELINE_SYNC;
    PQclear(sync);
  }
  if (!sent || PQexitPipelineMode(conn_) == 0) {
    PQclear(last);
    Throw(failure, "sending statements together");
  }
  if (failure != nullptr) {
    PQclear(last);
    Throw(failure, "statement failed");
  }
  return PgResult(last);
}

void PgConnection::Exec(const std::string& sql) {
  if (!later_.empty()) RunWithLater(nullptr, {}, false);
  pg_result* result = PQexec(conn_, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) Throw(result, "statement failed");
  PQclear(result);
}

void PgConnection::RollBackQuietly() {
  later_.clear();
  if (PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
}

std::optional<std::string> CheckDatabaseUri(const std::string& uri) {
  if (!uri.starts_with("postgresql://") && !uri.starts_with("postgres://"))
    return "--database needs a postgresql:// address";
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (options == nullptr) {
    std::string why = Trimmed(error != nullptr ? error : "cannot read --database");
    PQfreemem(error);
    return why;
  }
  PQconninfoFree(options);
  return std::nullopt;
}

std::string RedactedUri(const std::string& uri) {
  // user:password@ → user:***@ ; a password in the query string likewise.
  static const std::regex in_authority(R"(^([a-z]+://[^:/@]*):[^@/]*@)");
  static const std::regex in_query(R"(([?&]password=)[^&]*)");
  return std::regex_replace(std::regex_replace(uri, in_authority, "$1:***@"), in_query, "$1***");
}

}  // namespace heartpage::server
