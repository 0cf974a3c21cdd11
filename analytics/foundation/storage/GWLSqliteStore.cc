#include "analytics/foundation/storage/GWLSqliteStore.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <type_traits>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kArg = kGWLErrorCodeInvalidArgument;
constexpr int64_t kState = kGWLErrorCodeOperationFailed;
constexpr int64_t kSqlite = kGWLErrorCodeStoredData;

// Reports of the store, by code.
constexpr int64_t kNoColumnNameCode = 34003;
constexpr const char* kNoColumnNameMessage = "Failed to get column name";
constexpr int64_t kNilColumnValueCode = 34004;
constexpr const char* kNilColumnValueMessage = "Value is nil for column";
constexpr int64_t kAllRecordsFilteredCode = 34005;
constexpr const char* kAllRecordsFilteredMessage = "Database contains records that were all filtered out";
constexpr int64_t kRollbackAfterExceptionFailedCode = 34009;
constexpr const char* kRollbackAfterExceptionFailedMessage = "Failed to rollback transaction after exception";
constexpr int64_t kRollbackFailedCode = 34011;
constexpr const char* kRollbackFailedMessage = "Failed to rollback transaction";
constexpr int64_t kExcludeFromBackupFailedCode = 34017;
constexpr const char* kExcludeFromBackupFailedMessage = "Failed to exclude database file from backup";
constexpr int64_t kCloseFailedCode = 34018;
constexpr const char* kCloseFailedMessage = "Failed to close database. Got error code";
constexpr int64_t kDeleteFailedCode = 34019;
constexpr const char* kDeleteFailedMessage = "Failed to delete database. Error";
constexpr int64_t kUnexpectedValueTypeCode = 34020;
constexpr const char* kUnexpectedValueTypeMessage = "Record has value of unexpected type";
constexpr int64_t kUnexpectedUpdateValueTypeCode = 34021;
constexpr const char* kUnexpectedUpdateValueTypeMessage = "Record has value of unexpected type (update)";
constexpr int64_t kLastErrorWithoutDatabaseCode = 34022;
constexpr const char* kLastErrorWithoutDatabaseMessage = "Failed to get last error message. Database not open";

void report(int64_t level, int64_t code, const char* message) {
  GWLLibraryMonitor::monitor()->logWithLevel(level, code, std::string(message));
}
void report(int64_t level, int64_t code, const char* message, const GWLLogContext& context) {
  GWLLibraryMonitor::monitor()->logWithLevel(level, code, std::string(message), context);
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}
std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

bool isDamage(int resultCode) {
  const int primary = resultCode & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// Frees a statement from prepareSQL when the scope ends.
struct Finalizer {
  sqlite3_stmt* statement;
  ~Finalizer() { sqlite3_finalize(statement); }
};

std::atomic<size_t>& statementIDCount() {
  static std::atomic<size_t> count{0};
  return count;
}

}  // namespace

GWLStatementID::GWLStatementID(std::string sql) : sql_(std::move(sql)), index_(statementIDCount().fetch_add(1)) {}

namespace {

// Every transaction runs these; they are prepared once per connection instead
// of being parsed by sqlite3_exec each time.
const GWLStatementID kBeginExclusiveTransaction("BEGIN EXCLUSIVE TRANSACTION");
const GWLStatementID kEndTransaction("END TRANSACTION");
const GWLStatementID kRollbackTransaction("ROLLBACK");

}  // namespace

std::unique_ptr<GWLSqliteStore> GWLSqliteStore::initWithDatabasePath(const std::string& path, platform::Error* error) {
  if (path.empty()) {
    GWLSetError(error, kArg, "Received empty database path on init");
    return nullptr;
  }
  std::unique_ptr<GWLSqliteStore> store(new GWLSqliteStore(path));
  platform::Error local;
  if (store->openAndValidateDatabase(&local)) return store;
  // Only a file that is not a database or is damaged is replaced; a busy or
  // locked file, a full disk or a missing permission keep it for a later try.
  if (store->lastOpenFailureWasDamage_ && store->closeAndDeleteDatabase()) {
    local = platform::Error();
    if (store->openAndValidateDatabase(&local)) return store;
  }
  platform::setError(error, local);
  return nullptr;
}

GWLSqliteStore::~GWLSqliteStore() { closeDatabase(); }

bool GWLSqliteStore::isOpen(platform::Error* error, const std::string& message) const {
  if (handle_) return true;
  GWLSetError(error, kState, message);
  return false;
}

// ---- connection ----

bool GWLSqliteStore::closeAndDeleteDatabase() {
  closeDatabase();
  bool removed = true;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string file = databasePath_ + suffix;
    std::error_code ec;
    if (!fs::exists(file, ec)) continue;
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ec);
    if (!fs::remove(file, ec) && ec) {
      report(kGWLLevelErrorSampled, kDeleteFailedCode, kDeleteFailedMessage,
             platform::posixError(ec.value(), "cannot delete " + file));
      removed = false;
    }
  }
  return removed;
}

