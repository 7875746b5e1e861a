// The rules' statements on a SQLite connection.
#include <cctype>

#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {

std::string SqliteSpelling(std::string_view sql) {
  std::string spelled;
  spelled.reserve(sql.size());
  for (std::size_t i = 0; i < sql.size();) {
    const std::string_view rest = sql.substr(i);
    if (rest.size() > 1 && rest[0] == '$' && std::isdigit(static_cast<unsigned char>(rest[1]))) {
      spelled += '?';
      ++i;
    } else if (rest.starts_with(" FOR UPDATE")) {
      i += std::string_view(" FOR UPDATE").size();
    } else if (rest.starts_with(" FOR SHARE")) {
      i += std::string_view(" FOR SHARE").size();
    } else if (rest.starts_with("octet_length(")) {
      spelled += "length(";  // of a blob: its bytes
      i += std::string_view("octet_length(").size();
    } else {
      spelled += sql[i++];
    }
  }
  return spelled;
}

// Resets the statement when the rules are done with its rows, so that the
// next use of it, and the commit, find it finished.
class SqliteStorage::Connection::Cursor final : public SqlCursor {
 public:
  Cursor(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
  ~Cursor() override {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  void Bind(int index, const SqlValue& value) {
    int rc = SQLITE_OK;
    // Copied: the rows may be read on after the values' owners are gone.
    switch (value.kind) {
      case SqlValue::Kind::kNull:
        rc = sqlite3_bind_null(statement_, index);
        break;
      case SqlValue::Kind::kInt:
        rc = sqlite3_bind_int64(statement_, index, value.number);
        break;
      case SqlValue::Kind::kText:
        rc = sqlite3_bind_text64(statement_, index, value.data.data(), value.data.size(),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      case SqlValue::Kind::kBytes:
        rc = sqlite3_bind_blob64(statement_, index, value.data.data(), value.data.size(),
                                 SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK) throw StorageError(sqlite3_errmsg(db_));
  }

  bool Next() override {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Connection::Throw(rc, sqlite3_errmsg(db_));
  }
  bool IsNull(int column) override {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
  }
  std::string_view Bytes(int column) override {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    if (bytes == nullptr) return {};
    return {bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
  }
  std::int64_t Int(int column) override { return sqlite3_column_int64(statement_, column); }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_;
};

std::unique_ptr<SqlCursor> SqliteStorage::Connection::Start(
    const char* sql, std::initializer_list<SqlValue> values) {
  auto [it, inserted] = statements_.try_emplace(sql, nullptr);
  if (inserted) {
    const std::string spelled = SqliteSpelling(sql);
    if (sqlite3_prepare_v3(db_, spelled.c_str(), static_cast<int>(spelled.size()),
                           SQLITE_PREPARE_PERSISTENT, &it->second, nullptr) != SQLITE_OK) {
      statements_.erase(it);
      throw StorageError(sqlite3_errmsg(db_));
    }
  }
  auto cursor = std::make_unique<Cursor>(db_, it->second);
  int index = 0;
  for (const SqlValue& value : values) cursor->Bind(++index, value);
  return cursor;
}

}  // namespace heartpage::server
