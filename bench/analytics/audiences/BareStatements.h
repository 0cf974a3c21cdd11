// A connection of its own to a database file, with statements prepared once:
// what the benchmarks' bare SQLite baselines run their queries on. The file
// is opened in the same journal mode the measurement database uses.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace bench_support {

class BareStatements {
 public:
  BareStatements(const std::string& path, std::initializer_list<const char*> queries) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    for (const char* query : queries) {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(db_, query, -1, &statement, nullptr);
      statements_.push_back(statement);
    }
  }
  ~BareStatements() {
    for (auto* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  BareStatements(const BareStatements&) = delete;
  BareStatements& operator=(const BareStatements&) = delete;

  // Whether every statement was prepared.
  bool ok() const {
    for (auto* statement : statements_) {
      if (!statement) return false;
    }
    return true;
  }

  // The statement of the query at `index` in the constructor's list.
  sqlite3_stmt* operator[](size_t index) const { return statements_[index]; }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

}  // namespace bench_support
