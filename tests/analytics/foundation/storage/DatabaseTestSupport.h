// Shared pieces of the database tests: a data directory, a monitor and a
// manual clock of the test's own, persisted settings and remote settings the
// test controls, and raw SQL access to the file behind the database's back.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "platform/dispatch/NotificationCenter.h"

namespace database_test {

// Runs one statement (or several) on a connection of its own; fails the test on error.
inline void rawSQL(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  const std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(result, SQLITE_OK) << text << "\n" << sql;
}

// The output of a shell command.
inline std::string shell(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
  ::pclose(pipe);
  return output;
}

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { GWLMeasurementRegistry::resetForTesting(monitor_); }
  void TearDown() override {
    database_.reset();
    GWLMeasurementRegistry::resetForTesting();
  }

  std::shared_ptr<GWLPersistedConfig> makeSettings() {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.notificationCenter = platform::NotificationCenter::create();
    dependencies.randomBelow = [this](uint64_t bound) { return midnightOffsetMillis_ % bound; };
    return GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  }

  // Opens (or reopens) the measurement database.
  std::shared_ptr<GWLDatabase> open(platform::Error* error = nullptr) {
    database_.reset();
    if (!settings_) settings_ = makeSettings();
    GWLDatabase::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.remoteConfig = [config = remoteConfig_] { return config; };
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, settings_, dependencies, error);
    return database_;
  }
  std::string path() const { return GWLMeasurementDirectoryPath(kGWLDatabaseFileName); }
  void setSettings(const std::map<std::string, std::string>& values) { remoteConfig_->replaceCachedValues(values); }

  foundation_test::DataDirectory data_;
  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(1'700'000'000.0);
  uint64_t midnightOffsetMillis_ = 3'600'000;
  std::shared_ptr<GWLPersistedConfig> settings_;
  std::shared_ptr<GWLRemoteConfig> remoteConfig_ = std::make_shared<GWLRemoteConfig>(monitor_);
  std::shared_ptr<GWLDatabase> database_;
};

}  // namespace database_test
