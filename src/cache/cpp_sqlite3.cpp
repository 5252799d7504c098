// The SQLite access layer of the database cache.
#include "cache/cpp_sqlite3.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <utility>

namespace Vantor::KQCP {

void ThrowSQLiteError(sqlite3* db, int code) {
  throw CppSQLite3Exception(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

void ThrowLayerError(const char* message) {
  throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, message);
}

namespace {

// Virtual machine steps between looks at the statement clock.
constexpr int kProgressSteps = 1000;

int InterruptWhenExpired(void* clock) { return static_cast<StatementClock*>(clock)->Expired(); }

// The layer runs only its own statements: whatever a trigger or view stored in the file would
// read or change is refused when a statement is compiled.
int RefuseTriggersAndViews(void* /*unused*/, int /*action*/, const char* /*first*/,
                           const char* /*second*/, const char* /*database*/,
                           const char* triggerOrView) {
  return triggerOrView ? SQLITE_DENY : SQLITE_OK;
}

void StartClock(StatementClock* clock) {
  if (clock) clock->Start();
}

// A database file the layer brings into existence is readable and writable by its user alone,
// whatever the umask: cached data is the user's own. SQLite gives the journal, write-ahead log
// and shared-memory file it makes beside it the main file's permissions. A file that exists
// already, a path through a symbolic link (which SQLite refuses) or a missing directory is left
// to SQLite as it is.
void CreatePrivateFile(const std::string& path) {
  if (path.empty() || path == ":memory:") return;
  // The path's components, each ended by a NUL, made before any descriptor is open.
  std::string parts = path;
  std::replace(parts.begin(), parts.end(), '/', '\0');
  const char* const last = parts.data() + parts.size();
  int directory = open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (const char* part = parts.data(); directory >= 0; part += std::strlen(part) + 1) {
    const std::string_view name(part);
    const bool isFile = part + name.size() == last;
    if (name == ".." || (isFile && (name.empty() || name == "."))) break;
    if (isFile) {
      const int fd =
          openat(directory, part, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
      if (fd >= 0) {
        // The umask may have taken the owner's bits too.
        static_cast<void>(fchmod(fd, S_IRUSR | S_IWUSR));
        close(fd);
      }
      break;
    }
    if (name.empty() || name == ".") continue;
    // Each directory is entered without following a link, as SQLite opens the file.
    const int next = openat(directory, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(directory);
    directory = next;
  }
  if (directory >= 0) close(directory);
}

}  // namespace

// ---- CppSQLite3Query ----

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof,
                                 StatementClock* clock)
    : db_(db), statement_(statement), eof_(eof), clock_(clock) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : db_(other.db_),
      statement_(std::exchange(other.statement_, nullptr)),
      eof_(other.eof_),
      clock_(other.clock_) {}

CppSQLite3Query::~CppSQLite3Query() {
  // An error at finalisation belongs to a step that already reported it.
  if (statement_) sqlite3_finalize(statement_);
}

void CppSQLite3Query::NextRow() {
  CheckRow();
  StartClock(clock_);
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_DONE) {
    eof_ = true;
  } else if (rc != SQLITE_ROW) {
    ThrowSQLiteError(db_, rc);
  }
}

int CppSQLite3Query::NumFields() const {
  if (!statement_) ThrowLayerError(sqlite_layer_error::kNullStatement);
  return sqlite3_column_count(statement_);
}

int CppSQLite3Query::FieldIndex(const char* name) const {
  if (!statement_) ThrowLayerError(sqlite_layer_error::kNullStatement);
  if (name) {
    const int count = sqlite3_column_count(statement_);
    for (int i = 0; i < count; ++i) {
      const char* column = sqlite3_column_name(statement_, i);
      if (column && std::strcmp(name, column) == 0) return i;
    }
  }
  ThrowLayerError(sqlite_layer_error::kInvalidFieldName);
}

bool CppSQLite3Query::FieldIsNull(int index) const {
  CheckIndex(index);
  return sqlite3_column_type(statement_, index) == SQLITE_NULL;
}

const char* CppSQLite3Query::FieldValue(int index, const char* nullValue) const {
  if (FieldIsNull(index)) return nullValue;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
  if (!text) ThrowLayerError(sqlite_layer_error::kCannotAllocate);
  return text;
}

const char* CppSQLite3Query::GetStringField(const char* name, const char* nullValue) const {
  return FieldValue(FieldIndex(name), nullValue);
}

int CppSQLite3Query::GetIntField(const char* name, int nullValue) const {
  const int index = FieldIndex(name);
  if (FieldIsNull(index)) return nullValue;
  return sqlite3_column_int(statement_, index);
}

void CppSQLite3Query::CheckRow() const {
  if (!statement_) ThrowLayerError(sqlite_layer_error::kNullStatement);
  if (eof_) ThrowLayerError(sqlite_layer_error::kInvalidFieldIndex);
}

void CppSQLite3Query::CheckIndex(int index) const {
  CheckRow();
  if (index < 0 || index >= sqlite3_column_count(statement_)) {
    ThrowLayerError(sqlite_layer_error::kInvalidFieldIndex);
  }
}

// ---- CppSQLite3Statement ----

CppSQLite3Statement::CppSQLite3Statement(sqlite3* db, sqlite3_stmt* statement,
                                         StatementClock* clock)
    : db_(db), statement_(statement), clock_(clock) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)), clock_(other.clock_) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
  if (this != &other) {
    Finalize();
    db_ = other.db_;
    statement_ = std::exchange(other.statement_, nullptr);
    clock_ = other.clock_;
  }
  return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() { Finalize(); }

