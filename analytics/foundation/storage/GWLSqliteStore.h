// GWLSqliteStore — the library's only access to SQLite: one connection to one
// database file.
//
// The store opens the file (creating its directory), checks its integrity and,
// when the file is not a database or is damaged, deletes it (with its journal,
// write-ahead log and shared-memory files) and creates it anew, once. A busy or
// locked file, a full disk or any other failure that says nothing about the
// file's contents fails the opening and leaves the file alone.
//
// It creates, validates and migrates tables from column descriptions, turns
// records (column name to value) into INSERT OR REPLACE and UPDATE statements
// and rows into records, keeps prepared statements in a cache keyed by their
// SQL text, and runs blocks inside exclusive transactions. The texts run most
// often (the transaction statements, and the inserts of the write paths through
// GWLStatementID) are prepared once per connection and found by a number.
//
// Values passed in and read back are platform::Object: a string (UTF-8 text),
// an integer or boolean (64-bit integer), a double, bytes (a blob) or null.
// Any other kind cannot be bound. A zero-length blob reads back as no value.
//
// The connection runs in write-ahead-log mode with synchronous=NORMAL: a
// committed transaction survives the process being killed at any moment, and
// a power loss can at worst lose the last transactions, never corrupt the file.
//
// The store takes no lock: its owner calls it from one serial queue.
// Operations with an `error` argument fill it (when given) with an error of the
// library's domain: code 1 for a bad argument or query, 2 for a connection that
// is not open or a table or value not in the needed state, 3 for a failure
// SQLite reported or a transaction that could not begin, end or complete.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

struct sqlite3;
struct sqlite3_stmt;

// One column description: a name and its definition ("TEXT NOT NULL PRIMARY
// KEY"). The name "PRIMARY KEY" makes the pair a table constraint whose
// definition is the parenthesised list of key columns.
using GWLColumnInfo = std::vector<std::pair<std::string, std::string>>;
// Column name to new definition, for columns whose definition changed.
using GWLModifyColumnInfo = std::map<std::string, std::string>;
// A row filter: the number of rows taken so far and the row; false ends the reading.
using GWLRowFilter = std::function<bool(size_t index, const platform::Dictionary& row)>;

// A fixed SQL text run often, which every store prepares once per connection
// and finds by the number the text was given when it was declared, rather than
// by comparing texts. Declare one per text, at namespace scope:
//   const GWLStatementID kInsertItem("INSERT OR REPLACE INTO items (label, n) VALUES (?, ?);");
class GWLStatementID {
 public:
  explicit GWLStatementID(std::string sql);
  GWLStatementID(const GWLStatementID&) = delete;
  GWLStatementID& operator=(const GWLStatementID&) = delete;
  const std::string& sql() const { return sql_; }
  // Dense from 0 in the order of declaration, process-wide.
  size_t index() const { return index_; }

 private:
  std::string sql_;
  size_t index_;
};

// A value for one placeholder: NULL, a 64-bit integer, a double, UTF-8 text or
// a blob. Text and blob are the caller's, bound without a copy: they must stay
// alive until the call that binds them returns.
using GWLBindValue = std::variant<std::monostate, int64_t, double, std::string_view, std::span<const uint8_t>>;

inline constexpr const char* kGWLSqliteStoreJournalMode = "WAL";
inline constexpr const char* kGWLSqliteStoreSynchronous = "NORMAL";

class GWLSqliteStore {
 public:
  // Opens (or creates) the database at `path`; null when the path is empty or
  // the opening failed (after one delete-and-reopen when the file was damaged).
  [[nodiscard]] static std::unique_ptr<GWLSqliteStore> initWithDatabasePath(const std::string& path,
                                                              platform::Error* error = nullptr);
  ~GWLSqliteStore();
  GWLSqliteStore(const GWLSqliteStore&) = delete;
  GWLSqliteStore& operator=(const GWLSqliteStore&) = delete;

  sqlite3* sqliteHandle() const { return handle_; }
  const std::string& databasePath() const { return databasePath_; }

  // ---- connection ----
  // Closes the connection and removes the file with its -journal, -wal and
  // -shm companions. False (report 34019) when one could not be removed.
  [[nodiscard]] bool closeAndDeleteDatabase();
  [[nodiscard]] bool openAndValidateDatabase(platform::Error* error = nullptr);
  [[nodiscard]] bool validateDatabaseWithError(platform::Error* error = nullptr);
  void closeDatabase();
  void finalizeAndClearStatements();
  // Whether the last failed opening found the file not a database or damaged
  // (the only failures that justify deleting it).
  bool lastOpenFailureWasDamage() const { return lastOpenFailureWasDamage_; }

