#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/storage/sql/sql_session.h"
#include "server/storage/storage.h"

struct pg_conn;
struct pg_result;

// A thin layer over libpq: one connection, statements with bound values,
// results read by row and column, and libpq's failures turned into the
// storage errors the rest of the server knows.
namespace heartpage::server {

// The database could not be reached, or the connection broke. Nothing can
// be known to have changed; asking again later may well succeed.
struct DatabaseUnavailable : StorageBusy {
  using StorageBusy::StorageBusy;
};

// A value bound to a statement's $n. Text and numbers go as text; bytes (for
// bytea) go as they are, in binary.
using PgValue = SqlValue;

class PgResult {
 public:
  explicit PgResult(pg_result* result) : result_(result) {}
  ~PgResult();
  PgResult(PgResult&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  PgResult& operator=(PgResult&&) = delete;
  PgResult(const PgResult&) = delete;

  int Rows() const;
  bool IsNull(int row, int column) const;
  // The column's bytes: text for text results, raw bytes for binary ones.
  std::string_view Get(int row, int column) const;
  std::optional<std::string> Optional(int row, int column) const;
  // A bigint column of a text result.
  std::int64_t Int(int row, int column) const;
  // An integer, numeric or boolean column of a binary result.
  std::int64_t BinaryInt(int row, int column) const;

 private:
  pg_result* result_;
};

// A store's announcement that the page of `name` changed, made in the
// transaction `transaction`, which the watches listening then must confirm.
struct PgAnnouncement {
  std::string name;
  std::string transaction;
  std::vector<std::string> watches;
};

class PgConnection final : public SqlSession {
 public:
  // Connects and sets the session up for the server: durable commits, and
  // limits on how long a statement or a lock may keep a request waiting.
  // Throws DatabaseUnavailable when the server cannot be reached, and
  // StorageError when it refuses us (a wrong password, no such database).
  explicit PgConnection(const std::string& uri);
  ~PgConnection() override;
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  SqlDialect Dialect() const override { return SqlDialect::kPostgres; }

  // Runs one statement (the rules' Run, which this hides, answers in
  // binary). `binary` asks for the result in binary (bytea as raw
  // bytes, integers in network order). Statements given as literals are
  // prepared once per connection: the pointer is the key.
  PgResult Run(const char* sql, std::initializer_list<PgValue> values = {}, bool binary = false);
  // Sent with the next statement, in one round trip.
  void RunLater(const char* sql, std::initializer_list<SqlValue> values = {}) override;
  // Statements without values, several at once (the schema, the session).
  void Exec(const std::string& sql);

  // Runs `work` in a transaction; rolls back when it throws. A commit that
  // need not reach the disk by itself (`synced` false) is acknowledged before
  // it does: a crash of the database may lose it, the next synced commit of
  // any session carries it to the disk with its own.
  // BEGIN goes with the transaction's first statement, and the statements
  // run later with the COMMIT: no round trip of its own for either.
  template <typename Work>
  auto Transaction(Work&& work, bool synced = true) {
    QueueUnprepared("BEGIN");
    if (!synced) QueueUnprepared("SET LOCAL synchronous_commit TO off");
    try {
      auto result = work();
      QueueUnprepared("COMMIT");
      RunWithLater(nullptr, {}, false);
      return result;
    } catch (...) {
      RollBackQuietly();
      throw;
    }
  }

  // Whether the connection is beyond use (lost, or in a state we cannot
  // trust); the pool drops such connections.
  bool Broken() const;
  // Reads what the server has said meanwhile, without waiting: whether a
  // connection that sat idle can still be used.
  bool StillUp();

  pg_conn* raw() { return conn_; }

  // Made in the transaction under way, to be awaited once it commits.
  std::vector<PgAnnouncement> announced;

  // Why a result failed, as the storage error it stands for.
  [[noreturn]] void Throw(pg_result* result, std::string_view what);

 private:
  std::unique_ptr<SqlCursor> Start(const char* sql,
                                   std::initializer_list<SqlValue> values) override;
  void RollBackQuietly();
  // The name `sql` is prepared under on this connection, preparing it first.
  const std::string& Prepared(const char* sql, std::span<const PgValue> values);
  // The statements waiting, then `sql` (when not null), sent together; the
  // result of `sql`, or the first failure.
  PgResult RunWithLater(const char* sql, std::initializer_list<PgValue> values, bool binary);

  // A statement waiting for the next one. Those not `prepared` take no
  // values (BEGIN, COMMIT).
  struct Later {
    const char* sql = nullptr;
    bool prepared = true;
    std::vector<PgValue> values;
    std::vector<std::string> owned;  // what `values` point into
  };

  void QueueUnprepared(const char* sql) { later_.push_back({sql, false, {}, {}}); }

  pg_conn* conn_ = nullptr;
  std::vector<Later> later_;
  std::map<const char*, std::string> prepared_;
};

// Whether `uri` is something libpq can read; the reason otherwise.
std::optional<std::string> CheckDatabaseUri(const std::string& uri);

// The URI without its password, for logs and messages.
std::string RedactedUri(const std::string& uri);

}  // namespace heartpage::server