void CppSQLite3Statement::Finalize() noexcept {
  if (statement_) sqlite3_finalize(std::exchange(statement_, nullptr));
}

void CppSQLite3Statement::CheckStatement() const {
  if (!statement_) ThrowLayerError(sqlite_layer_error::kNullStatement);
}

void CppSQLite3Statement::Bind(int parameter, std::int32_t value) {
  CheckStatement();
  const int rc = sqlite3_bind_int(statement_, parameter, value);
  if (rc != SQLITE_OK) ThrowSQLiteError(db_, rc);
}

void CppSQLite3Statement::Bind(int parameter, const char* text, std::uint64_t bytes) {
  CheckStatement();
  const int rc =
      sqlite3_bind_text64(statement_, parameter, text, bytes, SQLITE_STATIC, SQLITE_UTF8);
  if (rc != SQLITE_OK) ThrowSQLiteError(db_, rc);
}

bool CppSQLite3Statement::Step() {
  CheckStatement();
  StartClock(clock_);
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  ThrowSQLiteError(db_, rc);
}

int CppSQLite3Statement::ExecDML() {
  while (Step()) {
  }
  return sqlite3_changes(db_);
}

void CppSQLite3Statement::Reset() noexcept {
  if (!statement_) return;
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

bool CppSQLite3Statement::ColumnIsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int32_t CppSQLite3Statement::ColumnInt(int column) const {
  return sqlite3_column_int(statement_, column);
}

const unsigned char* CppSQLite3Statement::ColumnText(int column) const {
  return sqlite3_column_text(statement_, column);
}

int CppSQLite3Statement::ColumnBytes(int column) const {
  return sqlite3_column_bytes(statement_, column);
}

// ---- CppSQLite3DB ----

CppSQLite3DB::~CppSQLite3DB() { Close(); }

void CppSQLite3DB::Open(const std::string& path) {
  Close();
  CreatePrivateFile(path);
  sqlite3* db = nullptr;
  // The cache's own lock keeps one connection to one thread at a time.
  const int rc = sqlite3_open_v2(
      path.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
      nullptr);
  if (rc != SQLITE_OK) {
    CppSQLite3Exception error(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    throw error;
  }
  db_ = db;
  try {
    Harden();
  } catch (...) {
    Close();
    throw;
  }
  SetBusyTimeout(kBusyTimeoutMs);
}

void CppSQLite3DB::Harden() {
  // Defensive mode keeps SQL from corrupting the file on purpose; an untrusted schema lets
  // no function of the file's own schema (views, triggers, defaults) run with side effects.
  int on = -1;
  int rc = sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, &on);
  if (rc != SQLITE_OK || on != 1) ThrowSQLiteError(db_, rc == SQLITE_OK ? SQLITE_ERROR : rc);
  rc = sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &on);
  if (rc != SQLITE_OK || on != 0) ThrowSQLiteError(db_, rc == SQLITE_OK ? SQLITE_ERROR : rc);
  rc = sqlite3_set_authorizer(db_, &RefuseTriggersAndViews, nullptr);
  if (rc != SQLITE_OK) ThrowSQLiteError(db_, rc);
  sqlite3_progress_handler(db_, kProgressSteps, &InterruptWhenExpired, &clock_);
}

