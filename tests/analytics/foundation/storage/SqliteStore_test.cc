#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <random>
#include <span>
#include <string_view>
#include <variant>

#include "DatabaseTestSupport.h"
#include "analytics/foundation/storage/GWLSqliteStore.h"

namespace {

namespace fs = std::filesystem;
using database_test::rawSQL;

class SqliteStoreTest : public database_test::DatabaseTest {
 protected:
  std::string file() const { return (dir_.path() / "store" / "test.sql").string(); }
  std::unique_ptr<GWLSqliteStore> openStore(platform::Error* error = nullptr) {
    return GWLSqliteStore::initWithDatabasePath(file(), error);
  }
  // A database with one table "items" holding the numbers 1 to `count`.
  void makeItems(int count) {
    auto store = openStore();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->executeSQL("CREATE TABLE items (n INTEGER NOT NULL, label TEXT)"));
    ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
      for (int i = 1; i <= count; ++i) {
        if (!store->upsertRecord({{"n", i}, {"label", "item " + std::to_string(i)}}, "items")) return false;
      }
      return true;
    }));
  }
  int64_t itemCount(GWLSqliteStore& store) { return itemCountOf(store, "items"); }
  int64_t itemCountOf(GWLSqliteStore& store, const std::string& table) {
    return store.rowCountForTableWithName(table).value_or(-1);
  }

  foundation_test::ScratchDirectory dir_;
};

TEST_F(SqliteStoreTest, NewPathCreatesDirectoryAndFileInWriteAheadLogMode) {
  auto store = openStore();
  ASSERT_TRUE(store);
  EXPECT_TRUE(fs::exists(file()));
  auto mode = store->recordsForQuery("SELECT * FROM pragma_journal_mode", {});
  ASSERT_TRUE(mode && mode->size() == 1);
  EXPECT_EQ(mode->front().begin()->second, platform::Object("wal"));
  auto sync = store->numberForQuery("SELECT * FROM pragma_synchronous", {});
  ASSERT_TRUE(sync);
  EXPECT_EQ(sync->intValue(), 1);  // NORMAL
}

// Damaged files are replaced by an empty, working database.
TEST_F(SqliteStoreTest, DamagedFilesReopenAsWorkingDatabases) {
  struct Drill {
    const char* name;
    std::function<void(const std::string&)> damage;
  };
  const std::vector<Drill> drills = {
      {"random bytes",
       [](const std::string& path) {
         std::mt19937 random(7);
         std::ofstream out(path, std::ios::binary | std::ios::trunc);
         for (int i = 0; i < 8192; ++i) out.put(static_cast<char>(random()));
       }},
      {"truncated",
       [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 3 + 100); }},
      {"flipped page",
       [](const std::string& path) {
         // Every byte of the second page inverted: the schema says it is a
         // table b-tree page, its header no longer says so.
         std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
         std::vector<char> page(4096);
         io.seekg(4096);
         io.read(page.data(), 4096);
         for (char& c : page) c = static_cast<char>(~c);
         io.seekp(4096);
         io.write(page.data(), 4096);
       }},
  };
  for (const auto& drill : drills) {
    SCOPED_TRACE(drill.name);
    fs::remove_all(dir_.path() / "store");
    makeItems(2000);
    ASSERT_GT(fs::file_size(file()), 3 * 4096u);
    drill.damage(file());
    platform::Error error;
    auto store = openStore(&error);
    ASSERT_TRUE(store) << error.toString();
    EXPECT_FALSE(store->tableExists("items").value_or(true));
    ASSERT_TRUE(store->executeSQL("CREATE TABLE fresh (n INTEGER)"));
    EXPECT_TRUE(store->upsertRecord({{"n", 1}}, "fresh"));
    EXPECT_EQ(store->rowCountForTableWithName("fresh"), 1);
  }
}