bool GWLSqliteStore::openAndValidateDatabase(platform::Error* error) {
  lastOpenFailureWasDamage_ = false;
  std::error_code ec;
  const fs::path path(databasePath_);
  if (fs::exists(path, ec)) {
    const auto status = fs::status(path, ec);
    if (ec) {
      platform::setError(error, platform::posixError(ec.value(), "cannot read the attributes of " + databasePath_));
      return false;
    }
    // A file made read-only is made writable again before opening.
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) {
      fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
      if (ec) {
        platform::setError(error, platform::posixError(ec.value(), "cannot make " + databasePath_ + " writable"));
        return false;
      }
    }
  } else if (path.has_parent_path()) {
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
      platform::setError(error, platform::posixError(ec.value(), "cannot create the directory of " + databasePath_));
      return false;
    }
  }
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  const int result = sqlite3_open_v2(databasePath_.c_str(), &handle_, flags, nullptr);
  if (result != SQLITE_OK) {
    setDatabaseError(error, "initialize sqlite handle");
    lastOpenFailureWasDamage_ = isDamage(result);
    closeDatabase();
    return false;
  }
  sqlite3_extended_result_codes(handle_, 0);
  platform::Error backupError;
  if (!GWLExcludePathFromBackup(databasePath_, &backupError)) {
    report(kGWLLevelWarningSampled, kExcludeFromBackupFailedCode, kExcludeFromBackupFailedMessage, backupError);
  }
  if (!validateDatabaseWithError(error)) {
    closeDatabase();
    return false;
  }
  // Write-ahead log with synchronous=NORMAL: one write per commit and no
  // fsync; a failure here keeps the file's own mode, which is still sound.
  sqlite3_exec(handle_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(handle_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  return true;
}

bool GWLSqliteStore::validateDatabaseWithError(platform::Error* error) {
  if (!isOpen(error, "Validate database failed. Database not open.")) return false;
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(handle_, "PRAGMA integrity_check", -1, &statement, nullptr);
  bool valid = false;
  if (result == SQLITE_OK) {
    result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      valid = sqlite3_column_count(statement) == 1 && text && std::string(reinterpret_cast<const char*>(text)) == "ok";
    }
  }
  if (!valid) {
    // A row other than "ok" lists damage the check found.
    lastOpenFailureWasDamage_ = result == SQLITE_ROW || isDamage(result) || isDamage(sqlite3_errcode(handle_));
    setDatabaseError(error, "validate database");
  }
  sqlite3_finalize(statement);
  return valid;
}

void GWLSqliteStore::closeDatabase() {
  if (!handle_) return;
  finalizeAndClearStatements();
  const int result = sqlite3_close(handle_);
  if (result != SQLITE_OK) {
    report(kGWLLevelErrorSampled, kCloseFailedCode, kCloseFailedMessage, result);
    sqlite3_close_v2(handle_);
  }
  handle_ = nullptr;
}

void GWLSqliteStore::finalizeAndClearStatements() {
  for (auto& [sql, cached] : statementCache_) sqlite3_finalize(cached.statement);
  statementCache_.clear();
  for (sqlite3_stmt* statement : statementsByID_) sqlite3_finalize(statement);
  statementsByID_.clear();
}

// ---- tables ----

bool GWLSqliteStore::ensureTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                                         const GWLColumnInfo& addOnColumnInfo, platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for ensure table");
  if (elementaryColumnInfo.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty elementary column info for ensure table");
  }
  std::string create = "CREATE TABLE IF NOT EXISTS " + table + " ( ";
  std::vector<std::string> required;
  for (const auto& [name, definition] : elementaryColumnInfo) {
    create += name + " " + definition + ", ";
    if (name != "PRIMARY KEY") required.push_back(name);
  }
  create.resize(create.size() - 2);
  create += ");";
  std::vector<std::pair<std::string, std::string>> alters;
  for (const auto& [name, definition] : addOnColumnInfo) {
    if (name.empty()) continue;
    alters.emplace_back(name, "ALTER TABLE " + table + " ADD COLUMN " + name + " " + definition);
  }
  return ensureTableWithName(table, create, required, alters, error);
}

bool GWLSqliteStore::ensureTableWithName(const std::string& table, const std::string& createSQL,
                                         const std::vector<std::string>& requiredColumnNames,
                                         const std::vector<std::pair<std::string, std::string>>& addOnColumns,
                                         platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for ensure table");
  if (requiredColumnNames.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received no table columns for ensure table");
  }
  if (createSQL.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty create statement for ensure table");
  }
  if (!isOpen(error, "Ensure table failed. Database not open.")) return false;
  const std::optional<bool> exists = tableExists(table, error);
  if (!exists) return false;
  if (!*exists && !executeSQL(createSQL, error)) return false;
  const std::optional<bool> valid = validateTableWithName(table, requiredColumnNames, addOnColumns, error);
  return valid.value_or(false);
}

std::optional<bool> GWLSqliteStore::validateTableWithName(
    const std::string& table, const std::vector<std::string>& requiredColumnNames,
    const std::vector<std::pair<std::string, std::string>>& addOnColumns, platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for validate table");
    return std::nullopt;
  }
  if (requiredColumnNames.empty()) {
    GWLSetError(error, kArg, "Received no table columns for validate table");
    return std::nullopt;
  }
  if (!isOpen(error, "Validate table failed. Database not open.")) return std::nullopt;
  auto columns = columnsForTableWithName(table, error);
  if (!columns) return std::nullopt;
  if (columns->empty()) {
    GWLSetError(error, kState, "Table does not exist for validate table");
    return std::nullopt;
  }
  std::set<std::string> unknown(columns->begin(), columns->end());
  for (const auto& name : requiredColumnNames) {
    if (!unknown.count(name)) {
      GWLSetError(error, kState, "Table is missing required columns");
      return false;
    }
    unknown.erase(name);
  }
  const std::set<std::string> present(columns->begin(), columns->end());
  for (const auto& [name, alter] : addOnColumns) {
    if (present.count(name)) {
      unknown.erase(name);
      continue;
    }
    if (!executeSQL(alter, error)) return false;
  }
  if (!unknown.empty()) {
    auto rows = recordsForQuery("SELECT name, \"notnull\" FROM pragma_table_info(?)", {table}, error);
    if (!rows) return std::nullopt;
    for (const auto& row : *rows) {
      const platform::Object* name = row.count("name") ? &row.at("name") : nullptr;
      const platform::Object* notNull = row.count("notnull") ? &row.at("notnull") : nullptr;
      if (name && name->stringValue() && unknown.count(*name->stringValue()) && notNull &&
          notNull->intValue().value_or(0) != 0) {
        GWLSetError(error, kState, "Table contains unknown non-optional columns");
        return false;
      }
    }
  }
  return true;
}

