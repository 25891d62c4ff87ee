// The registry store: one SQLite database that the installer, its temporary copy and a host open at once.
//
// Each key is a row holding its hive, its parent's id, its full path folded for comparison (unique per
// hive) and its name as first created; each value a row of its key. Every call of the interface is one
// transaction (BEGIN IMMEDIATE when it writes), so concurrent processes serialise on SQLite's lock and a
// crash leaves either all of an operation or none. The journal is WAL with synchronous=NORMAL: a crashed
// process loses nothing that was committed; a power cut may lose the last commits but never leaves a
// broken file, much like Windows' lazy flushing of the registry.
//
// Names: empty path parts are dropped (so "A\\B\" is "A\B"); the hive root and the keys Windows mounts
// itself (HKLM "SOFTWARE", its "Classes" - the root of HKCR - and, on 64-bit Windows, "WOW6432Node";
// HKCU "Software") always exist and cannot be deleted.
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY,
  hive INTEGER NOT NULL,
  parent INTEGER REFERENCES reg_keys(id),
  folded_path TEXT NOT NULL,
  folded_name TEXT NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(hive, folded_path));
CREATE INDEX IF NOT EXISTS reg_keys_children ON reg_keys(parent, folded_name);
CREATE TABLE IF NOT EXISTS reg_values(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE,
  folded_name TEXT NOT NULL,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  text TEXT,
  number INTEGER,
  UNIQUE(key, folded_name));
CREATE INDEX IF NOT EXISTS reg_values_order ON reg_values(key, id);
INSERT OR IGNORE INTO reg_keys(hive, parent, folded_path, folded_name, name)
  VALUES(0, NULL, '', '', ''), (1, NULL, '', '', '');
PRAGMA user_version = 1;
)sql";

// Cached statements. Values keep the order they were first set because an update keeps the row id and a
// new row gets one above all others.
enum Sql : std::size_t {
  kBegin, kBeginImmediate, kCommit, kRollback, kFindKey, kInsertKey, kHasSubKeys, kDeleteKeyRow, kDeleteTree,
  kEnumKey, kListKeys, kCountKeys, kCountValues, kUpsertValue, kQueryValue, kDeleteValue, kEnumValue,
  kListValues, kSqlCount
};

constexpr std::array<const char*, kSqlCount> kSqlText = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM reg_keys WHERE hive = ?1 AND folded_path = ?2",
    "INSERT INTO reg_keys(hive, parent, folded_path, folded_name, name) VALUES(?1, ?2, ?3, ?4, ?5)",
    "SELECT EXISTS(SELECT 1 FROM reg_keys WHERE parent = ?1)",
    "DELETE FROM reg_keys WHERE id = ?1",
    // Every path below the key ('\' + 1 is ']'): one range of the index whatever the depth.
    "DELETE FROM reg_keys WHERE hive = ?1 AND folded_path >= ?2 || '\\' AND folded_path < ?2 || ']'",
    "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded_name LIMIT 1 OFFSET ?2",
    "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded_name",
    "SELECT count(*) FROM reg_keys WHERE parent = ?1",
    "SELECT count(*) FROM reg_values WHERE key = ?1",
    "INSERT INTO reg_values(key, folded_name, name, type, text, number) VALUES(?1, ?2, ?3, ?4, ?5, ?6) "
    "ON CONFLICT(key, folded_name) DO UPDATE SET type = excluded.type, text = excluded.text, "
    "number = excluded.number",
    "SELECT name, type, text, number FROM reg_values WHERE key = ?1 AND folded_name = ?2",
    "DELETE FROM reg_values WHERE key = ?1 AND folded_name = ?2",
    "SELECT name, type, text, number FROM reg_values WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, text, number FROM reg_values WHERE key = ?1 ORDER BY id",
};