TEST_F(SqliteStoreTest, LockedFileIsNeitherDeletedNorOpened) {
  makeItems(10);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(file().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM items WHERE n = 1;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  platform::Error error;
  EXPECT_FALSE(openStore(&error));
  EXPECT_EQ(error.domain, kGWLErrorDomain);
  EXPECT_EQ(error.code, 3);
  EXPECT_TRUE(fs::exists(file()));
  ASSERT_EQ(sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);
  auto store = openStore();
  ASSERT_TRUE(store);
  EXPECT_EQ(itemCount(*store), 10);
}

TEST_F(SqliteStoreTest, DeletingClosesAndRemovesCompanionFiles) {
  makeItems(3);
  auto store = openStore();
  ASSERT_TRUE(store && store->upsertRecord({{"n", 4}}, "items"));
  for (const char* suffix : {"-journal", "-wal", "-shm"}) std::ofstream(file() + suffix) << "x";
  EXPECT_TRUE(store->closeAndDeleteDatabase());
  EXPECT_EQ(store->sqliteHandle(), nullptr);
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) EXPECT_FALSE(fs::exists(file() + suffix)) << suffix;
  platform::Error error;
  EXPECT_FALSE(store->upsertRecord({{"n", 5}}, "items", &error));
  EXPECT_EQ(error.description, "Upsert record failed. Database not open.");
}

// A column whose definition changed: the table is rebuilt once, keeping rows,
// row ids and its primary key.
TEST_F(SqliteStoreTest, MigrationKeepsRowsRowIdsAndConstraints) {
  {
    auto store = openStore();
    ASSERT_TRUE(store);
  }
  rawSQL(file(),
         "CREATE TABLE pairs (a INTEGER NOT NULL, b INTEGER NOT NULL, t INTEGER NOT NULL, note TEXT, "
         "PRIMARY KEY (a, b));"
         "INSERT INTO pairs (rowid, a, b, t, note) VALUES (10, 1, 1, 5, 'x'), (20, 1, 2, 6, NULL);");
  auto store = openStore();
  ASSERT_TRUE(store);
  const GWLColumnInfo elementary = {{"a", "INTEGER NOT NULL"},
                                    {"b", "INTEGER NOT NULL"},
                                    {"t", "INTEGER NOT NULL"},
                                    {"PRIMARY KEY", "(a, b)"}};
  const GWLColumnInfo addOn = {{"note", "TEXT"}, {"extra", "INTEGER"}};
  platform::Error error;
  ASSERT_TRUE(store->ensureTableWithName("pairs", elementary, addOn, {{"t", "REAL NOT NULL"}}, &error))
      << error.toString();
  EXPECT_EQ(store->columnInfoForTableWithName("pairs")->at("t"), "REAL");
  auto rows = store->recordsForQuery("SELECT rowid, a, b, t, note FROM pairs ORDER BY rowid", {});
  ASSERT_TRUE(rows && rows->size() == 2);
  EXPECT_EQ(rows->at(0).at("rowid"), platform::Object(10));
  EXPECT_EQ(rows->at(0).at("t"), platform::Object(5.0));
  EXPECT_EQ(rows->at(0).at("note"), platform::Object("x"));
  EXPECT_EQ(rows->at(1).at("rowid"), platform::Object(20));
  EXPECT_FALSE(store->executeSQL("INSERT INTO pairs (a, b, t) VALUES (1, 2, 7)"));  // primary key kept
  EXPECT_FALSE(store->tableExists("pairs_old").value_or(true));
  // Nothing changes the second time.
  ASSERT_TRUE(store->ensureTableWithName("pairs", elementary, addOn, {{"t", "REAL NOT NULL"}}));
  EXPECT_EQ(store->rowCountForTableWithName("pairs"), 2);
}

TEST_F(SqliteStoreTest, UnknownColumnsValidateOnlyWhenOptional) {
  auto store = openStore();
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->executeSQL("CREATE TABLE loose (a INTEGER NOT NULL, extra TEXT)"));
  ASSERT_TRUE(store->executeSQL("CREATE TABLE strict (a INTEGER NOT NULL, extra TEXT NOT NULL)"));
  EXPECT_TRUE(store->ensureTableWithName("loose", {{"a", "INTEGER NOT NULL"}}, {}));
  platform::Error error;
  EXPECT_FALSE(store->ensureTableWithName("strict", {{"a", "INTEGER NOT NULL"}}, {}, &error));
  EXPECT_EQ(error.description, "Table contains unknown non-optional columns");
}