bool GWLSqliteStore::ensureTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                                         const GWLColumnInfo& addOnColumnInfo,
                                         const GWLModifyColumnInfo& modifyColumnInfo, platform::Error* error) {
  if (!ensureTableWithName(table, elementaryColumnInfo, addOnColumnInfo, error)) return false;
  if (modifyColumnInfo.empty()) return true;
  auto rewrite = [&](const GWLColumnInfo& info) {
    GWLColumnInfo rewritten;
    for (const auto& [name, definition] : info) {
      auto modified = modifyColumnInfo.find(name);
      rewritten.emplace_back(name, modified == modifyColumnInfo.end() ? definition : modified->second);
    }
    return rewritten;
  };
  return ensureSchemaOfTableWithName(table, rewrite(elementaryColumnInfo), rewrite(addOnColumnInfo), error);
}

bool GWLSqliteStore::ensureSchemaOfTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                                                 const GWLColumnInfo& addOnColumnInfo, platform::Error* error) {
  if (table.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for ensure table schema");
  }
  if (elementaryColumnInfo.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty column info for ensure table schema");
  }
  auto actual = columnInfoForTableWithName(table, error);
  if (!actual) return false;
  if (actual->empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kState, "Table does not exist for ensure table schema");
  }
  std::map<std::string, std::string> expected;
  for (const auto& [name, definition] : elementaryColumnInfo) {
    if (name == "PRIMARY KEY" || name.empty() || definition.empty()) continue;
    expected[name] = upper(definition.substr(0, definition.find(' ')));
  }
  for (const auto& [name, definition] : addOnColumnInfo) {
    if (name.empty() || definition.empty()) continue;
    expected[name] = upper(definition.substr(0, definition.find(' ')));
  }
  std::map<std::string, std::string> declared;
  for (const auto& [name, type] : *actual) declared[name] = upper(type);
  if (declared == expected) return true;
  return migrateTable(table, elementaryColumnInfo, addOnColumnInfo, error);
}

// Rebuilds a table with new column definitions inside one transaction. The
// new table keeps every constraint of the description (its primary key
// included), and the rows are copied by column name with their row ids.
bool GWLSqliteStore::migrateTable(const std::string& table, const GWLColumnInfo& elementary,
                                  const GWLColumnInfo& addOn, platform::Error* error) {
  const std::string old = table + "_old";
  platform::Error stepError;
  const bool migrated = performTransactionWithError(error, [&] {
    auto oldExists = tableExists(old, &stepError);
    if (!oldExists) return false;
    if (*oldExists && !dropTableWithName(old, &stepError)) return false;
    return renameTable(table, old, &stepError) && ensureTableWithName(table, elementary, addOn, &stepError) &&
           copyContentsFromTable(old, table, &stepError) && dropTableWithName(old, &stepError);
  });
  if (!migrated && !stepError.description.empty() && error) error->description += ": " + stepError.description;
  return migrated;
}

bool GWLSqliteStore::dropTableWithName(const std::string& table, platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for drop table");
  return executeSQL("DROP TABLE " + table, error);
}

bool GWLSqliteStore::renameTable(const std::string& oldName, const std::string& newName, platform::Error* error) {
  if (oldName.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty old name for rename table");
  if (newName.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty new name for rename table");
  if (oldName == newName) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received duplicate name for rename table");
  }
  return executeSQL("ALTER TABLE " + oldName + " RENAME TO " + newName, error);
}

bool GWLSqliteStore::copyContentsFromTable(const std::string& source, const std::string& destination,
                                           platform::Error* error) {
  if (source.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty source name for copy table");
  if (destination.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty destination name for copy table");
  }
  if (source == destination) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received duplicate name for copy table");
  }
  auto sourceColumns = columnsForTableWithName(source, error);
  auto destinationInfo =
      sourceColumns ? recordsForQuery("SELECT name, type, pk FROM pragma_table_info(?)", {destination}, error)
                    : std::nullopt;
  if (!destinationInfo) return false;
  const std::set<std::string> available(sourceColumns->begin(), sourceColumns->end());
  std::string columns;
  int keyColumns = 0;
  bool integerKey = false;
  for (const auto& row : *destinationInfo) {
    const std::string* name = row.count("name") ? row.at("name").stringValue() : nullptr;
    const int64_t pk = row.count("pk") ? row.at("pk").intValue().value_or(0) : 0;
    if (pk > 0) {
      ++keyColumns;
      const std::string* type = row.count("type") ? row.at("type").stringValue() : nullptr;
      integerKey = type && upper(*type) == "INTEGER";
    }
    if (name && available.count(*name)) columns += (columns.empty() ? "" : ", ") + *name;
  }
  if (columns.empty()) return GWLSetErrorUnlessSuccess(false, error, kState, "No common columns for copy table");
  // Row ids are copied too, unless an INTEGER PRIMARY KEY column already is the row id.
  const std::string list = (keyColumns == 1 && integerKey) ? columns : "rowid, " + columns;
  return executeSQL("INSERT INTO " + destination + " (" + list + ") SELECT " + list + " FROM " + source, error);
}

bool GWLSqliteStore::createEmptyTable(const std::string& table, const std::string& source, platform::Error* error) {
  if (source.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty source name for create empty copy");
  }
  if (table.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty destination name for create empty copy");
  }
  if (source == table) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received duplicate name for create empty copy");
  }
  return executeSQL("CREATE TABLE IF NOT EXISTS " + table + " AS SELECT * FROM " + source + " WHERE false", error);
}

