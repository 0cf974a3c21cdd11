#include "analytics/foundation/core/GWLMonitor.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <sstream>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "platform/core/Log.h"
#include "platform/crypto/SecureRandom.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"

namespace {

constexpr int kFrameworkLevelNotice = 5;
constexpr int kFrameworkLevelDebug = 7;

constexpr int64_t kSVTPDebugModeOnCode = 24006;
constexpr const char* kSVTPDebugModeOnMessage = "SVTP debug mode is on";
constexpr int64_t kSVTPDebugModeOffCode = 24007;
constexpr const char* kSVTPDebugModeOffMessage = "SVTP debug mode is off";

bool contains(const std::vector<std::string>& arguments, const char* argument) {
  return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

bool containsGWLIgnoringCase(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.find("gwl") != std::string::npos;
}

// The decimal text of a range bound: `magnitude` with a minus sign when negative.
std::string signedText(bool negative, uint64_t magnitude) {
  return (negative ? "-" : "") + std::to_string(magnitude);
}

uint64_t secureRandomBelow(uint64_t bound) { return platform::SecureRandom::sharedInstance().uniform(bound); }

}  // namespace

GWLMonitor::Dependencies GWLMonitor::Dependencies::system() {
  Dependencies dependencies;
  dependencies.monitorUserDefaults = std::make_shared<GWLUserDefaults>(kGWLMonitorSuiteName);
  dependencies.sharedUserDefaults = GWLUserDefaults::sharedUserDefaults();
  dependencies.clock = platform::Clock::system();
  dependencies.randomBelow = secureRandomBelow;
  dependencies.installedFromAppStore = GWLAEU::isFAS();
  dependencies.launchArguments = platform::AppEnvironment::shared()->arguments();
  dependencies.hasClass = GWLAEU::classExists;
  return dependencies;
}

std::shared_ptr<GWLMonitor> GWLMonitor::create(int64_t libraryVersion) {
  return create(6, std::make_shared<GWLASLLogger>(), libraryVersion, Dependencies::system());
}

std::shared_ptr<GWLMonitor> GWLMonitor::create(int64_t /*logLevel*/, std::shared_ptr<GWLASLLogger> logger,
                                               int64_t libraryVersion, Dependencies dependencies) {
  std::shared_ptr<GWLMonitor> monitor(new GWLMonitor(std::move(logger), libraryVersion, std::move(dependencies)));
  std::weak_ptr<GWLMonitor> weakMonitor = monitor;
  monitor->monitorQueue_->async([weakMonitor] {
    if (auto strongMonitor = weakMonitor.lock()) strongMonitor->startUpOnMonitorQueue();
  });
  return monitor;
}

GWLMonitor::GWLMonitor(std::shared_ptr<GWLASLLogger> logger, int64_t libraryVersion, Dependencies dependencies)
    : logger_(logger ? std::move(logger) : std::make_shared<GWLASLLogger>()),
      monitorQueue_(platform::SerialQueue::create("GWLMonitorQueue")),
      libraryVersion_(libraryVersion),
      dependencies_(std::move(dependencies)) {
  if (!dependencies_.clock) dependencies_.clock = platform::Clock::system();
  if (!dependencies_.randomBelow) dependencies_.randomBelow = secureRandomBelow;
}

GWLMonitor::~GWLMonitor() = default;

double GWLMonitor::now() const { return dependencies_.clock->now(); }

void GWLMonitor::flush() { monitorQueue_->flush(); }

std::string GWLMonitor::logTag() const {
  platform::MutexLock lock(logTagMutex_);
  return logTag_;
}

void GWLMonitor::setLogTag(const std::string& tag) {
  platform::MutexLock lock(logTagMutex_);
  logTag_ = tag;
}

// ---- start-up ----

void GWLMonitor::startUpOnMonitorQueue() {
  migrateMonitorDataOnMonitorQueue();
  loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  isDebugModeAllowed_.store(!dependencies_.installedFromAppStore);
  if (isDebugModeAllowed_.load()) processLaunchArgumentsOnMonitorQueue();
}

void GWLMonitor::migrateMonitorDataOnMonitorQueue() {
  auto& monitorDefaults = dependencies_.monitorUserDefaults;
  auto& sharedDefaults = dependencies_.sharedUserDefaults;
  if (!monitorDefaults || !sharedDefaults) return;
  int64_t state = monitorDefaults->integerForKey(kGWLMonitorMigrationStateKey);
  if (state == 0) {
    auto former = sharedDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
    if (former && !monitorDefaults->objectForKey(kGWLMonitorHealthMonitorKey)) {
      monitorDefaults->setObject(*former, kGWLMonitorHealthMonitorKey);
    }
    monitorDefaults->setInteger(1, kGWLMonitorMigrationStateKey);
    // The shared copy goes only once the monitor suite holds the sample on
    // disk: a failed write keeps the old copy where it is, and a later launch
    // starts the move again (the copy and state 1 are written together by the
    // next synchronize that succeeds).
    if (!monitorDefaults->synchronize()) return;
    state = 1;
  }
  if (state == 1) {
    sharedDefaults->removeObjectForKey(kGWLMonitorHealthMonitorKey);
    // Either failed write loses nothing: the monitor suite already holds the
    // sample. At worst a stale copy stays in the shared preferences, or state 1
    // stays and a later launch removes the shared copy again.
    (void)sharedDefaults->synchronize();
    monitorDefaults->setInteger(2, kGWLMonitorMigrationStateKey);
    (void)monitorDefaults->synchronize();
  }
}

void GWLMonitor::loadMonitoringDataFromUserDefaultsOnMonitorQueue() {
  std::optional<platform::Object> stored;
  if (dependencies_.monitorUserDefaults) stored = dependencies_.monitorUserDefaults->objectForKey(kGWLMonitorHealthMonitorKey);
  monitoringSampledData_ = GWLMonitoringSampledData(stored);
}

void GWLMonitor::saveMonitoringDataToUserDefaultsOnMonitorQueue() {
  if (!dependencies_.monitorUserDefaults) return;
  auto data = monitoringSampledData_.sampledData();
  dependencies_.monitorUserDefaults->setObject(data ? platform::Object(*data) : platform::Object(),
                                               kGWLMonitorHealthMonitorKey);
  synchronizeToDiskOnMonitorQueue();
}

void GWLMonitor::synchronizeToDiskOnMonitorQueue() {
  // The sample is a health statistic: a failed write keeps it in memory for the next one.
  if (dependencies_.monitorUserDefaults) (void)dependencies_.monitorUserDefaults->synchronize();
}

void GWLMonitor::processLaunchArgumentsOnMonitorQueue() {
  const auto& arguments = dependencies_.launchArguments;
  const bool cvnDebugArgument = contains(arguments, "-CVNDebugDisabled") || contains(arguments, "-CVNDebugEnabled");
  deferToCVNLogger_.store(cvnDebugArgument && dependencies_.hasClass && dependencies_.hasClass("CVNConfiguration"));

  auto& sharedDefaults = dependencies_.sharedUserDefaults;
  if (contains(arguments, "-noGWLAnalyticsDebugEnabled") || contains(arguments, "-noCVNAnalyticsDebugEnabled") ||
      contains(arguments, "-CVNDebugDisabled")) {
    setDebugModeEnabled(false);
  } else if ((sharedDefaults && sharedDefaults->boolForKey(kGWLMonitorDebugModeKey)) ||
             contains(arguments, "-GWLAnalyticsDebugEnabled") || contains(arguments, "-CVNAnalyticsDebugEnabled") ||
             contains(arguments, "-CVNDebugEnabled")) {
    setDebugModeEnabled(true);
  }

  if (contains(arguments, "-GWLAnalyticsVerboseLoggingDisabled") ||
      contains(arguments, "-CVNAnalyticsVerboseLoggingDisabled")) {
    setVerboseLoggingEnabled(false);
  } else if ((sharedDefaults && sharedDefaults->boolForKey(kGWLMonitorVerboseLoggingKey)) ||
             contains(arguments, "-GWLAnalyticsVerboseLoggingEnabled") ||
             contains(arguments, "-CVNAnalyticsVerboseLoggingEnabled")) {
    setVerboseLoggingEnabled(true);
  }
}

// ---- switches ----

void GWLMonitor::setFrameworkLevel(int level) {
  if (!deferToCVNLogger_.load()) platform::HVUSetLoggerLevel(level);
}

void GWLMonitor::setDebugModeEnabled(bool enabled) {
  auto& sharedDefaults = dependencies_.sharedUserDefaults;
  if (enabled && isDebugModeAllowed()) {
    setFrameworkLevel(kFrameworkLevelDebug);
    if (sharedDefaults) sharedDefaults->setBool(true, kGWLMonitorDebugModeKey);
    debugModeEnabled_.store(true);
  } else {
    setFrameworkLevel(kFrameworkLevelNotice);
    if (sharedDefaults) sharedDefaults->removeObjectForKey(kGWLMonitorDebugModeKey);
    debugModeEnabled_.store(false);
  }
}

void GWLMonitor::setVerboseLoggingEnabled(bool enabled) {
  auto& sharedDefaults = dependencies_.sharedUserDefaults;
  if (enabled && isDebugModeAllowed()) {
    setFrameworkLevel(kFrameworkLevelDebug);
    if (sharedDefaults) sharedDefaults->setBool(true, kGWLMonitorVerboseLoggingKey);
    verboseLoggingEnabled_.store(true);
  } else {
    setFrameworkLevel(debugModeEnabled_.load() ? kFrameworkLevelDebug : kFrameworkLevelNotice);
    if (sharedDefaults) sharedDefaults->removeObjectForKey(kGWLMonitorVerboseLoggingKey);
    verboseLoggingEnabled_.store(false);
  }
}

void GWLMonitor::setSVTPDebugModeEnabled(bool enabled) {
  setFrameworkLevel(enabled ? kFrameworkLevelDebug : kFrameworkLevelNotice);
  if (enabled) {
    logWithLevel(kGWLLevelDebug, kSVTPDebugModeOnCode, kSVTPDebugModeOnMessage);
  } else {
    logWithLevel(kGWLLevelDebug, kSVTPDebugModeOffCode, kSVTPDebugModeOffMessage);
  }
  debugModeEnabled_.store(enabled);
}

// ---- level table ----

bool GWLMonitor::isSilentLevel(int64_t level) {
  return level == kGWLLevelErrorSilent || level == kGWLLevelWarningSilent || level < kGWLLevelError ||
         level > kGWLLevelVerbose;
}

bool GWLMonitor::isMonitorableLevel(int64_t level) {
  return level == kGWLLevelErrorSampled || level == kGWLLevelErrorSilent || level == kGWLLevelWarningSampled ||
         level == kGWLLevelWarningSilent || level < kGWLLevelError || level > kGWLLevelVerbose;
}

bool GWLMonitor::isLoggableLevel(int64_t level) const {
  return platform::HVUIsLoggableLevel(GWLASLLogger::HVULoggerLevelFromLogLevel(level)) && !isSilentLevel(level);
}

// ---- reporting ----

void GWLMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message) {
  logWithLevel(level, messageCode, message, std::vector<GWLLogContext>{});
}

void GWLMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const GWLLogContext& context) {
  logWithLevel(level, messageCode, message, std::vector<GWLLogContext>{context});
}

void GWLMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const GWLLogContext& context1, const GWLLogContext& context2) {
  logWithLevel(level, messageCode, message, std::vector<GWLLogContext>{context1, context2});
}

void GWLMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const GWLLogContext& context1, const GWLLogContext& context2,
                              const GWLLogContext& context3) {
  logWithLevel(level, messageCode, message, std::vector<GWLLogContext>{context1, context2, context3});
}

void GWLMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const std::vector<GWLLogContext>& contexts) {
  const bool loggable = isLoggableLevel(level);
  const bool monitorable = isMonitorableLevel(level);
  if (!loggable && !monitorable) return;
  if (level >= kGWLLevelVerbose && !isVerboseLoggingEnabled()) return;

  if (loggable) logToConsole(messageCode, stringWithLogMessage(message, level, contexts, encodeContexts()), level);

  if (monitorable) {
    std::string encodedContext = encodedStringWithContextArray(contexts, false);
    std::string errorContexts;
    for (const auto& context : contexts) {
      const platform::Error* error = context.error();
      if (!error) continue;
      std::string monitorContext = gwl_monitorContext(*error);
      if (monitorContext.empty()) continue;
      if (!errorContexts.empty()) errorContexts += ",";
      errorContexts += monitorContext;
    }
    if (!errorContexts.empty()) encodedContext += "," + errorContexts;
    insertOrUpdateMonitoringDataWithMessage(message, encodedContext, level);
  }
}