int CppSQLite3DB::WaitForLock(void* self, int attempts) {
  // The waits of SQLite's own busy timeout; the statement's clock starts again after each.
  static constexpr int kDelaysMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  auto* db = static_cast<CppSQLite3DB*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) db->busySince_ = now;
  const auto left = db->busyTimeout_ - (now - db->busySince_);
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  const int step = std::min<int>(attempts, std::size(kDelaysMs) - 1);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
      std::chrono::milliseconds(kDelaysMs[step]), left));
  db->clock_.Start();
  return 1;
}

void CppSQLite3DB::Close() noexcept {
  // A statement still alive keeps the connection until it is finalised.
  if (db_) sqlite3_close_v2(std::exchange(db_, nullptr));
}

void CppSQLite3DB::SetBusyTimeout(int milliseconds) {
  CheckOpen();
  busyTimeout_ = std::chrono::milliseconds(std::max(milliseconds, 0));
  sqlite3_busy_handler(db_, &WaitForLock, this);
}

void CppSQLite3DB::SetStatementTimeLimit(int milliseconds) {
  clock_.limit = std::chrono::milliseconds(std::max(milliseconds, 0));
}

void CppSQLite3DB::CheckOpen() const {
  if (!db_) ThrowLayerError(sqlite_layer_error::kNotOpen);
}

sqlite3_stmt* CppSQLite3DB::Prepare(const char* sql, bool kept) {
  CheckOpen();
  clock_.Start();  // reading a large schema runs statements too
  sqlite3_stmt* statement = nullptr;
  const int rc =
      sqlite3_prepare_v3(db_, sql, -1, kept ? SQLITE_PREPARE_PERSISTENT : 0, &statement, nullptr);
  if (rc != SQLITE_OK) ThrowSQLiteError(db_, rc);
  if (!statement) ThrowLayerError(sqlite_layer_error::kNullStatement);
  return statement;
}

int CppSQLite3DB::ExecDML(const char* sql) {
  CheckOpen();
  clock_.Start();
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    CppSQLite3Exception error(rc, message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    throw error;
  }
  return sqlite3_changes(db_);
}

CppSQLite3Query CppSQLite3DB::ExecQuery(const char* sql) {
  sqlite3_stmt* statement = Prepare(sql, false);
  clock_.Start();
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    return CppSQLite3Query(db_, statement, rc == SQLITE_DONE, &clock_);
  }
  CppSQLite3Exception error(rc, sqlite3_errmsg(db_));
  sqlite3_finalize(statement);
  throw error;
}

int CppSQLite3DB::ExecScalar(const char* sql) {
  CppSQLite3Query query = ExecQuery(sql);
  if (query.Eof() || query.NumFields() < 1) ThrowLayerError(sqlite_layer_error::kInvalidScalar);
  return std::atoi(query.FieldValue(0));
}

CppSQLite3Statement CppSQLite3DB::Compile(const char* sql) {
  return CppSQLite3Statement(db_, Prepare(sql, true), &clock_);
}

std::int64_t CppSQLite3DB::MaxValueLength() const {
  CheckOpen();
  return sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1);
}

bool CppSQLite3DB::InTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

}  // namespace Vantor::KQCP