std::uint32_t MapSqliteError(int rc) {
  switch (rc) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return error::kSuccess;
    case SQLITE_IOERR_READ:
    case SQLITE_IOERR_SHORT_READ:
      return error::kReadFault;
    case SQLITE_IOERR_NOMEM:
      return error::kNotEnoughMemory;
    default:
      break;
  }
  switch (rc & 0xFF) {
    case SQLITE_FULL:
      return error::kDiskFull;
    case SQLITE_NOMEM:
      return error::kNotEnoughMemory;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return error::kSharingViolation;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return error::kAccessDenied;
    case SQLITE_CANTOPEN:
      return error::kCantAccessFile;
    case SQLITE_TOOBIG:
      return error::kInvalidParameter;
    // Not a database, a damaged one, or one whose tables are not ours.
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return error::kInvalidData;
    default:
      return error::kWriteFault;
  }
}

// One use of a cached statement: binds, steps, and resets it when it goes.
class Query {
 public:
  explicit Query(sqlite3_stmt* statement) : statement_(statement) {}
  ~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int index, std::int64_t number) {
    Keep(sqlite3_bind_int64(statement_, index, number));
    return *this;
  }
  Query& Bind(int index, std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      Keep(SQLITE_TOOBIG);
      return *this;
    }
    // A null pointer would bind NULL, which is not the empty name.
    Keep(sqlite3_bind_text(statement_, index, text.data() != nullptr ? text.data() : "",
                           static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Query& BindNull(int index) {
    Keep(sqlite3_bind_null(statement_, index));
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return bind_error_ != SQLITE_OK ? bind_error_ : sqlite3_step(statement_); }

  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                           : std::string();
  }

 private:
  void Keep(int rc) {
    if (bind_error_ == SQLITE_OK) bind_error_ = rc;
  }
  sqlite3_stmt* statement_;
  int bind_error_ = SQLITE_OK;
};

// A key as the store addresses it.
struct KeyPath {
  std::int64_t hive = 0;
  std::vector<std::string> names;   // as the caller spelled them
  std::vector<std::string> folded;  // the same, folded for comparison

  std::string FoldedPrefix(std::size_t count) const {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) path += '\\';
      path += folded[i];
    }
    return path;
  }
  std::string Folded() const { return FoldedPrefix(folded.size()); }
};

RegValue ReadValue(const Query& query) {
  RegValue value;
  value.name = query.Text(0);
  value.type = static_cast<RegType>(query.Int(1));
  if (value.type == RegType::kDword) {
    value.number = static_cast<std::uint32_t>(query.Int(3));
  } else {
    value.text = query.Text(2);
  }
  return value;
}

class SqliteRegistry final : public Registry {
 public:
  explicit SqliteRegistry(bool windows64) : windows64_(windows64) {}
  ~SqliteRegistry() override {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
  }
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  std::uint32_t Open(const std::string& database_file);

  std::uint32_t CreateKey(Hive hive, std::string_view path, RegView view) override;
  std::uint32_t OpenKey(Hive hive, std::string_view path, RegView view) override;
  std::uint32_t DeleteKey(Hive hive, std::string_view path, RegView view) override;
  std::uint32_t DeleteTree(Hive hive, std::string_view path, RegView view) override;
  std::uint32_t SetString(Hive hive, std::string_view path, std::string_view name, std::string_view text,
                          RegView view) override;
  std::uint32_t SetDword(Hive hive, std::string_view path, std::string_view name, std::uint32_t number,
                         RegView view) override;
  std::uint32_t QueryValue(Hive hive, std::string_view path, std::string_view name, RegValue& value,
                           RegView view) override;
  std::uint32_t DeleteValue(Hive hive, std::string_view path, std::string_view name, RegView view) override;
  std::uint32_t EnumKey(Hive hive, std::string_view path, std::uint32_t index, std::string& name,
                        RegView view) override;
  std::uint32_t EnumValue(Hive hive, std::string_view path, std::uint32_t index, RegValue& value,
                          RegView view) override;
  std::uint32_t ListSubKeys(Hive hive, std::string_view path, std::vector<std::string>& names,
                            RegView view) override;
  std::uint32_t ListValues(Hive hive, std::string_view path, std::vector<RegValue>& values,
                           RegView view) override;
  std::uint32_t QueryCounts(Hive hive, std::string_view path, RegKeyCounts& counts, RegView view) override;