std::optional<bool> GWLSqliteStore::tableExists(const std::string& table, platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for table exists");
    return std::nullopt;
  }
  if (!isOpen(error, "Table exists failed. Database not open.")) return std::nullopt;
  sqlite3_stmt* statement = prepareSQL("SELECT name FROM sqlite_master WHERE type='table' AND name=?", error);
  if (!statement) return std::nullopt;
  Finalizer finalizer{statement};
  if (!bindValues({table}, statement, error)) return std::nullopt;
  const int result = sqlite3_step(statement);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  setDatabaseError(error, "execute statement");
  return std::nullopt;
}

std::optional<int64_t> GWLSqliteStore::rowCountForTableWithName(const std::string& table, platform::Error* error) {
  return rowCountForTableWithName(table, std::string(), std::nullopt, error);
}

std::optional<int64_t> GWLSqliteStore::rowCountForTableWithName(const std::string& table, const std::string& columnName,
                                                                const std::optional<platform::Object>& columnValue,
                                                                platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for row count");
    return std::nullopt;
  }
  if (!isOpen(error, "Row count failed. Database not open.")) return std::nullopt;
  std::string query = "SELECT count(1) FROM " + table;
  platform::Array parameters;
  if (columnValue && !columnName.empty()) {
    query += " WHERE " + columnName + "=?";
    parameters.push_back(*columnValue);
  }
  platform::Error local;
  auto number = numberForQuery(query, parameters, &local);
  if (!number || !number->intValue()) {
    if (local.domain.empty()) GWLSetError(&local, kSqlite, "Row count gave no number");
    platform::setError(error, local);
    return std::nullopt;
  }
  return *number->intValue();
}

std::optional<std::vector<std::string>> GWLSqliteStore::columnsForTableWithName(const std::string& table,
                                                                                platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for get columns");
    return std::nullopt;
  }
  if (!isOpen(error, "Get table columns failed. Database not open.")) return std::nullopt;
  auto rows = recordsForQuery("SELECT name FROM pragma_table_info(?)", {table}, error);
  if (!rows) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& row : *rows) {
    auto it = row.find("name");
    if (it != row.end() && it->second.stringValue() && !it->second.stringValue()->empty()) {
      names.push_back(*it->second.stringValue());
    }
  }
  return names;
}

std::optional<std::map<std::string, std::string>> GWLSqliteStore::columnInfoForTableWithName(const std::string& table,
                                                                                             platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for column info");
    return std::nullopt;
  }
  if (!isOpen(error, "Get table column info failed. Database not open.")) return std::nullopt;
  auto rows = recordsForQuery("SELECT name, type FROM pragma_table_info(?)", {table}, error);
  if (!rows) return std::nullopt;
  std::map<std::string, std::string> info;
  for (const auto& row : *rows) {
    auto name = row.find("name");
    auto type = row.find("type");
    if (name == row.end() || !name->second.stringValue()) continue;
    info[*name->second.stringValue()] =
        type != row.end() && type->second.stringValue() ? *type->second.stringValue() : std::string();
  }
  return info;
}

// ---- records ----

namespace {
// Steps a statement that must finish in one step.
bool stepToDone(GWLSqliteStore& store, sqlite3_stmt* statement, const std::string& query, const char* operation,
                platform::Error* error) {
  const int result = sqlite3_step(statement);
  if (result != SQLITE_DONE) store.setDatabaseError(error, operation);
  store.cleanUpStatement(statement, query);
  return result == SQLITE_DONE;
}
}  // namespace

namespace {
bool isStorable(const platform::Object& value) {
  return value.isString() || value.isInt() || value.isBool() || value.isDouble() || value.isBytes() ||
         value.isNull();
}

// The INSERT OR REPLACE text for the record's columns, with the record's
// values in column order put in `values`; nullopt when a value cannot be stored.
std::optional<std::string> upsertQuery(const platform::Dictionary& record, const std::string& table,
                                       platform::Array& values) {
  std::string columns;
  std::string placeholders;
  for (const auto& [key, value] : record) {
    if (!isStorable(value)) return std::nullopt;
    columns += (columns.empty() ? "" : ", ") + key;
    placeholders += placeholders.empty() ? "?" : ", ?";
    values.push_back(value);
  }
  return "INSERT OR REPLACE INTO " + table + " (" + columns + ") VALUES (" + placeholders + ");";
}

// A new statement for `sql` with `values` bound; the caller finalizes it.
sqlite3_stmt* preparedStatementWithValues(GWLSqliteStore& store, const std::string& sql,
                                          const platform::Array& values, platform::Error* error) {
  sqlite3_stmt* statement = store.prepareSQL(sql, error);
  if (!statement) return nullptr;
  if (!store.bindValues(values, statement, error)) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}
}  // namespace

