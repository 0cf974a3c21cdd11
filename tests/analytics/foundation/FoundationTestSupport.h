// Shared pieces of the foundation tests: a monitor whose surroundings the test
// controls, and a data directory of its own for tests that keep files.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"

namespace foundation_test {

// A fresh directory under TABULO_TEST_TMP (or the system's temporary
// directory), removed when the object goes; several may exist in one test.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    static std::atomic<int> counter{0};
    const char* base = std::getenv("TABULO_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("foundation");
    path_ = std::filesystem::path(base && *base ? base : std::filesystem::temp_directory_path().string()) /
            (name + "." + std::to_string(::getpid()) + "." + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A suite stored in `directory`, outside the shared registry of suites.
inline std::shared_ptr<GWLUserDefaults> suiteIn(const std::filesystem::path& directory, const std::string& name) {
  return std::make_shared<GWLUserDefaults>(
      platform::PreferencesStore::create(name, (directory / (name + ".plist")).string(), nullptr, nullptr), name);
}

// The reservoir's random draws, scripted by the test.
struct ScriptedDraws {
  std::mutex mutex;
  std::vector<uint64_t> answers;  // used in order; then 1 (keep the old entry)
  std::vector<uint64_t> bounds;   // every bound asked for
};

struct MonitorSetup {
  ScratchDirectory tmp;
  std::shared_ptr<GWLUserDefaults> monitorDefaults = suiteIn(tmp.path(), kGWLMonitorSuiteName);
  std::shared_ptr<GWLUserDefaults> sharedDefaults = suiteIn(tmp.path(), "app");
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  bool installedFromAppStore = false;
  std::vector<std::string> launchArguments;
  std::vector<std::string> classes;
  std::shared_ptr<ScriptedDraws> draws = std::make_shared<ScriptedDraws>();
  std::vector<std::weak_ptr<GWLMonitor>> made;

  // Monitors may outlive the setup (a registry holds them): let them finish
  // what they were given while the setup still exists.
  ~MonitorSetup() {
    for (auto& weak : made) {
      if (auto monitor = weak.lock()) monitor->flush();
    }
  }

  std::vector<uint64_t> drawBounds() {
    std::lock_guard<std::mutex> lock(draws->mutex);
    return draws->bounds;
  }

  std::shared_ptr<GWLMonitor> make(int64_t version = kGWLLibraryVersion) {
    GWLMonitor::Dependencies dependencies;
    dependencies.monitorUserDefaults = monitorDefaults;
    dependencies.sharedUserDefaults = sharedDefaults;
    dependencies.clock = clock;
    dependencies.installedFromAppStore = installedFromAppStore;
    dependencies.launchArguments = launchArguments;
    auto known = classes;
    dependencies.hasClass = [known](const std::string& name) {
      return std::find(known.begin(), known.end(), name) != known.end();
    };
    dependencies.randomBelow = [scripted = draws](uint64_t bound) {
      std::lock_guard<std::mutex> lock(scripted->mutex);
      scripted->bounds.push_back(bound);
      if (scripted->answers.empty()) return uint64_t{1} % bound;
      uint64_t answer = scripted->answers.front();
      scripted->answers.erase(scripted->answers.begin());
      return answer;
    };
    auto monitor = GWLMonitor::create(6, nullptr, version, dependencies);
    made.push_back(monitor);
    monitor->flush();  // the start-up block has run
    return monitor;
  }
};

// A data directory for one test, current for the test's duration, with
// preferences suites stored in it.
class DataDirectory {
 public:
  DataDirectory() {
    platform::PreferencesStore::resetForTesting();
    paths_ = platform::Paths::open((tmp_.path() / "data").string());
    platform::Paths::setCurrent(paths_);
  }
  ~DataDirectory() {
    platform::PreferencesStore::resetForTesting();
    platform::Paths::setCurrent(nullptr);
  }
  const std::shared_ptr<platform::Paths>& paths() const { return paths_; }
  std::string root() const { return paths_->dataDirectory(); }

 private:
  ScratchDirectory tmp_;
  std::shared_ptr<platform::Paths> paths_;
};

}  // namespace foundation_test