 private:
  std::uint32_t OpenDatabase(const std::string& database_file);
  int SwitchToWal();
  std::uint32_t PrepareSchema();
  std::uint32_t PrepareStatements();
  std::uint32_t CreateMountedKeys();

  // Runs body (returning a Windows code) as one transaction; anything but success rolls it back.
  template <typename Body>
  std::uint32_t Transact(bool write, Body&& body);
  int Exec(Sql sql) { return Query(statements_[sql]).Step(); }
  // body(key, key_id) on an existing key, in one transaction; kFileNotFound when it is missing.
  template <typename Body>
  std::uint32_t OnKey(bool write, Hive hive, std::string_view path, RegView view, Body&& body);
  std::uint32_t Locate(Hive hive, std::string_view path, RegView view, KeyPath& key) const;
  std::uint32_t FindKey(std::int64_t hive, const std::string& folded_path, std::int64_t& id);
  std::uint32_t EnsureKey(const KeyPath& key, std::int64_t& id);
  std::uint32_t Count(Sql sql, std::int64_t key_id, std::uint32_t& count);
  std::uint32_t SetValue(Hive hive, std::string_view path, std::string_view name, RegType type,
                         std::string_view text, std::uint32_t number, RegView view);
  bool IsMounted(const KeyPath& key) const;

  const bool windows64_;
  std::mutex mutex_;  // one connection, used by one thread at a time
  sqlite3* db_ = nullptr;
  std::array<sqlite3_stmt*, kSqlCount> statements_{};
  std::vector<std::pair<std::int64_t, std::string>> mounted_;  // (hive, folded path)
};

template <typename Body>
std::uint32_t SqliteRegistry::Transact(bool write, Body&& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int begin = Exec(write ? kBeginImmediate : kBegin);
  if (begin != SQLITE_DONE) return MapSqliteError(begin);
  std::uint32_t result = error::kSuccess;
  try {
    result = body();
  } catch (const std::bad_alloc&) {
    result = error::kNotEnoughMemory;
  }
  if (result == error::kSuccess) {
    const int commit = Exec(kCommit);
    if (commit == SQLITE_DONE) return error::kSuccess;
    result = MapSqliteError(commit);
  }
  // SQLite ends the transaction itself after some errors (a full disk, an I/O error).
  if (sqlite3_get_autocommit(db_) == 0) Exec(kRollback);
  return result;
}

template <typename Body>
std::uint32_t SqliteRegistry::OnKey(bool write, Hive hive, std::string_view path, RegView view, Body&& body) {
  return Transact(write, [&]() -> std::uint32_t {
    KeyPath key;
    std::uint32_t result = Locate(hive, path, view, key);
    std::int64_t id = 0;
    if (result == error::kSuccess) result = FindKey(key.hive, key.Folded(), id);
    return result == error::kSuccess ? body(key, id) : result;
  });
}

std::uint32_t SqliteRegistry::Locate(Hive hive, std::string_view path, RegView view, KeyPath& key) const {
  const RegLocation location = ResolveRegistryPath(hive, path, view, windows64_);
  key.hive = static_cast<std::int64_t>(location.hive);
  for (std::string& part : Split(location.path, '\\')) {
    if (part.empty()) continue;
    // Folding would merge different malformed names into one key.
    if (!IsValidUtf8(part)) return error::kInvalidParameter;
    key.folded.push_back(FoldCase(part));
    key.names.push_back(std::move(part));
  }
  return error::kSuccess;
}

std::uint32_t SqliteRegistry::FindKey(std::int64_t hive, const std::string& folded_path, std::int64_t& id) {
  Query query(statements_[kFindKey]);
  query.Bind(1, hive).Bind(2, folded_path);
  const int rc = query.Step();
  if (rc == SQLITE_DONE) return error::kFileNotFound;
  if (rc != SQLITE_ROW) return MapSqliteError(rc);
  id = query.Int(0);
  return error::kSuccess;
}