TEST_F(SqliteStoreTest, TransactionsRollBackWhateverWentWrong) {
  makeItems(3);
  auto store = openStore();
  ASSERT_TRUE(store);
  platform::Error error;
  // The block answers NO.
  EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
    EXPECT_TRUE(store->upsertRecord({{"n", 4}}, "items"));
    return false;
  }));
  EXPECT_EQ(error.description, "Transaction failed");
  EXPECT_EQ(itemCount(*store), 3);
  // A nested transaction fails without running its block; the outer one commits.
  bool innerRan = false;
  platform::Error inner;
  EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
    EXPECT_TRUE(store->upsertRecord({{"n", 4}}, "items"));
    EXPECT_FALSE(store->performTransactionWithError(&inner, [&] { return innerRan = true; }));
    return true;
  }));
  EXPECT_FALSE(innerRan);
  EXPECT_EQ(inner.description, "Failed to begin transaction");
  EXPECT_EQ(itemCount(*store), 4);
  // The commit itself fails (a deferred foreign key is violated): nothing of
  // the block stays, and the connection is usable afterwards.
  ASSERT_TRUE(store->executeSQL("CREATE TABLE parent (id INTEGER PRIMARY KEY)"));
  ASSERT_TRUE(store->executeSQL(
      "CREATE TABLE child (parent_id INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)"));
  ASSERT_EQ(sqlite3_exec(store->sqliteHandle(), "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr), SQLITE_OK);
  error = {};
  EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
    return store->upsertRecord({{"n", 5}}, "items") && store->upsertRecord({{"parent_id", 99}}, "child");
  }));
  EXPECT_EQ(error.description, "Failed to end transaction");
  EXPECT_TRUE(sqlite3_get_autocommit(store->sqliteHandle()));
  EXPECT_EQ(itemCount(*store), 4);
  EXPECT_EQ(store->rowCountForTableWithName("child"), 0);
  EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] { return store->upsertRecord({{"n", 6}}, "items"); }));
  EXPECT_EQ(itemCount(*store), 5);
}

TEST_F(SqliteStoreTest, ReadFailingPartWayAnswersFailure) {
  makeItems(5);
  auto store = openStore();
  ASSERT_TRUE(store);
  platform::Error error;
  auto rows = store->recordsForQuery(
      "SELECT n, CASE WHEN n = ? THEN json('not json') ELSE n END AS v FROM items ORDER BY n", {3}, &error);
  EXPECT_FALSE(rows);
  EXPECT_EQ(error.code, 3);
  // The cached statement was handed back and serves the next call.
  auto again = store->recordsForQuery(
      "SELECT n, CASE WHEN n = ? THEN json('not json') ELSE n END AS v FROM items ORDER BY n", {99});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->size(), 5u);
}

// A query run again from inside the filter of a running iteration of the same
// text gets a statement of its own; the running one is not reset under it.
TEST_F(SqliteStoreTest, CachedStatementIsNotResetUnderARunningIteration) {
  makeItems(4);
  auto store = openStore();
  ASSERT_TRUE(store);
  const std::string query = "SELECT n FROM items WHERE n >= ? ORDER BY n";
  std::vector<size_t> innerSizes;
  auto rows = store->recordsForQuery(query, {1}, nullptr, [&](size_t, const platform::Dictionary& row) {
    auto inner = store->recordsForQuery(query, {row.at("n")});
    innerSizes.push_back(inner ? inner->size() : 0);
    return true;
  });
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->size(), 4u);
  EXPECT_EQ(innerSizes, (std::vector<size_t>{4, 3, 2, 1}));
  // One statement per text stays cached.
  const size_t cached = store->cachedStatementCount();
  (void)store->recordsForQuery(query, {2});
  EXPECT_EQ(store->cachedStatementCount(), cached);
}

