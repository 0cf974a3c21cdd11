// Makes chosen statements of a measurement database's connection fail, as a
// failing disk or a full database would: the next statement whose SQL, with
// its values bound, contains an armed text, or the statement that starts as
// the Nth since `failStatementNumber`. Every other statement runs as usual.
// It also keeps the expanded SQL of every statement started while it lives.
//
// Used on the thread that runs the database (the worker queue); the armed
// state has a mutex so a test may arm it from its own thread.
#pragma once

#include <sqlite3.h>

#include <mutex>
#include <string>
#include <vector>

#include "analytics/foundation/storage/GWLDatabase.h"

namespace measurement_test {

class FailingStatements {
 public:
  explicit FailingStatements(GWLDatabase& database) : handle_(database.sqliteStore()->sqliteHandle()) {
    sqlite3_progress_handler(handle_, 1, &FailingStatements::check, this);
    sqlite3_trace_v2(handle_, SQLITE_TRACE_STMT, &FailingStatements::started, this);
  }
  ~FailingStatements() {
    sqlite3_progress_handler(handle_, 0, nullptr, nullptr);
    sqlite3_trace_v2(handle_, 0, nullptr, nullptr);
  }
  FailingStatements(const FailingStatements&) = delete;
  FailingStatements& operator=(const FailingStatements&) = delete;

  void failNext(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_.push_back(text);
  }
  size_t armed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return armed_.size();
  }
  // The statement that starts as the `number`th from now (1: the next one) fails.
  void failStatementNumber(size_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    failAt_ = started_.size() + number;
  }
  // The expanded SQL of the statements started so far.
  std::vector<std::string> statements() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }

 private:
  static int started(unsigned, void* context, void* statement, void*) {
    auto* self = static_cast<FailingStatements*>(context);
    char* expanded = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->started_.emplace_back(expanded ? expanded : "");
    sqlite3_free(expanded);
    self->failCurrent_ = self->failAt_ != 0 && self->started_.size() == self->failAt_;
    if (self->failCurrent_) self->failAt_ = 0;
    return 0;
  }

  static int check(void* context) {
    auto* self = static_cast<FailingStatements*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->failCurrent_) {
      self->failCurrent_ = false;
      return 1;  // interrupts the statement: it fails with an error
    }
    for (sqlite3_stmt* statement = sqlite3_next_stmt(self->handle_, nullptr); statement;
         statement = sqlite3_next_stmt(self->handle_, statement)) {
      if (!sqlite3_stmt_busy(statement)) continue;
      char* expanded = sqlite3_expanded_sql(statement);
      const std::string sql = expanded ? expanded : "";
      sqlite3_free(expanded);
      for (auto it = self->armed_.begin(); it != self->armed_.end(); ++it) {
        if (sql.find(*it) != std::string::npos) {
          self->armed_.erase(it);
          return 1;
        }
      }
    }
    return 0;
  }

  sqlite3* handle_;
  std::mutex mutex_;
  std::vector<std::string> armed_;
  std::vector<std::string> started_;
  size_t failAt_ = 0;
  bool failCurrent_ = false;
};

}  // namespace measurement_test