// Finds the key, creating it and its missing parents.
std::uint32_t SqliteRegistry::EnsureKey(const KeyPath& key, std::int64_t& id) {
  std::uint32_t result = FindKey(key.hive, key.Folded(), id);
  if (result != error::kFileNotFound) return result;
  std::int64_t parent = 0;
  result = FindKey(key.hive, "", parent);
  for (std::size_t depth = 1; result == error::kSuccess && depth <= key.folded.size(); ++depth) {
    const std::string folded_path = key.FoldedPrefix(depth);
    result = FindKey(key.hive, folded_path, id);
    if (result == error::kFileNotFound) {
      Query insert(statements_[kInsertKey]);
      insert.Bind(1, key.hive).Bind(2, parent).Bind(3, folded_path).Bind(4, key.folded[depth - 1]);
      insert.Bind(5, key.names[depth - 1]);
      const int rc = insert.Step();
      result = MapSqliteError(rc);
      id = sqlite3_last_insert_rowid(db_);
    }
    parent = id;
  }
  return result;
}

std::uint32_t SqliteRegistry::Count(Sql sql, std::int64_t key_id, std::uint32_t& count) {
  Query query(statements_[sql]);
  query.Bind(1, key_id);
  const int rc = query.Step();
  if (rc != SQLITE_ROW) return MapSqliteError(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
  count = static_cast<std::uint32_t>(query.Int(0));
  return error::kSuccess;
}

bool SqliteRegistry::IsMounted(const KeyPath& key) const {
  const std::string folded_path = key.Folded();
  for (const auto& [hive, path] : mounted_) {
    if (hive == key.hive && path == folded_path) return true;
  }
  return false;
}

std::uint32_t SqliteRegistry::Open(const std::string& database_file) {
  std::uint32_t result = OpenDatabase(database_file);
  if (result == error::kSuccess) result = PrepareSchema();
  if (result == error::kSuccess) result = PrepareStatements();
  if (result == error::kSuccess) result = CreateMountedKeys();
  return result;
}

std::uint32_t SqliteRegistry::OpenDatabase(const std::string& database_file) {
  const std::filesystem::path parent = std::filesystem::path(database_file).parent_path();
  if (!parent.empty()) {
    std::error_code problem;
    std::filesystem::create_directories(parent, problem);
    if (problem) return problem == std::errc::permission_denied ? error::kAccessDenied : error::kPathNotFound;
  }
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(database_file.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) return MapSqliteError(rc);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  rc = SwitchToWal();
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db_, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;", nullptr, nullptr, nullptr);
  }
  return MapSqliteError(rc);
}