// Texts of the write paths are found by their number; the row is the one the
// dictionary form writes, whatever kind each value has.
const GWLStatementID kInsertRow("INSERT OR REPLACE INTO rows (data, label, n, note, weight) VALUES (?, ?, ?, ?, ?);");

// Statements the connection holds prepared.
int preparedStatements(sqlite3* handle) {
  int count = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(handle, nullptr); s; s = sqlite3_next_stmt(handle, s)) ++count;
  return count;
}

TEST_F(SqliteStoreTest, UpsertByStatementIDWritesTheDictionaryFormsRow) {
  auto store = openStore();
  ASSERT_TRUE(store && store->executeSQL("CREATE TABLE rows (data BLOB, label TEXT, n INTEGER NOT NULL, note TEXT, "
                                         "weight REAL)"));
  const platform::Bytes data = {1, 2, 3};
  ASSERT_TRUE(store->upsertRecord(
      {{"data", data}, {"label", ""}, {"n", 7}, {"note", platform::Object()}, {"weight", 2.5}}, "rows"));
  {
    const std::string label;  // empty text stays text, not NULL
    ASSERT_TRUE(store->upsertRecord(kInsertRow, {std::span<const uint8_t>(data), std::string_view(label), int64_t{7},
                                                 std::monostate{}, 2.5}));
  }
  const std::string columns =
      "SELECT data, label, typeof(label) AS label_type, n, note, weight, typeof(weight) AS weight_type FROM rows";
  auto rows = store->recordsForQuery(columns + " ORDER BY rowid", {});
  ASSERT_TRUE(rows && rows->size() == 2);
  EXPECT_EQ((*rows)[0], (*rows)[1]);
  EXPECT_EQ((*rows)[1].at("label_type"), platform::Object("text"));

  // Prepared once per connection: later writes add no statement.
  const int prepared = preparedStatements(store->sqliteHandle());
  ASSERT_TRUE(store->upsertRecord(kInsertRow, {std::monostate{}, std::string_view("x"), int64_t{8},
                                               std::string_view("note"), 1.0}));
  EXPECT_EQ(preparedStatements(store->sqliteHandle()), prepared);

  // Nothing of a call stays bound for the next: a shorter list leaves the
  // remaining placeholders NULL.
  {
    platform::Bytes transient = {9, 9};
    ASSERT_TRUE(store->upsertRecord(kInsertRow, {std::span<const uint8_t>(transient), std::string_view("y"),
                                                 int64_t{9}, std::string_view("kept?"), 4.0}));
  }
  ASSERT_TRUE(store->upsertRecord(kInsertRow, {std::monostate{}, std::string_view("z"), int64_t{10}}));
  auto last = store->recordsForQuery("SELECT note, weight FROM rows WHERE n = ?", {10});
  ASSERT_TRUE(last && last->size() == 1);
  EXPECT_EQ(last->front().at("note"), platform::Object());
  EXPECT_EQ(last->front().at("weight"), platform::Object());
}

