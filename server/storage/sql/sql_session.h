#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// What the storage rules need of a database, whichever it is: statements
// with bound values and rows read by column. Statements are written once, in
// PostgreSQL's spelling ($1, $2 … for values; FOR UPDATE and FOR SHARE where
// rows are locked; octet_length for the size of bytes); an engine whose
// database spells them otherwise translates them (SQLite locks the whole
// file for a write, so it drops the lock words).
namespace heartpage::server {

// A value bound to a statement's $n.
struct SqlValue {
  enum class Kind { kNull, kText, kBytes, kInt };
  SqlValue() = default;
  SqlValue(std::string_view text) : kind(Kind::kText), data(text) {}  // NOLINT: implicit on purpose
  SqlValue(const std::string& text) : kind(Kind::kText), data(text) {}  // NOLINT
  SqlValue(const char* text) : kind(Kind::kText), data(text) {}         // NOLINT
  template <std::integral Number>
  SqlValue(Number value)  // NOLINT
      : kind(Kind::kInt), number(static_cast<std::int64_t>(value)) {}
  static SqlValue Bytes(std::string_view bytes) {
    SqlValue value(bytes);
    value.kind = Kind::kBytes;
    return value;
  }
  static SqlValue Optional(const std::optional<std::string>& text) {
    return text ? SqlValue(*text) : SqlValue();
  }
  Kind kind = Kind::kNull;
  std::string_view data;  // text and bytes
  std::int64_t number = 0;
};

// An engine's position in the rows of one statement.
class SqlCursor {
 public:
  virtual ~SqlCursor() = default;
  // Moves to the next row (the first, at first); false past the last.
  virtual bool Next() = 0;
  virtual bool IsNull(int column) = 0;
  // Text or bytes, valid until the next move.
  virtual std::string_view Bytes(int column) = 0;
  // An integer column, or a truth as 0 or 1.
  virtual std::int64_t Int(int column) = 0;
};

// The rows a statement answered, standing on the first of them:
//   for (SqlRows rows = db.Run(...); rows; rows.Next()) ...
class SqlRows {
 public:
  explicit SqlRows(std::unique_ptr<SqlCursor> cursor)
      : cursor_(std::move(cursor)), here_(cursor_->Next()) {}
  explicit operator bool() const { return here_; }
  bool Next() { return here_ = here_ && cursor_->Next(); }

  bool IsNull(int column) { return cursor_->IsNull(column); }
  std::string_view View(int column) { return cursor_->Bytes(column); }
  std::string Text(int column) { return std::string(cursor_->Bytes(column)); }
  std::optional<std::string> Optional(int column) {
    if (IsNull(column)) return std::nullopt;
    return Text(column);
  }
  std::int64_t Int(int column) { return cursor_->Int(column); }
  std::uint64_t Count(int column) { return static_cast<std::uint64_t>(Int(column)); }
  bool Truth(int column) { return Int(column) != 0; }

 private:
  std::unique_ptr<SqlCursor> cursor_;
  bool here_;
};

// Where a statement's spelling depends on the database after all.
enum class SqlDialect { kSqlite, kPostgres };

// One connection, lent to the rules for a read or a transaction.
class SqlSession {
 public:
  virtual ~SqlSession() = default;
  virtual SqlDialect Dialect() const = 0;

  // Runs `sql`, a string that lives as long as the program (a literal, or a
  // static string): each connection prepares it once, under its address.
  SqlRows Run(const char* sql, std::initializer_list<SqlValue> values = {}) {
    return SqlRows(Start(sql, values));
  }
  // Runs `sql`, whose rows nobody reads, no later than the next statement
  // or the commit. An engine for which each statement is a round trip sends
  // it with that one; its failure is then that one's. The values are copied.
  virtual void RunLater(const char* sql, std::initializer_list<SqlValue> values = {}) {
    Run(sql, values);
  }

 protected:
  virtual std::unique_ptr<SqlCursor> Start(const char* sql,
                                           std::initializer_list<SqlValue> values) = 0;
};

}  // namespace heartpage::server