// The first statement reads the header, so a file that is no database fails here. Turning a fresh file
// into WAL needs it alone; SQLite reports a conflict with another opener at once, without waiting, so the
// wait is ours.
int SqliteRegistry::SwitchToWal() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  while (true) {
    const int rc = sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    const bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    if (!busy || std::chrono::steady_clock::now() > deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::uint32_t SqliteRegistry::PrepareSchema() {
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return MapSqliteError(rc);
  int version = -1;
  rc = sqlite3_exec(
      db_, "PRAGMA user_version",
      [](void* out, int, char** columns, char**) {
        *static_cast<int*>(out) = columns[0] != nullptr ? std::atoi(columns[0]) : -1;
        return 0;
      },
      &version, nullptr);
  if (rc == SQLITE_OK && version == 0) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  // A store written by a newer layout is not ours to change.
  if (rc == SQLITE_OK && version != 0 && version != kSchemaVersion) rc = SQLITE_FORMAT;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return MapSqliteError(rc);
}

std::uint32_t SqliteRegistry::PrepareStatements() {
  for (std::size_t i = 0; i < kSqlCount; ++i) {
    const int rc = sqlite3_prepare_v3(db_, kSqlText[i], -1, SQLITE_PREPARE_PERSISTENT, &statements_[i], nullptr);
    if (rc != SQLITE_OK) return MapSqliteError(rc);
  }
  return error::kSuccess;
}

std::uint32_t SqliteRegistry::CreateMountedKeys() {
  std::vector<std::pair<Hive, std::string>> mounted = {{Hive::kLocalMachine, ""},
                                                       {Hive::kLocalMachine, "SOFTWARE"},
                                                       {Hive::kLocalMachine, "SOFTWARE\\Classes"},
                                                       {Hive::kCurrentUser, ""},
                                                       {Hive::kCurrentUser, "Software"}};
  if (windows64_) mounted.emplace_back(Hive::kLocalMachine, "SOFTWARE\\WOW6432Node");
  return Transact(true, [&]() -> std::uint32_t {
    for (const auto& [hive, path] : mounted) {
      KeyPath key;
      std::int64_t id = 0;
      std::uint32_t result = Locate(hive, path, RegView::kView64, key);
      if (result == error::kSuccess) result = EnsureKey(key, id);
      if (result != error::kSuccess) return result;
      mounted_.emplace_back(key.hive, key.Folded());
    }
    return error::kSuccess;
  });
}

std::uint32_t SqliteRegistry::CreateKey(Hive hive, std::string_view path, RegView view) {
  return Transact(true, [&]() -> std::uint32_t {
    KeyPath key;
    std::int64_t id = 0;
    const std::uint32_t result = Locate(hive, path, view, key);
    return result == error::kSuccess ? EnsureKey(key, id) : result;
  });
}

std::uint32_t SqliteRegistry::OpenKey(Hive hive, std::string_view path, RegView view) {
  return OnKey(false, hive, path, view, [](const KeyPath&, std::int64_t) { return error::kSuccess; });
}

std::uint32_t SqliteRegistry::DeleteKey(Hive hive, std::string_view path, RegView view) {
  return OnKey(true, hive, path, view, [&](const KeyPath& key, std::int64_t id) -> std::uint32_t {
    if (IsMounted(key)) return error::kAccessDenied;
    Query children(statements_[kHasSubKeys]);
    children.Bind(1, id);
    const int rc = children.Step();
    if (rc != SQLITE_ROW) return MapSqliteError(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
    if (children.Int(0) != 0) return error::kAccessDenied;
    return MapSqliteError(Query(statements_[kDeleteKeyRow]).Bind(1, id).Step());
  });
}

std::uint32_t SqliteRegistry::DeleteTree(Hive hive, std::string_view path, RegView view) {
  return OnKey(true, hive, path, view, [&](const KeyPath& key, std::int64_t id) -> std::uint32_t {
    if (IsMounted(key)) return error::kAccessDenied;
    const int rc = Query(statements_[kDeleteTree]).Bind(1, key.hive).Bind(2, key.Folded()).Step();
    if (rc != SQLITE_DONE) return MapSqliteError(rc);
    return MapSqliteError(Query(statements_[kDeleteKeyRow]).Bind(1, id).Step());
  });
}

std::uint32_t SqliteRegistry::SetValue(Hive hive, std::string_view path, std::string_view name, RegType type,
                                       std::string_view text, std::uint32_t number, RegView view) {
  if (!IsValidUtf8(name)) return error::kInvalidParameter;  // as for key names
  return OnKey(true, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    Query upsert(statements_[kUpsertValue]);
    upsert.Bind(1, id).Bind(2, FoldCase(name)).Bind(3, name).Bind(4, static_cast<std::int64_t>(type));
    if (type == RegType::kDword) {
      upsert.BindNull(5).Bind(6, static_cast<std::int64_t>(number));
    } else {
      upsert.Bind(5, text).BindNull(6);
    }
    return MapSqliteError(upsert.Step());
  });
}

std::uint32_t SqliteRegistry::SetString(Hive hive, std::string_view path, std::string_view name,
                                        std::string_view text, RegView view) {
  return SetValue(hive, path, name, RegType::kString, text, 0, view);
}

std::uint32_t SqliteRegistry::SetDword(Hive hive, std::string_view path, std::string_view name,
                                       std::uint32_t number, RegView view) {
  return SetValue(hive, path, name, RegType::kDword, {}, number, view);
}

std::uint32_t SqliteRegistry::QueryValue(Hive hive, std::string_view path, std::string_view name,
                                         RegValue& value, RegView view) {
  if (!IsValidUtf8(name)) return error::kInvalidParameter;
  return OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    Query query(statements_[kQueryValue]);
    query.Bind(1, id).Bind(2, FoldCase(name));
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return error::kFileNotFound;
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    value = ReadValue(query);
    return error::kSuccess;
  });
}

