// Thin layer over the SQLite library for the database cache: a connection, one-shot statements
// and queries, and compiled statements kept for reuse. Every SQLite error becomes a
// CppSQLite3Exception carrying SQLite's code and message.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cache/cpp_sqlite3_exception.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Vantor::KQCP {

// When the statement running on a connection started; the progress handler interrupts it once
// it has run longer than the limit, so that no file (a planted trigger, a runaway query) can
// hang a caller or hold the write lock. Waits for other connections' locks do not count.
struct StatementClock {
  std::chrono::steady_clock::time_point started{};
  std::chrono::milliseconds limit{0};
  void Start() { started = std::chrono::steady_clock::now(); }
  bool Expired() const { return std::chrono::steady_clock::now() - started > limit; }
};

// The rows of a one-shot query, positioned on the first row; finalised when it ends.
class CppSQLite3Query {
 public:
  CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof, StatementClock* clock);
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&&) = delete;
  ~CppSQLite3Query();

  bool Eof() const { return eof_; }
  void NextRow();
  int NumFields() const;
  int FieldIndex(const char* name) const;
  bool FieldIsNull(int index) const;
  // Text of a field; nullValue when the field is NULL.
  const char* FieldValue(int index, const char* nullValue = "") const;
  const char* GetStringField(const char* name, const char* nullValue = "") const;
  int GetIntField(const char* name, int nullValue = 0) const;

 private:
  void CheckRow() const;
  void CheckIndex(int index) const;

  sqlite3* db_;
  sqlite3_stmt* statement_;
  bool eof_;
  StatementClock* clock_;
};

// A compiled statement with parameters, stepped and reset as often as needed. Text bound to it
// must stay valid until the statement is reset.
class CppSQLite3Statement {
 public:
  CppSQLite3Statement() = default;
  CppSQLite3Statement(sqlite3* db, sqlite3_stmt* statement, StatementClock* clock);
  CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
  ~CppSQLite3Statement();

  void Bind(int parameter, std::int32_t value);
  void Bind(int parameter, const char* text, std::uint64_t bytes);
  // True when a row is available, false when the statement is done.
  bool Step();
  // Steps to the end and returns the number of rows changed.
  int ExecDML();
  // Ends the current use: the statement's read or write stops, bindings are cleared.
  void Reset() noexcept;

  bool ColumnIsNull(int column) const;
  std::int32_t ColumnInt(int column) const;
  const unsigned char* ColumnText(int column) const;
  int ColumnBytes(int column) const;

 private:
  void CheckStatement() const;
  void Finalize() noexcept;

  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
  StatementClock* clock_ = nullptr;
};

// Resets a statement when the scope ends, so no read or write stays open between calls.
class StatementUse {
 public:
  explicit StatementUse(CppSQLite3Statement& statement) : statement_(statement) {}
  ~StatementUse() { statement_.Reset(); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  CppSQLite3Statement& statement_;
};

class CppSQLite3DB {
 public:
  static constexpr int kBusyTimeoutMs = 60000;
  // The longest a statement may run, not counting waits for locks.
  static constexpr int kStatementTimeLimitMs = 2000;

  CppSQLite3DB() = default;
  ~CppSQLite3DB();
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;

  // Opens (creating when absent) the database file at a UTF-8 path and sets the busy timeout.
  // The file is treated as untrusted: a symbolic link is not followed, SQLite's defensive mode
  // is on and its schema untrusted, nothing a trigger or view would do is allowed, and every
  // statement is bounded in time. A file it creates is private to the user (mode 0600, and so
  // are SQLite's journal, log and shared-memory files beside it), whatever the umask. On
  // failure the connection stays closed and the error is thrown.
  void Open(const std::string& path);
  void Close() noexcept;
  bool IsOpen() const { return db_ != nullptr; }
  // Waits for other connections' locks at most this long (the time any statement then still
  // runs is bounded apart).
  void SetBusyTimeout(int milliseconds);
  void SetStatementTimeLimit(int milliseconds);

  // Runs statements that return no rows; the number of rows changed by the last one.
  int ExecDML(const char* sql);
  CppSQLite3Query ExecQuery(const char* sql);
  // The first column of the first row as an integer.
  int ExecScalar(const char* sql);
  // A statement kept and reused for the life of the connection.
  CppSQLite3Statement Compile(const char* sql);
  // The longest text or blob the connection stores.
  std::int64_t MaxValueLength() const;
  // Whether a transaction is open on this connection.
  bool InTransaction() const;

  sqlite3* Handle() const { return db_; }

 private:
  void CheckOpen() const;
  // kept: the statement is reused for the connection's life.
  sqlite3_stmt* Prepare(const char* sql, bool kept);
  void Harden();
  static int WaitForLock(void* self, int attempts);

  sqlite3* db_ = nullptr;
  StatementClock clock_{{}, std::chrono::milliseconds(kStatementTimeLimitMs)};
  std::chrono::milliseconds busyTimeout_{kBusyTimeoutMs};
  std::chrono::steady_clock::time_point busySince_{};
};

// Throws the connection's current error for the given code.
[[noreturn]] void ThrowSQLiteError(sqlite3* db, int code);
[[noreturn]] void ThrowLayerError(const char* message);

}  // namespace Vantor::KQCP