sqlite3_stmt* GWLSqliteStore::upsertStatementForRecord(const platform::Dictionary& record, const std::string& table,
                                                       platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for upsert");
    return nullptr;
  }
  if (record.empty()) {
    GWLSetError(error, kArg, "Received empty record for upsert");
    return nullptr;
  }
  platform::Array values;
  const auto query = upsertQuery(record, table, values);
  if (!query) {
    report(kGWLLevelWarningSampled, kUnexpectedValueTypeCode, kUnexpectedValueTypeMessage);
    GWLSetError(error, kArg, "Failed to bind parameter of unexpected type to upsert statement");
    return nullptr;
  }
  return preparedStatementWithValues(*this, *query, values, error);
}

bool GWLSqliteStore::upsertRecord(const platform::Dictionary& record, const std::string& table,
                                  platform::Error* error) {
  if (record.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty record for upsert");
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for upsert");
  if (!isOpen(error, "Upsert record failed. Database not open.")) return false;
  // The text depends only on the table and the record's columns, so its
  // statement is prepared once per connection and reused.
  platform::Array values;
  const auto query = upsertQuery(record, table, values);
  if (!query) {
    report(kGWLLevelWarningSampled, kUnexpectedValueTypeCode, kUnexpectedValueTypeMessage);
    return GWLSetErrorUnlessSuccess(false, error, kArg,
                                    "Failed to bind parameter of unexpected type to upsert statement");
  }
  sqlite3_stmt* statement = statementForQuery(*query, values, error);
  return statement && stepToDone(*this, statement, *query, "execute statement", error);
}

bool GWLSqliteStore::upsertRecord(const GWLStatementID& id, std::initializer_list<GWLBindValue> values,
                                  platform::Error* error) {
  if (values.size() == 0) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty record for upsert");
  if (!isOpen(error, "Upsert record failed. Database not open.")) return false;
  sqlite3_stmt* statement = statementForID(id, error);
  if (!statement) return false;
  int index = 0;
  for (const GWLBindValue& value : values) {
    ++index;
    const int result = std::visit(
        [&](const auto& v) -> int {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            return sqlite3_bind_null(statement, index);
          } else if constexpr (std::is_same_v<T, int64_t>) {
            return sqlite3_bind_int64(statement, index, v);
          } else if constexpr (std::is_same_v<T, double>) {
            return sqlite3_bind_double(statement, index, v);
          } else if constexpr (std::is_same_v<T, std::string_view>) {
            // Empty text is text, not NULL.
            return sqlite3_bind_text64(statement, index, v.data() ? v.data() : "", v.size(), SQLITE_STATIC,
                                       SQLITE_UTF8);
          } else {
            return sqlite3_bind_blob64(statement, index, v.data(), v.size(), SQLITE_STATIC);
          }
        },
        value);
    if (result != SQLITE_OK) {
      setDatabaseError(error, "bind values");
      sqlite3_clear_bindings(statement);
      return false;
    }
  }
  const int result = sqlite3_step(statement);
  if (result != SQLITE_DONE) setDatabaseError(error, "execute statement");
  // The bound text and blobs are the caller's: nothing may point at them once
  // this returns.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return result == SQLITE_DONE;
}

sqlite3_stmt* GWLSqliteStore::updateStatementForRecord(const platform::Dictionary& record, const std::string& table,
                                                       const std::string& columnName,
                                                       const std::optional<platform::Object>& columnValue,
                                                       platform::Error* error) {
  if (record.empty()) {
    GWLSetError(error, kArg, "Empty record for update");
    return nullptr;
  }
  if (table.empty()) {
    GWLSetError(error, kArg, "Empty table name for update");
    return nullptr;
  }
  if (columnName.empty()) {
    GWLSetError(error, kArg, "Empty column name for update");
    return nullptr;
  }
  if (!columnValue) {
    GWLSetError(error, kArg, "Nil column value for update");
    return nullptr;
  }
  std::string assignments;
  platform::Array values;
  for (const auto& [key, value] : record) {
    if (!isStorable(value)) {
      report(kGWLLevelWarningSampled, kUnexpectedUpdateValueTypeCode, kUnexpectedUpdateValueTypeMessage);
      GWLSetError(error, kArg, "Failed to bind parameter of unexpected type to update statement");
      return nullptr;
    }
    assignments += (assignments.empty() ? "" : ",") + key + "=?";
    values.push_back(value);
  }
  values.push_back(*columnValue);
  return preparedStatementWithValues(*this, "UPDATE " + table + " SET " + assignments + " WHERE " + columnName + "=?",
                                     values, error);
}