std::uint32_t SqliteRegistry::DeleteValue(Hive hive, std::string_view path, std::string_view name,
                                          RegView view) {
  if (!IsValidUtf8(name)) return error::kInvalidParameter;
  return OnKey(true, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    const int rc = Query(statements_[kDeleteValue]).Bind(1, id).Bind(2, FoldCase(name)).Step();
    if (rc != SQLITE_DONE) return MapSqliteError(rc);
    return sqlite3_changes(db_) > 0 ? error::kSuccess : error::kFileNotFound;
  });
}

std::uint32_t SqliteRegistry::EnumKey(Hive hive, std::string_view path, std::uint32_t index, std::string& name,
                                      RegView view) {
  return OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    Query query(statements_[kEnumKey]);
    query.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return error::kNoMoreItems;
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    name = query.Text(0);
    return error::kSuccess;
  });
}

std::uint32_t SqliteRegistry::EnumValue(Hive hive, std::string_view path, std::uint32_t index, RegValue& value,
                                        RegView view) {
  return OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    Query query(statements_[kEnumValue]);
    query.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return error::kNoMoreItems;
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    value = ReadValue(query);
    return error::kSuccess;
  });
}

std::uint32_t SqliteRegistry::ListSubKeys(Hive hive, std::string_view path, std::vector<std::string>& names,
                                          RegView view) {
  names.clear();
  std::vector<std::string> found;
  const std::uint32_t result = OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) {
    Query query(statements_[kListKeys]);
    query.Bind(1, id);
    int rc = SQLITE_ROW;
    while ((rc = query.Step()) == SQLITE_ROW) found.push_back(query.Text(0));
    return MapSqliteError(rc);
  });
  if (result == error::kSuccess) names = std::move(found);
  return result;
}

std::uint32_t SqliteRegistry::ListValues(Hive hive, std::string_view path, std::vector<RegValue>& values,
                                         RegView view) {
  values.clear();
  std::vector<RegValue> found;
  const std::uint32_t result = OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) {
    Query query(statements_[kListValues]);
    query.Bind(1, id);
    int rc = SQLITE_ROW;
    while ((rc = query.Step()) == SQLITE_ROW) found.push_back(ReadValue(query));
    return MapSqliteError(rc);
  });
  if (result == error::kSuccess) values = std::move(found);
  return result;
}

std::uint32_t SqliteRegistry::QueryCounts(Hive hive, std::string_view path, RegKeyCounts& counts, RegView view) {
  return OnKey(false, hive, path, view, [&](const KeyPath&, std::int64_t id) -> std::uint32_t {
    RegKeyCounts found;
    std::uint32_t result = Count(kCountKeys, id, found.sub_keys);
    if (result == error::kSuccess) result = Count(kCountValues, id, found.values);
    if (result == error::kSuccess) counts = found;
    return result;
  });
}

}  // namespace

std::unique_ptr<Registry> OpenRegistryStore(const std::string& database_file, bool windows64,
                                            std::uint32_t* error) {
  auto store = std::make_unique<SqliteRegistry>(windows64);
  const std::uint32_t result = store->Open(database_file);
  if (error != nullptr) *error = result;
  if (result != error::kSuccess) return nullptr;
  return store;
}

}  // namespace orvo::platform