  // ---- tables ----
  [[nodiscard]] bool ensureTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                           const GWLColumnInfo& addOnColumnInfo, platform::Error* error = nullptr);
  [[nodiscard]] bool ensureTableWithName(const std::string& table, const std::string& createSQL,
                           const std::vector<std::string>& requiredColumnNames,
                           const std::vector<std::pair<std::string, std::string>>& addOnColumns,
                           platform::Error* error = nullptr);
  // Creates, validates and, when `modifyColumnInfo` changes a declared type,
  // rebuilds the table keeping its rows, row ids and constraints.
  [[nodiscard]] bool ensureTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                           const GWLColumnInfo& addOnColumnInfo, const GWLModifyColumnInfo& modifyColumnInfo,
                           platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> validateTableWithName(const std::string& table,
                                            const std::vector<std::string>& requiredColumnNames,
                                            const std::vector<std::pair<std::string, std::string>>& addOnColumns,
                                            platform::Error* error = nullptr);
  [[nodiscard]] bool ensureSchemaOfTableWithName(const std::string& table, const GWLColumnInfo& elementaryColumnInfo,
                                   const GWLColumnInfo& addOnColumnInfo, platform::Error* error = nullptr);
  [[nodiscard]] bool dropTableWithName(const std::string& table, platform::Error* error = nullptr);
  [[nodiscard]] bool renameTable(const std::string& oldName, const std::string& newName, platform::Error* error = nullptr);
  // Copies every row; the columns are matched by name, row ids included.
  [[nodiscard]] bool copyContentsFromTable(const std::string& source, const std::string& destination,
                             platform::Error* error = nullptr);
  [[nodiscard]] bool createEmptyTable(const std::string& table, const std::string& source, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> tableExists(const std::string& table, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> rowCountForTableWithName(const std::string& table, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> rowCountForTableWithName(const std::string& table, const std::string& columnName,
                                                  const std::optional<platform::Object>& columnValue,
                                                  platform::Error* error = nullptr);
  // Column names in table order; nullopt when the table could not be read.
  [[nodiscard]] std::optional<std::vector<std::string>> columnsForTableWithName(const std::string& table,
                                                                  platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::map<std::string, std::string>> columnInfoForTableWithName(const std::string& table,
                                                                               platform::Error* error = nullptr);

  // ---- records ----
  [[nodiscard]] bool upsertRecord(const platform::Dictionary& record, const std::string& table, platform::Error* error = nullptr);
  // The same write for a record whose columns are fixed: `statement` is its
  // INSERT OR REPLACE text and `values` the record's values in the text's
  // column order; no dictionary and no text is built. The statement is
  // reset and its bindings cleared before the call returns. Failures as for
  // the dictionary form (a statement that does not prepare or bind gives code
  // 3 under "prepare statement" or "bind values").
  [[nodiscard]] bool upsertRecord(const GWLStatementID& statement, std::initializer_list<GWLBindValue> values,
                    platform::Error* error = nullptr);
  [[nodiscard]] bool updateRecord(const platform::Dictionary& record, const std::string& table, const std::string& columnName,
                    const std::optional<platform::Object>& columnValue, platform::Error* error = nullptr);
  [[nodiscard]] bool updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                       const std::optional<platform::Object>& columnValue,
                                       platform::Error* error = nullptr);
  [[nodiscard]] bool increaseColumn(const std::string& column, int64_t amount, const std::string& table,
                      const std::string& condition, const platform::Array& parameterValues,
                      platform::Error* error = nullptr);
  [[nodiscard]] bool deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                     const std::optional<platform::Object>& columnValue,
                                     platform::Error* error = nullptr);
  // The number of deleted rows.
  [[nodiscard]] std::optional<int64_t> deleteRecordsFromTableWithName(const std::string& table, const std::string& condition,
                                                        const platform::Array& parameterValues,
                                                        platform::Error* error = nullptr);
  [[nodiscard]] bool deleteAllRecordsFromTableWithName(const std::string& table, platform::Error* error = nullptr);

  // ---- queries ----
  // The rows of a SELECT; nullopt when it could not run or failed part way.
  [[nodiscard]] std::optional<std::vector<platform::Dictionary>> recordsForQuery(const std::string& query,
                                                                   const platform::Array& parameterValues,
                                                                   platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<platform::Dictionary>> recordsForQuery(const std::string& query,
                                                                   const platform::Array& parameterValues,
                                                                   platform::Error* error,
                                                                   const GWLRowFilter& filter);
  // The number in the first column of the first row; nullopt without error
  // when that value is NULL.
  [[nodiscard]] std::optional<platform::Object> numberForQuery(const std::string& query, const platform::Array& parameterValues,
                                                 platform::Error* error = nullptr);

  // ---- transactions and statements ----
  // Runs `block` inside BEGIN EXCLUSIVE ... END; rolls back when the block
  // answers false or throws (the exception is thrown on) and when the commit
  // fails. Transactions do not nest. The three statements are prepared once
  // per connection.
  [[nodiscard]] bool performTransactionWithError(platform::Error* error, const std::function<bool()>& block);
  [[nodiscard]] bool beginTransaction();
  [[nodiscard]] bool endTransaction();
  [[nodiscard]] bool rollbackTransaction();

  [[nodiscard]] sqlite3_stmt* statementForQuery(const std::string& query, platform::Error* error = nullptr);
  [[nodiscard]] sqlite3_stmt* statementForQuery(const std::string& query, const platform::Array& parameterValues,
                                  platform::Error* error = nullptr);
  // Hands back a statement from statementForQuery: a cached one is reset and
  // its bindings cleared, any other finalized.
  void cleanUpStatement(sqlite3_stmt* statement, const std::string& query);
  [[nodiscard]] sqlite3_stmt* prepareSQL(const std::string& sql, platform::Error* error = nullptr);
  [[nodiscard]] bool executeSQL(const std::string& sql, platform::Error* error = nullptr);
  // Steps once and finalizes the statement.
  [[nodiscard]] bool executeSQLStatement(sqlite3_stmt* statement, platform::Error* error = nullptr);
  [[nodiscard]] sqlite3_stmt* upsertStatementForRecord(const platform::Dictionary& record, const std::string& table,
                                         platform::Error* error = nullptr);
  [[nodiscard]] sqlite3_stmt* updateStatementForRecord(const platform::Dictionary& record, const std::string& table,
                                         const std::string& columnName,
                                         const std::optional<platform::Object>& columnValue,
                                         platform::Error* error = nullptr);
  // Values are copied into the statement, so they may go before it runs.
  [[nodiscard]] bool bindValues(const platform::Array& values, sqlite3_stmt* statement, platform::Error* error = nullptr);
  [[nodiscard]] static std::optional<platform::Object> valueAtColumn(int column, sqlite3_stmt* statement);
  [[nodiscard]] std::optional<std::string> lastErrorMessage() const;
  [[nodiscard]] std::optional<std::string> errorDescriptionForDatabaseOperation(const std::string& operation) const;
  std::string monitorContextForDatabaseOperation(const std::string& operation) const;
  void setDatabaseError(platform::Error* error, const std::string& operation) const;

  // Number of statements in the cache (tests).
  size_t cachedStatementCount() const { return statementCache_.size(); }

 private:
  explicit GWLSqliteStore(std::string path) : databasePath_(std::move(path)) {}
  [[nodiscard]] bool isOpen(platform::Error* error, const std::string& message) const;
  // Walks the rows of a statement; false when a step failed.
  [[nodiscard]] bool readRows(sqlite3_stmt* statement, const GWLRowFilter& filter, std::vector<platform::Dictionary>& rows);
  [[nodiscard]] bool migrateTable(const std::string& table, const GWLColumnInfo& elementary, const GWLColumnInfo& addOn,
                    platform::Error* error);

  struct CachedStatement {
    sqlite3_stmt* statement = nullptr;
    bool inUse = false;
  };

  // The prepared statement of `id` on this connection, prepared on first use.
  [[nodiscard]] sqlite3_stmt* statementForID(const GWLStatementID& id, platform::Error* error);
  // Steps the statement of `id` once and resets it; true when it finished (SQLITE_DONE).
  [[nodiscard]] bool runStatementForID(const GWLStatementID& id);

  sqlite3* handle_ = nullptr;
  std::map<std::string, CachedStatement> statementCache_;
  // Indexed by GWLStatementID::index(); null until first used on this connection.
  std::vector<sqlite3_stmt*> statementsByID_;
  std::string databasePath_;
  bool inTransaction_ = false;
  bool lastOpenFailureWasDamage_ = false;
};