bool GWLSqliteStore::updateRecord(const platform::Dictionary& record, const std::string& table,
                                  const std::string& columnName, const std::optional<platform::Object>& columnValue,
                                  platform::Error* error) {
  if (record.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty record for update");
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty table name for update");
  if (columnName.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty column name for update");
  if (!columnValue) return GWLSetErrorUnlessSuccess(false, error, kArg, "Nil column value for update");
  if (!isOpen(error, "Update record failed. Database not open.")) return false;
  sqlite3_stmt* statement = updateStatementForRecord(record, table, columnName, columnValue, error);
  return statement && executeSQLStatement(statement, error);
}


bool GWLSqliteStore::updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                                     const std::optional<platform::Object>& columnValue,
                                                     platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty table name for update");
  if (columnName.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty column name for update");
  if (!columnValue) return GWLSetErrorUnlessSuccess(false, error, kArg, "Nil column value for update");
  if (!isOpen(error, "Update record failed. Database not open.")) return false;
  const std::string query = "UPDATE " + table + " SET " + columnName + "=?";
  sqlite3_stmt* statement = statementForQuery(query, {*columnValue}, error);
  return statement && stepToDone(*this, statement, query, "update all records value", error);
}

bool GWLSqliteStore::increaseColumn(const std::string& column, int64_t amount, const std::string& table,
                                    const std::string& condition, const platform::Array& parameterValues,
                                    platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty table name for increase column");
  if (column.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty column name for increase column");
  if (condition.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Empty condition for increase column");
  if (!isOpen(error, "Increase column failed. Database not open.")) return false;
  auto info = columnInfoForTableWithName(table, error);
  if (!info) return false;
  auto type = info->find(column);
  if (type == info->end()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Invalid column or table name");
  if (upper(type->second) != "INTEGER") {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Column type is not integer.");
  }
  const std::string query = "UPDATE " + table + " SET " + column + " = " + column + " + " + std::to_string(amount) +
                            " WHERE " + condition;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  return statement && stepToDone(*this, statement, query, "increase records value", error);
}

bool GWLSqliteStore::deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                                   const std::optional<platform::Object>& columnValue,
                                                   platform::Error* error) {
  if (table.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for delete record");
  if (columnName.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty column for delete record");
  if (!columnValue) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received nil value for delete record");
  if (!isOpen(error, "Delete record failed. Database not open.")) return false;
  sqlite3_stmt* statement = prepareSQL("DELETE FROM " + table + " WHERE " + columnName + "=?", error);
  if (!statement) return false;
  Finalizer finalizer{statement};
  if (!bindValues({*columnValue}, statement, error)) return false;
  if (sqlite3_step(statement) != SQLITE_DONE) {
    setDatabaseError(error, "delete record");
    return false;
  }
  return true;
}

std::optional<int64_t> GWLSqliteStore::deleteRecordsFromTableWithName(const std::string& table,
                                                                      const std::string& condition,
                                                                      const platform::Array& parameterValues,
                                                                      platform::Error* error) {
  if (table.empty()) {
    GWLSetError(error, kArg, "Received empty table name for delete record");
    return std::nullopt;
  }
  if (condition.empty()) {
    GWLSetError(error, kArg, "Received empty condition for delete record");
    return std::nullopt;
  }
  if (!isOpen(error, "Delete records with condition failed. Database not open.")) return std::nullopt;
  const std::string query = "DELETE FROM " + table + " WHERE " + condition;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (!statement) return std::nullopt;
  if (!stepToDone(*this, statement, query, "delete records with condition", error)) return std::nullopt;
  return sqlite3_changes(handle_);
}

bool GWLSqliteStore::deleteAllRecordsFromTableWithName(const std::string& table, platform::Error* error) {
  if (table.empty()) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty table name for delete all records");
  }
  if (!isOpen(error, "Delete all records failed. Database not open.")) return false;
  const std::string query = "DELETE FROM " + table;
  sqlite3_stmt* statement = statementForQuery(query, error);
  return statement && stepToDone(*this, statement, query, "delete all records", error);
}

// ---- queries ----

std::optional<std::vector<platform::Dictionary>> GWLSqliteStore::recordsForQuery(
    const std::string& query, const platform::Array& parameterValues, platform::Error* error) {
  return recordsForQuery(query, parameterValues, error, [](size_t, const platform::Dictionary&) { return true; });
}

bool GWLSqliteStore::readRows(sqlite3_stmt* statement, const GWLRowFilter& filter,
                              std::vector<platform::Dictionary>& rows) {
  bool sawRow = false;
  int result;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
    sawRow = true;
    platform::Dictionary row;
    const int count = sqlite3_column_count(statement);
    for (int column = 0; column < count; ++column) {
      const char* name = sqlite3_column_name(statement, column);
      if (!name) {
        report(kGWLLevelWarningSampled, kNoColumnNameCode, kNoColumnNameMessage);
        continue;
      }
      auto value = valueAtColumn(column, statement);
      if (!value) {
        report(kGWLLevelWarningSampled, kNilColumnValueCode, kNilColumnValueMessage, std::string(name));
        continue;
      }
      row.insert_or_assign(name, std::move(*value));
    }
    if (!filter(rows.size(), row)) {
      result = SQLITE_DONE;
      break;
    }
    rows.push_back(std::move(row));
  }
  if (sawRow && rows.empty()) report(kGWLLevelWarningSampled, kAllRecordsFilteredCode, kAllRecordsFilteredMessage);
  return result == SQLITE_DONE;
}

std::optional<std::vector<platform::Dictionary>> GWLSqliteStore::recordsForQuery(
    const std::string& query, const platform::Array& parameterValues, platform::Error* error,
    const GWLRowFilter& filter) {
  if (query.empty()) {
    GWLSetError(error, kArg, "Received empty query for records for query");
    return std::nullopt;
  }
  if (!filter) {
    GWLSetError(error, kArg, "Received empty filter for selecting records");
    return std::nullopt;
  }
  if (!isOpen(error, "Query records failed. Database not open.")) return std::nullopt;
  if (lower(query.substr(0, 6)) != "select") {
    GWLSetError(error, kArg, "Received invalid select query");
    return std::nullopt;
  }
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (!statement) return std::nullopt;
  std::vector<platform::Dictionary> rows;
  const bool complete = readRows(statement, filter, rows);
  // A read that fails part way answers a failure, never the rows before it.
  if (!complete) setDatabaseError(error, "execute statement");
  cleanUpStatement(statement, query);
  if (!complete) return std::nullopt;
  return rows;
}

std::optional<platform::Object> GWLSqliteStore::numberForQuery(const std::string& query,
                                                               const platform::Array& parameterValues,
                                                               platform::Error* error) {
  if (query.empty()) {
    GWLSetError(error, kArg, "Received empty query to get numeric result");
    return std::nullopt;
  }
  if (!isOpen(error, "Query numeric result failed. Database not open.")) return std::nullopt;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (!statement) return std::nullopt;
  std::optional<platform::Object> answer;
  const int result = sqlite3_step(statement);
  if (result == SQLITE_ROW) {
    auto value = valueAtColumn(0, statement);
    if (value && value->isNumber()) {
      answer = *value;
    } else if (!value || !value->isNull()) {
      GWLSetError(error, kArg, "Found result that was not numeric");
    }
  } else {
    setDatabaseError(error, "query numeric result");
  }
  cleanUpStatement(statement, query);
  return answer;
}

// ---- transactions ----

bool GWLSqliteStore::performTransactionWithError(platform::Error* error, const std::function<bool()>& block) {
  if (!block) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received nil transaction block");
  if (!isOpen(error, "Database not open")) return false;
  if (!beginTransaction()) {
    GWLSetErrorWithMonitorContext(error, kSqlite, "Failed to begin transaction",
                                  monitorContextForDatabaseOperation("begin transaction"));
    return false;
  }
  bool succeeded;
  try {
    succeeded = block();
  } catch (...) {
    if (!rollbackTransaction()) {
      report(kGWLLevelErrorSampled, kRollbackAfterExceptionFailedCode, kRollbackAfterExceptionFailedMessage);
    }
    throw;
  }
  if (!succeeded) {
    GWLSetError(error, kSqlite, "Transaction failed");
    if (!rollbackTransaction()) report(kGWLLevelErrorSampled, kRollbackFailedCode, kRollbackFailedMessage);
    return false;
  }
  if (!endTransaction()) {
    // A commit that did not happen leaves nothing half-written behind.
    GWLSetErrorWithMonitorContext(error, kSqlite, "Failed to end transaction",
                                  monitorContextForDatabaseOperation("end transaction"));
    if (!rollbackTransaction()) report(kGWLLevelErrorSampled, kRollbackFailedCode, kRollbackFailedMessage);
    return false;
  }
  return true;
}

bool GWLSqliteStore::beginTransaction() { return handle_ && runStatementForID(kBeginExclusiveTransaction); }

bool GWLSqliteStore::endTransaction() { return handle_ && runStatementForID(kEndTransaction); }

bool GWLSqliteStore::rollbackTransaction() {
  if (!handle_) return false;
  if (sqlite3_get_autocommit(handle_)) return true;  // SQLite already rolled it back
  return runStatementForID(kRollbackTransaction);
}

// ---- statements ----

sqlite3_stmt* GWLSqliteStore::statementForID(const GWLStatementID& id, platform::Error* error) {
  if (id.index() >= statementsByID_.size()) statementsByID_.resize(id.index() + 1, nullptr);
  sqlite3_stmt*& statement = statementsByID_[id.index()];
  if (!statement) statement = prepareSQL(id.sql(), error);
  return statement;
}

bool GWLSqliteStore::runStatementForID(const GWLStatementID& id) {
  sqlite3_stmt* statement = statementForID(id, nullptr);
  if (!statement) return false;
  const int result = sqlite3_step(statement);
  sqlite3_reset(statement);
  return result == SQLITE_DONE;
}

sqlite3_stmt* GWLSqliteStore::statementForQuery(const std::string& query, platform::Error* error) {
  return statementForQuery(query, platform::Array{}, error);
}

sqlite3_stmt* GWLSqliteStore::statementForQuery(const std::string& query, const platform::Array& parameterValues,
                                                platform::Error* error) {
  if (!isOpen(error, "Statement for query failed. Database not open.")) return nullptr;
  auto cached = statementCache_.find(query);
  sqlite3_stmt* statement = nullptr;
  bool cache = false;
  if (cached != statementCache_.end() && !cached->second.inUse) {
    statement = cached->second.statement;
    cached->second.inUse = true;
  } else {
    const bool hasPlaceholder = query.find('?') != std::string::npos;
    if (hasPlaceholder && parameterValues.empty()) {
      GWLSetError(error, kArg, "Received empty parameters");
      return nullptr;
    }
    statement = prepareSQL(query, error);
    if (!statement) return nullptr;
    // A statement already serving a running iteration is never reset under
    // it: a second use of the same text gets a statement of its own.
    cache = cached == statementCache_.end() &&
            (hasPlaceholder || lower(query).find("where") == std::string::npos);
    if (cache) statementCache_[query] = CachedStatement{statement, true};
  }
  if (!parameterValues.empty() && !bindValues(parameterValues, statement, error)) {
    cleanUpStatement(statement, query);
    return nullptr;
  }
  return statement;
}

void GWLSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const std::string& query) {
  if (!statement) return;
  auto cached = statementCache_.find(query);
  if (cached != statementCache_.end() && cached->second.statement == statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    cached->second.inUse = false;
    return;
  }
  sqlite3_finalize(statement);
}

sqlite3_stmt* GWLSqliteStore::prepareSQL(const std::string& sql, platform::Error* error) {
  if (sql.empty()) {
    GWLSetError(error, kArg, "Received empty SQL string to prepare");
    return nullptr;
  }
  if (!isOpen(error, "Prepare SQL failed. Database not open.")) return nullptr;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v3(handle_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, &tail) != SQLITE_OK) {
    setDatabaseError(error, "prepare statement");
    sqlite3_finalize(statement);
    return nullptr;
  }
  if (tail) {
    while (*tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
  }
  if (tail && *tail) {
    sqlite3_finalize(statement);
    GWLSetError(error, kArg, "Query contained more than one SQL statement.");
    return nullptr;
  }
  if (!statement) {  // only whitespace or a comment
    GWLSetError(error, kArg, "Received empty SQL string to prepare");
    return nullptr;
  }
  return statement;
}

bool GWLSqliteStore::executeSQL(const std::string& sql, platform::Error* error) {
  if (sql.empty()) return GWLSetErrorUnlessSuccess(false, error, kArg, "Received empty SQL string to execute");
  if (!isOpen(error, "Execute SQL failed. Database not open.")) return false;
  sqlite3_stmt* statement = prepareSQL(sql, error);
  return statement && executeSQLStatement(statement, error);
}

bool GWLSqliteStore::executeSQLStatement(sqlite3_stmt* statement, platform::Error* error) {
  if (!statement) {
    return GWLSetErrorUnlessSuccess(false, error, kArg, "Execute SQL statement failed. Statement is NULL.");
  }
  Finalizer finalizer{statement};
  if (!isOpen(error, "Execute SQL statement failed. Database not open.")) return false;
  if (sqlite3_step(statement) != SQLITE_DONE) {
    setDatabaseError(error, "execute statement");
    return false;
  }
  return true;
}

bool GWLSqliteStore::bindValues(const platform::Array& values, sqlite3_stmt* statement, platform::Error* error) {
  if (!statement) return GWLSetErrorUnlessSuccess(false, error, kArg, "Failed to bind to NULL statement");
  sqlite3_clear_bindings(statement);
  bool bound = true;
  for (size_t i = 0; i < values.size(); ++i) {
    const platform::Object& value = values[i];
    const int index = static_cast<int>(i + 1);
    int result = SQLITE_ERROR;
    if (const auto* bytes = value.bytesValue()) {
      // Copied: the statement may outlive the caller's buffer (a cached one
      // stays prepared), and a blob it points to must never dangle.
      result = sqlite3_bind_blob64(statement, index, bytes->data(), bytes->size(), SQLITE_TRANSIENT);
    } else if (value.isDouble()) {
      result = sqlite3_bind_double(statement, index, *value.doubleValue());
    } else if (value.isInt()) {
      result = sqlite3_bind_int64(statement, index, *value.intValue());
    } else if (value.isBool()) {
      result = sqlite3_bind_int64(statement, index, *value.boolValue() ? 1 : 0);
    } else if (const auto* text = value.stringValue()) {
      result = sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (value.isNull()) {
      result = sqlite3_bind_null(statement, index);
    }
    if (result != SQLITE_OK) {
      bound = false;
      if (handle_ && sqlite3_errcode(handle_) != SQLITE_OK) {
        setDatabaseError(error, "bind values");
      } else {
        GWLSetErrorWithMonitorContext(error, kSqlite, "Failed to bind value of unexpected type",
                                      monitorContextForDatabaseOperation("bind values"));
      }
    }
  }
  return bound;
}

std::optional<platform::Object> GWLSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
  if (!statement) return std::nullopt;
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return platform::Object(static_cast<int64_t>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
      return platform::Object(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_column_text(statement, column);
      const int size = sqlite3_column_bytes(statement, column);
      return platform::Object(std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)));
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
      const int size = sqlite3_column_bytes(statement, column);
      if (!bytes || size <= 0) return std::nullopt;
      return platform::Object(platform::Bytes(bytes, bytes + size));
    }
    case SQLITE_NULL:
      return platform::Object();
    default:
      return std::nullopt;
  }
}

std::optional<std::string> GWLSqliteStore::lastErrorMessage() const {
  if (!handle_) {
    report(kGWLLevelErrorSampled, kLastErrorWithoutDatabaseCode, kLastErrorWithoutDatabaseMessage);
    return std::nullopt;
  }
  return std::string(sqlite3_errmsg(handle_));
}

std::optional<std::string> GWLSqliteStore::errorDescriptionForDatabaseOperation(const std::string& operation) const {
  if (!handle_) return std::nullopt;
  return "Database operation \"" + operation + "\" failed with sqlite code " +
         std::to_string(sqlite3_errcode(handle_)) + " and error message \"" + lastErrorMessage().value_or("") + "\"";
}

std::string GWLSqliteStore::monitorContextForDatabaseOperation(const std::string& operation) const {
  const int code = handle_ ? sqlite3_errcode(handle_) : 0;
  const bool writable = ::access(databasePath_.c_str(), W_OK) == 0;
  return (operation.empty() ? std::string("Unknown operation") : operation) + "," + std::to_string(code) + "," +
         (writable ? "A" : "NA");
}

void GWLSqliteStore::setDatabaseError(platform::Error* error, const std::string& operation) const {
  // Every failure gets an error: without a connection the description names
  // the operation alone.
  const std::string description =
      errorDescriptionForDatabaseOperation(operation).value_or("Database operation \"" + operation + "\" failed");
  GWLSetErrorWithMonitorContext(error, kSqlite, description, monitorContextForDatabaseOperation(operation));
}