void GWLMonitor::logToConsole(int64_t messageCode, const std::string& text, int64_t level) {
  std::weak_ptr<GWLMonitor> weakSelf = weak_from_this();
  monitorQueue_->async([weakSelf, messageCode, text, level] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->logger_->logMessage(text, self->logTag(), messageCode, level);
  });
}

void GWLMonitor::insertOrUpdateMonitoringDataWithMessage(const std::optional<std::string>& message,
                                                         const std::string& encodedContext, int64_t level) {
  std::string key = monitoringDataKeyWithMessage(message, level, libraryVersion_);
  std::weak_ptr<GWLMonitor> weakSelf = weak_from_this();
  monitorQueue_->async([weakSelf, key, encodedContext] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->monitoringSampledData_.insertOrUpdateSampledDataWithKey(key, encodedContext, self->now(),
                                                                  self->dependencies_.randomBelow);
    self->saveMonitoringDataToUserDefaultsOnMonitorQueue();
  });
}

std::optional<std::string> GWLMonitor::monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                                 double lastSampledTimestamp) {
  std::optional<std::string> text;
  monitorQueue_->sync([&] {
    text = monitoringSampledData_.monitoringDataForDispatchWithSamplePeriod(samplePeriod, lastSampledTimestamp, now());
    if (text) saveMonitoringDataToUserDefaultsOnMonitorQueue();
  });
  return text;
}