TEST_F(SqliteStoreTest, UpsertByStatementIDFailuresLeaveTheStatementUsable) {
  auto store = openStore();
  ASSERT_TRUE(store && store->executeSQL("CREATE TABLE rows (data BLOB, label TEXT, n INTEGER NOT NULL, note TEXT, "
                                         "weight REAL)"));
  // A NULL where the column refuses it fails the step; a sixth value has no placeholder.
  const auto expectFailure = [&](const std::string& operation, std::initializer_list<GWLBindValue> values) {
    SCOPED_TRACE(operation);
    platform::Error error;
    EXPECT_FALSE(store->upsertRecord(kInsertRow, values, &error));
    EXPECT_EQ(error.code, 3);
    EXPECT_NE(error.description.find("\"" + operation + "\""), std::string::npos) << error.description;
    EXPECT_TRUE(store->upsertRecord(kInsertRow, {std::monostate{}, std::monostate{}, int64_t{1}}));
  };
  expectFailure("execute statement",
                {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}});
  expectFailure("bind values", {std::monostate{}, std::monostate{}, int64_t{1}, std::monostate{}, 1.0, int64_t{6}});
  EXPECT_EQ(itemCountOf(*store, "rows"), 2);
  platform::Error error;
  EXPECT_FALSE(store->upsertRecord(kInsertRow, {}, &error));
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.description, "Received empty record for upsert");

  // Closed, the store says so; reopened, the statements (and the transaction
  // statements) are prepared anew on the new connection.
  ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
    return store->upsertRecord(kInsertRow, {std::monostate{}, std::monostate{}, int64_t{2}});
  }));
  store->closeDatabase();
  error = {};
  EXPECT_FALSE(store->upsertRecord(kInsertRow, {std::monostate{}, std::monostate{}, int64_t{3}}, &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.description, "Upsert record failed. Database not open.");
  ASSERT_TRUE(store->openAndValidateDatabase());
  EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
    return store->upsertRecord(kInsertRow, {std::monostate{}, std::monostate{}, int64_t{3}});
  }));
  EXPECT_EQ(itemCountOf(*store, "rows"), 4);
}

TEST_F(SqliteStoreTest, BoundValuesOutliveTheirSourceBuffers) {
  auto store = openStore();
  ASSERT_TRUE(store && store->executeSQL("CREATE TABLE blobs (k INTEGER, b BLOB)"));
  const std::string query = "SELECT count(1) FROM blobs WHERE b = ?";
  {
    platform::Array values = {platform::Bytes{1, 2, 3}};
    sqlite3_stmt* statement = store->statementForQuery(query, values);
    ASSERT_TRUE(statement);
    values.clear();  // the caller's buffer goes before the statement runs
    values.shrink_to_fit();
    ASSERT_TRUE(store->upsertRecord({{"k", 1}, {"b", platform::Bytes{1, 2, 3}}}, "blobs"));
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 1);
    store->cleanUpStatement(statement, query);
  }
}

TEST_F(SqliteStoreTest, ArgumentAndStatementErrors) {
  auto store = openStore();
  ASSERT_TRUE(store);
  makeItems(0);
  struct Case {
    const char* name;
    std::function<bool(platform::Error*)> run;
    int64_t code;
    const char* description;
  };
  const std::vector<Case> cases = {
      {"two statements", [&](platform::Error* e) { return store->executeSQL("DELETE FROM items; DELETE FROM items", e); },
       1, "Query contained more than one SQL statement."},
      {"pragma as select",
       [&](platform::Error* e) { return store->recordsForQuery("PRAGMA table_info(items)", {}, e).has_value(); }, 1,
       "Received invalid select query"},
      {"increase text column",
       [&](platform::Error* e) { return store->increaseColumn("label", 1, "items", "n = 1", {}, e); }, 1,
       "Column type is not integer."},
      {"increase missing column",
       [&](platform::Error* e) { return store->increaseColumn("nope", 1, "items", "n = 1", {}, e); }, 1,
       "Invalid column or table name"},
      {"array value",
       [&](platform::Error* e) { return store->upsertRecord({{"n", platform::Array{1}}}, "items", e); }, 1,
       "Failed to bind parameter of unexpected type to upsert statement"},
      {"placeholder without parameters",
       [&](platform::Error* e) { return store->recordsForQuery("SELECT n FROM items WHERE n = ?", {}, e).has_value(); },
       1, "Received empty parameters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Error error;
    EXPECT_FALSE(c.run(&error));
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.description, c.description);
  }
  // Statements that were refused changed nothing, and a MAX over no rows is no number and no error.
  platform::Error error;
  EXPECT_FALSE(store->numberForQuery("SELECT MAX(n) FROM items", {}, &error));
  EXPECT_TRUE(error.domain.empty());
}

}  // namespace
