// GWLMonitor — the library's logger and health monitor.
//
// Every component reports through one monitor: a level from 0 to 8, a message
// code (printed as "I-ACS%06ld"), a message and up to three context values.
// On the caller's thread the monitor decides whether a report is printed and
// whether it feeds the health sample; printing and sampling then run in order
// on the monitor's own serial queue.
//
// The levels, their classes and what each does are tabled in GWLMonitorLevels.h.
//
// Debug mode and verbose logging raise the framework's logger level. They are
// switched by launch arguments and by persisted flags in the shared
// preferences, and only in builds that were not installed from the store.
//
// The health sample (GWLMonitoringSampledData) is persisted in the suite
// "com.halcyra.qrx.measurement.monitor" after every sampled report and handed
// to the engine once per sample period.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLLogContext.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/foundation/core/GWLMonitoringSampledData.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class SerialQueue;
}  // namespace platform
class GWLUserDefaults;

inline constexpr const char* kGWLMonitorSuiteName = "com.halcyra.qrx.measurement.monitor";
inline constexpr const char* kGWLMonitorHealthMonitorKey = "/halcyra/measurement/health_monitor";
inline constexpr const char* kGWLMonitorMigrationStateKey = "/halcyra/measurement/monitor_migration_state";
inline constexpr const char* kGWLMonitorDebugModeKey = "/halcyra/measurement/debug_mode";
inline constexpr const char* kGWLMonitorVerboseLoggingKey = "/halcyra/measurement/verbose_logging";

class GWLMonitor : public std::enable_shared_from_this<GWLMonitor> {
 public:
  // What the monitor reads of its surroundings; `system()` gives the real ones.
  struct Dependencies {
    std::shared_ptr<GWLUserDefaults> monitorUserDefaults;  // the monitor's own suite
    std::shared_ptr<GWLUserDefaults> sharedUserDefaults;   // the app's own domain
    std::shared_ptr<platform::Clock> clock;
    GWLMonitoringSampledData::RandomBelow randomBelow;
    bool installedFromAppStore = true;
    std::vector<std::string> launchArguments;
    // Whether a class (an optional component) of that name is present.
    std::function<bool(const std::string&)> hasClass;

    static Dependencies system();
  };

  // The process's monitor: `create(version)` with the real surroundings.
  static std::shared_ptr<GWLMonitor> create(int64_t libraryVersion);
  // `logLevel` has no effect; kept for the initialiser's shape.
  static std::shared_ptr<GWLMonitor> create(int64_t logLevel, std::shared_ptr<GWLASLLogger> logger,
                                            int64_t libraryVersion, Dependencies dependencies);
  ~GWLMonitor();

  // Reads the launch arguments and persisted flags (start-up, monitor queue).
  void processLaunchArgumentsOnMonitorQueue();
  bool isDebugModeAllowed() const { return isDebugModeAllowed_.load(); }

  void setDebugModeEnabled(bool enabled);
  // Server-side tagging preview: switches debug mode without asking whether
  // it is allowed and without persisting it.
  void setSVTPDebugModeEnabled(bool enabled);
  void setVerboseLoggingEnabled(bool enabled);

  // Reports. A missing message prints as "(Message was nil)".
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const GWLLogContext& context);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const GWLLogContext& context1, const GWLLogContext& context2);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const GWLLogContext& context1, const GWLLogContext& context2, const GWLLogContext& context3);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const std::vector<GWLLogContext>& contexts);

  // The health text to upload, or nullopt (synchronously on the monitor queue).
  [[nodiscard]] std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                       double lastSampledTimestamp);
  // Forgets the persisted debug mode and the health sample (synchronously on the monitor queue).
  void clearMonitoringData();

  bool isDebugModeEnabled() const { return debugModeEnabled_.load(); }
  bool isVerboseLoggingEnabled() const { return verboseLoggingEnabled_.load(); }
  bool encodeContexts() const { return encodeContexts_.load(); }
  void setEncodeContexts(bool encode) { encodeContexts_.store(encode); }
  std::string logTag() const;
  void setLogTag(const std::string& tag);
  int64_t libraryVersion() const { return libraryVersion_; }

  // Whether a report of this level can reach the console now.
  bool isLoggableLevel(int64_t level) const;

  static bool isSilentLevel(int64_t level);
  static bool isMonitorableLevel(int64_t level);
  static std::string encodedStringWithContextArray(const std::vector<GWLLogContext>& contexts, bool insertSpaces);
  static std::string stringWithLogMessage(const std::optional<std::string>& message, int64_t level,
                                          const std::vector<GWLLogContext>& contexts, bool encodeContexts);
  static std::string encodedStringWithContextObject(const GWLLogContext& context);
  [[nodiscard]] static std::optional<std::string> lastGWLSymbolFromException(const GWLException* exception);
  static std::string monitoringDataKeyWithMessage(const std::optional<std::string>& message, int64_t level,
                                                  int64_t libraryVersion);

  // Waits until every block posted to the monitor queue so far has run (tests).
  void flush();

 private:
  GWLMonitor(std::shared_ptr<GWLASLLogger> logger, int64_t libraryVersion, Dependencies dependencies);
  void startUpOnMonitorQueue();
  void migrateMonitorDataOnMonitorQueue();
  void loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  void saveMonitoringDataToUserDefaultsOnMonitorQueue();
  void synchronizeToDiskOnMonitorQueue();
  void logToConsole(int64_t messageCode, const std::string& text, int64_t level);
  void insertOrUpdateMonitoringDataWithMessage(const std::optional<std::string>& message,
                                               const std::string& encodedContext, int64_t level);
  void setFrameworkLevel(int level);
  double now() const;

  std::shared_ptr<GWLASLLogger> logger_;
  GWLMonitoringSampledData monitoringSampledData_;  // monitor queue only
  std::shared_ptr<platform::SerialQueue> monitorQueue_;
  const int64_t libraryVersion_;
  Dependencies dependencies_;
  std::atomic<bool> deferToCVNLogger_{false};
  std::atomic<bool> isDebugModeAllowed_{false};
  std::atomic<bool> debugModeEnabled_{false};
  std::atomic<bool> verboseLoggingEnabled_{false};
  std::atomic<bool> encodeContexts_{false};
  mutable platform::Mutex logTagMutex_;
  std::string logTag_ ABSL_GUARDED_BY(logTagMutex_) = kGWLDefaultLogTag;
};