void GWLMonitor::clearMonitoringData() {
  monitorQueue_->sync([&] {
    if (auto& sharedDefaults = dependencies_.sharedUserDefaults) {
      sharedDefaults->removeObjectForKey(kGWLMonitorDebugModeKey);
      sharedDefaults->removeObjectForKey(kGWLMonitorHealthMonitorKey);
    }
    if (auto& monitorDefaults = dependencies_.monitorUserDefaults) {
      monitorDefaults->removeObjectForKey(kGWLMonitorHealthMonitorKey);
    }
    loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  });
}

// ---- texts ----

std::string GWLMonitor::stringWithLogMessage(const std::optional<std::string>& message, int64_t /*level*/,
                                             const std::vector<GWLLogContext>& contexts, bool encodeContexts) {
  std::string text = !message ? "(Message was nil)" : message->empty() ? "(Message was empty)" : *message;
  if (contexts.empty()) return text;
  if (encodeContexts) return text + ": " + encodedStringWithContextArray(contexts, true);
  std::string joined;
  for (size_t i = 0; i < contexts.size(); ++i) {
    if (i > 0) joined += ", ";
    const GWLLogContext& context = contexts[i];
    if (const GWLException* exception = context.exception()) {
      auto symbol = lastGWLSymbolFromException(exception);
      joined += symbol && !symbol->empty() ? *symbol + ": " + exception->description() : exception->description();
    } else {
      joined += context.description();
    }
  }
  return text + ": " + joined;
}

std::string GWLMonitor::encodedStringWithContextArray(const std::vector<GWLLogContext>& contexts, bool insertSpaces) {
  std::string joined;
  for (size_t i = 0; i < contexts.size(); ++i) {
    if (i > 0) joined += insertSpaces ? ", " : ",";
    joined += encodedStringWithContextObject(contexts[i]);
  }
  return joined;
}

std::string GWLMonitor::encodedStringWithContextObject(const GWLLogContext& context) {
  switch (context.kind()) {
    case GWLLogContext::Kind::Null: return "";
    case GWLLogContext::Kind::String: return "-";
    case GWLLogContext::Kind::Integer:
    case GWLLogContext::Kind::Double: {
      // The order of magnitude, in integers only: 12345 gives 10000...99999
      // and -150 gives -999...-100. The magnitude is taken as unsigned so the
      // most negative value has one too, and the upper bound 10p-1 of the
      // largest decade still fits in 64 unsigned bits.
      const int64_t value = context.int64Value();
      const bool negative = value < 0;
      const uint64_t magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      if (magnitude <= 99) return std::to_string(value);
      uint64_t power = 1;
      while (power <= magnitude / 10) power *= 10;
      const uint64_t upper = power * 10 - 1;  // power <= 10^19 / 10, so no overflow
      if (negative) return signedText(true, upper) + "..." + signedText(true, power);
      return signedText(false, power) + "..." + signedText(false, upper);
    }
    case GWLLogContext::Kind::Exception: {
      auto symbol = lastGWLSymbolFromException(context.exception());
      return symbol && !symbol->empty() ? *symbol : "-";
    }
    case GWLLogContext::Kind::Error: {
      const platform::Error* error = context.error();
      return error->domain.empty() ? "-" : error->domain;
    }
    case GWLLogContext::Kind::Other: return "?";
  }
  return "?";
}

std::optional<std::string> GWLMonitor::lastGWLSymbolFromException(const GWLException* exception) {
  if (!exception) return std::nullopt;
  const auto& symbols = exception->callStackSymbols();
  if (symbols.size() <= 1) return exception->name();
  for (size_t i = 2; i < symbols.size(); ++i) {
    std::istringstream stream(symbols[i]);
    std::vector<std::string> parts;
    for (std::string part; stream >> part;) parts.push_back(part);
    if (parts.size() < 5) continue;
    std::string candidate = parts[4] == "+" ? parts[3] : parts[3] + " " + parts[4];
    if (containsGWLIgnoringCase(candidate)) return candidate;
  }
  return exception->name();
}

std::string GWLMonitor::monitoringDataKeyWithMessage(const std::optional<std::string>& message, int64_t level,
                                                     int64_t libraryVersion) {
  char classLetter = '?';
  if (level == kGWLLevelErrorSampled || level == kGWLLevelErrorSilent) classLetter = 'E';
  if (level == kGWLLevelWarningSampled || level == kGWLLevelWarningSilent) classLetter = 'W';
  return std::string("1") + classLetter + "_" + std::to_string(libraryVersion) + ":" + message.value_or("(null)");
}
