#include <gtest/gtest.h>

#include <limits>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLError.h"
#include "platform/core/Log.h"
#include "platform/storage/AtomicFile.h"

namespace {

using foundation_test::MonitorSetup;

std::optional<platform::Array> storedSample(const MonitorSetup& setup) {
  return setup.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
}

int64_t population(const MonitorSetup& setup) {
  auto sample = storedSample(setup);
  return sample ? (*sample)[1].intValue().value_or(-1) : 0;
}

TEST(MonitorLevels, LevelTableDecidesPrintingAndSampling) {
  struct Row {
    int64_t level;
    bool printed;
    bool sampled;
    platform::LogLevel frameworkLevel;
  };
  const Row rows[] = {
      {0, true, false, platform::LogLevel::Error},   {1, true, true, platform::LogLevel::Error},
      {2, false, true, platform::LogLevel::Error},   {3, true, false, platform::LogLevel::Warning},
      {4, true, true, platform::LogLevel::Warning},  {5, false, true, platform::LogLevel::Warning},
      {6, true, false, platform::LogLevel::Notice},  {7, true, false, platform::LogLevel::Debug},
      {8, false, false, platform::LogLevel::Debug},  // verbose logging is off
      {9, false, false, platform::LogLevel::Warning}, {-1, false, true, platform::LogLevel::Warning},
  };
  for (const Row& row : rows) {
    MonitorSetup setup;
    auto monitor = setup.make();
    platform::log::ScopedCapture capture;  // framework level: debug
    monitor->logWithLevel(row.level, 42, "Report");
    monitor->flush();
    auto records = capture.sink().records();
    ASSERT_EQ(records.size(), row.printed ? 1u : 0u) << "level " << row.level;
    if (row.printed) {
      EXPECT_EQ(records[0].level, row.frameworkLevel) << "level " << row.level;
      EXPECT_EQ(records[0].code, "I-ACS000042");
      EXPECT_EQ(records[0].category, "<Gaugewell>");
      EXPECT_EQ(records[0].subsystem, "com.halcyra.corvane.analytics");
      EXPECT_EQ(records[0].message, "Report");
    }
    EXPECT_EQ(population(setup), row.sampled ? 1 : 0) << "level " << row.level;
    EXPECT_EQ(GWLMonitor::isSilentLevel(row.level), !row.printed && row.level != 8) << "level " << row.level;
  }
}

TEST(MonitorLevels, FrameworkLevelFiltersPrintedReports) {
  MonitorSetup setup;
  auto monitor = setup.make();
  platform::log::ScopedCapture capture;
  platform::HVUSetLoggerLevel(4);  // warnings and errors only
  monitor->logWithLevel(6, 1, "notice");
  monitor->logWithLevel(7, 2, "debug");
  monitor->logWithLevel(3, 3, "warning");
  monitor->flush();
  EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{"I-ACS000003 warning"});
}

TEST(MonitorLevels, VerboseLoggingAdmitsLevelEight) {
  MonitorSetup setup;
  auto monitor = setup.make();
  platform::log::ScopedCapture capture;
  monitor->setVerboseLoggingEnabled(true);
  monitor->logWithLevel(8, 5, "verbose");
  monitor->logWithLevel(9, 6, "beyond the table");
  monitor->flush();
  EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{"I-ACS000005 verbose"});
  EXPECT_EQ(population(setup), 1) << "the level beyond the table is sampled once verbose logging is on";
  EXPECT_EQ(*storedSample(setup)->at(2).stringValue(), "1?_120500:beyond the table");
}

TEST(MonitorTexts, ConsoleLinesAndSampleOfContexts) {
  MonitorSetup setup;
  auto monitor = setup.make();
  platform::log::ScopedCapture capture;
  monitor->logWithLevel(4, 12002, "Database failed", "user@example.com", 7, 4200);
  monitor->logWithLevel(3, 12003, "", GWLLogContext());
  monitor->logWithLevel(3, 12004, std::nullopt);
  monitor->logWithLevel(3, 12005, "100% done");
  monitor->setEncodeContexts(true);
  monitor->logWithLevel(3, 12006, "Encoded", std::vector<GWLLogContext>{"secret", 7, 4200, nullptr});
  monitor->flush();
  EXPECT_EQ(capture.sink().lines(), (std::vector<std::string>{
                                        "I-ACS012002 Database failed: user@example.com, 7, 4200",
                                        "I-ACS012003 (Message was empty): (nil)",
                                        "I-ACS012004 (Message was nil)",
                                        "I-ACS012005 100% done",
                                        "I-ACS012006 Encoded: -, 7, 1000...9999, ",
                                    }));
  // The sample never holds the string itself.
  auto sample = storedSample(setup);
  ASSERT_TRUE(sample);
  EXPECT_EQ(*(*sample)[0].stringValue(), "-,7,1000...9999");
  EXPECT_EQ(*(*sample)[2].stringValue(), "1W_120500:Database failed");
}

TEST(MonitorTexts, LibraryErrorsAddTheirMonitorContextToTheSample) {
  MonitorSetup setup;
  auto monitor = setup.make();
  monitor->logWithLevel(2, 12010, "Insert failed", gwl_errorWithCode(3, "Failed", "raw_events:insert"),
                        platform::Error("other.domain", 1, "x"), gwl_errorWithCode(3, "No context"));
  monitor->flush();
  EXPECT_EQ(*storedSample(setup)->at(0).stringValue(),
            "com.halcyra.qrx.measurement.ErrorDomain,other.domain,com.halcyra.qrx.measurement.ErrorDomain,"
            "raw_events:insert");
}

TEST(MonitorTexts, NumbersEncodeAsTheirOrderOfMagnitude) {
  const std::pair<GWLLogContext, std::string> cases[] = {
      {0, "0"},
      {99, "99"},
      {-99, "-99"},
      {100, "100...999"},
      {12345, "10000...99999"},
      {-150, "-999...-100"},
      {999999999999999999LL, "100000000000000000...999999999999999999"},
      {std::numeric_limits<int64_t>::max(), "1000000000000000000...9999999999999999999"},
      {std::numeric_limits<int64_t>::min(), "-9999999999999999999...-1000000000000000000"},
      {4200.9, "1000...9999"},
      {1e300, "1000000000000000000...9999999999999999999"},
      {"text", "-"},
      {nullptr, ""},
      {platform::Error("", 1, "no domain"), "-"},
      {platform::Object(platform::Array{1}), "?"},
  };
  for (const auto& [context, encoded] : cases) {
    EXPECT_EQ(GWLMonitor::encodedStringWithContextObject(context), encoded) << context.description();
  }
}

TEST(MonitorTexts, ExceptionsAreNamedByTheirLastLibraryFunction) {
  GWLException withSymbol("NSInvalidArgumentException", "bad value",
                          {"0   CoreFoundation   0x0001 __exceptionPreprocess + 164",
                           "1   libobjc.A.dylib  0x0002 objc_exception_throw + 60",
                           "2   Tabulo   0x0003 -[GWLDatabase insertRawEvent:] + 120",
                           "3   Tabulo   0x0004 GWLHelper + 8", "4   Tabulo   0x0005 -[GWLOther run] + 4"});
  EXPECT_EQ(GWLMonitor::lastGWLSymbolFromException(&withSymbol), "-[GWLDatabase insertRawEvent:]");
  GWLException cFunction("E", "r", {"a", "b", "3   Tabulo   0x0004 gwlHelper + 8"});
  EXPECT_EQ(GWLMonitor::lastGWLSymbolFromException(&cFunction), "gwlHelper");
  GWLException noLibrarySymbol("NSRangeException", "out of range", {"a", "b", "2   UIKit   0x1 -[UIView layout] + 1"});
  EXPECT_EQ(GWLMonitor::lastGWLSymbolFromException(&noLibrarySymbol), "NSRangeException");
  EXPECT_EQ(GWLMonitor::lastGWLSymbolFromException(nullptr), std::nullopt);

  EXPECT_EQ(GWLMonitor::encodedStringWithContextObject(withSymbol), "-[GWLDatabase insertRawEvent:]");
  EXPECT_EQ(GWLMonitor::stringWithLogMessage("Failed", 1, {withSymbol}, false),
            "Failed: -[GWLDatabase insertRawEvent:]: bad value");
}

TEST(MonitorSample, ReservoirKeepsEachReportWithEqualChance) {
  MonitorSetup setup;
  setup.draws->answers = {1, 0, 2};  // keep, replace, keep
  auto monitor = setup.make();
  const double created = setup.clock->now();
  for (int i = 1; i <= 4; ++i) {
    monitor->logWithLevel(1, i, "report " + std::to_string(i), i * 1000);
    monitor->flush();  // the sample takes the time when the monitor queue runs the update
    setup.clock->advance(10);
  }
  monitor->flush();
  // Report n replaces the kept one when a uniform draw below n is 0.
  EXPECT_EQ(setup.drawBounds(), (std::vector<uint64_t>{2, 3, 4}));
  auto sample = storedSample(setup);
  ASSERT_TRUE(sample);
  EXPECT_EQ(*(*sample)[2].stringValue(), "1E_120500:report 3");
  EXPECT_EQ(*(*sample)[0].stringValue(), "1000...9999");
  EXPECT_EQ((*sample)[1], platform::Object(4));
  EXPECT_EQ((*sample)[3], platform::Object(platform::Date{created})) << "the creation time is the first report's";
}

TEST(MonitorSample, HandedOutOnceAfterThePeriod) {
  MonitorSetup setup;
  auto monitor = setup.make();
  monitor->logWithLevel(4, 7, "Slow", "x");
  monitor->flush();
  setup.clock->advance(10);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, 0), std::nullopt);
  EXPECT_TRUE(storedSample(setup));

  setup.clock->advance(86400);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, 0), "1:1W_120500:Slow:-");
  EXPECT_FALSE(setup.monitorDefaults->objectForKey(kGWLMonitorHealthMonitorKey)) << "the persisted sample is removed";
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, 0), std::nullopt);

  monitor->logWithLevel(5, 8, "No context");
  monitor->flush();
  setup.clock->advance(86401);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, 0), "1:1W_120500:No context");
}

TEST(MonitorSample, EmptySampleReportsZeroOncePeriodPassed) {
  MonitorSetup setup;
  auto monitor = setup.make();
  const double now = setup.clock->now();
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, 0), std::nullopt);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, now - 100), std::nullopt);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, now - 86401), "0:");
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(86400, now + 86401), "0:") << "either direction";
}

TEST(MonitorSample, SurvivesARestartAndIgnoresAStoredEntryOfTheWrongShape) {
  MonitorSetup setup;
  auto first = setup.make();
  first->logWithLevel(1, 1, "Before restart");
  first->flush();
  first.reset();

  auto second = setup.make();
  second->logWithLevel(1, 1, "After restart");
  second->flush();
  EXPECT_EQ(population(setup), 2);

  for (const platform::Object& wrong :
       {platform::Object(platform::Array{"ctx", 1, "key"}), platform::Object(platform::Array{"ctx", "1", "key", platform::Date{1}}),
        platform::Object("text")}) {
    MonitorSetup other;
    other.monitorDefaults->setObject(wrong, kGWLMonitorHealthMonitorKey);
    auto monitor = other.make();
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(0, 0), std::nullopt) << wrong.description();
    monitor->logWithLevel(1, 1, "Fresh");
    monitor->flush();
    EXPECT_EQ(population(other), 1) << "replaced by a fresh entry";
  }
}

TEST(MonitorSample, MovesTheFormerSampleOutOfTheSharedPreferences) {
  MonitorSetup setup;
  platform::Array former{"ctx", 3, "1E_120500:old", platform::Date{1000}};
  setup.sharedDefaults->setObject(former, kGWLMonitorHealthMonitorKey);
  auto monitor = setup.make();
  EXPECT_FALSE(setup.sharedDefaults->objectForKey(kGWLMonitorHealthMonitorKey));
  EXPECT_EQ(storedSample(setup), former);
  EXPECT_EQ(setup.monitorDefaults->integerForKey(kGWLMonitorMigrationStateKey), 2);

  // Once moved, a value that turns up again in the shared preferences stays where it is.
  setup.sharedDefaults->setObject(former, kGWLMonitorHealthMonitorKey);
  monitor.reset();
  setup.monitorDefaults->removeObjectForKey(kGWLMonitorHealthMonitorKey);
  auto again = setup.make();
  EXPECT_FALSE(storedSample(setup));
}

TEST(MonitorSample, AFailedMoveKeepsTheFormerSampleInTheSharedPreferences) {
  MonitorSetup setup;
  platform::Array former{"ctx", 3, "1E_120500:old", platform::Date{1000}};
  setup.sharedDefaults->setObject(former, kGWLMonitorHealthMonitorKey);
  ASSERT_TRUE(setup.sharedDefaults->synchronize());

  // The monitor suite cannot be written.
  platform::setAtomicWriteHookForTesting([](const std::string& temporaryPath) {
    return temporaryPath.find(kGWLMonitorSuiteName) == std::string::npos;
  });
  setup.make()->flush();
  platform::setAtomicWriteHookForTesting(nullptr);
  EXPECT_EQ(setup.sharedDefaults->arrayForKey(kGWLMonitorHealthMonitorKey), former);
  EXPECT_EQ(foundation_test::suiteIn(setup.tmp.path(), "app")->arrayForKey(kGWLMonitorHealthMonitorKey), former)
      << "still on disk";

  // The next launch, with suites read again from disk, moves it.
  setup.monitorDefaults = foundation_test::suiteIn(setup.tmp.path(), kGWLMonitorSuiteName);
  setup.sharedDefaults = foundation_test::suiteIn(setup.tmp.path(), "app");
  EXPECT_FALSE(storedSample(setup)) << "nothing of the failed move reached the monitor suite's file";
  setup.make()->flush();
  EXPECT_EQ(storedSample(setup), former);
  EXPECT_FALSE(setup.sharedDefaults->objectForKey(kGWLMonitorHealthMonitorKey));
  EXPECT_EQ(setup.monitorDefaults->integerForKey(kGWLMonitorMigrationStateKey), 2);
}

TEST(MonitorSample, ClearingForgetsSampleAndDebugModeButNotVerboseLogging) {
  MonitorSetup setup;
  auto monitor = setup.make();
  platform::log::ScopedCapture capture;
  monitor->setDebugModeEnabled(true);
  monitor->setVerboseLoggingEnabled(true);
  monitor->logWithLevel(1, 1, "Sampled");
  monitor->clearMonitoringData();
  EXPECT_FALSE(storedSample(setup));
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(0, 0), std::nullopt);
  EXPECT_FALSE(setup.sharedDefaults->objectForKey(kGWLMonitorDebugModeKey));
  EXPECT_TRUE(setup.sharedDefaults->boolForKey(kGWLMonitorVerboseLoggingKey));
}

TEST(MonitorSwitches, LaunchArgumentsAndPersistedFlags) {
  struct Case {
    std::vector<std::string> arguments;
    bool persistedDebug;
    bool persistedVerbose;
    bool debug;
    bool verbose;
  };
  const Case cases[] = {
      {{}, false, false, false, false},
      {{"-GWLAnalyticsDebugEnabled"}, false, false, true, false},
      {{"-CVNAnalyticsDebugEnabled", "-CVNAnalyticsVerboseLoggingEnabled"}, false, false, true, true},
      {{"-CVNDebugEnabled"}, false, false, true, false},
      {{}, true, true, true, true},
      {{"-noGWLAnalyticsDebugEnabled", "-GWLAnalyticsDebugEnabled"}, true, false, false, false},
      {{"-CVNDebugDisabled"}, true, false, false, false},
      {{"-GWLAnalyticsVerboseLoggingDisabled"}, false, true, false, false},
      {{"-GWLAnalyticsVerboseLoggingEnabled"}, false, false, false, true},
  };
  for (const Case& c : cases) {
    platform::log::ScopedCapture capture;
    MonitorSetup setup;
    setup.launchArguments = c.arguments;
    if (c.persistedDebug) setup.sharedDefaults->setBool(true, kGWLMonitorDebugModeKey);
    if (c.persistedVerbose) setup.sharedDefaults->setBool(true, kGWLMonitorVerboseLoggingKey);
    auto monitor = setup.make();
    std::string label = ::testing::PrintToString(c.arguments);
    EXPECT_TRUE(monitor->isDebugModeAllowed());
    EXPECT_EQ(monitor->isDebugModeEnabled(), c.debug) << label;
    EXPECT_EQ(monitor->isVerboseLoggingEnabled(), c.verbose) << label;
    // The flags persist exactly while they are on.
    EXPECT_EQ(setup.sharedDefaults->boolForKey(kGWLMonitorDebugModeKey), c.debug) << label;
    EXPECT_EQ(setup.sharedDefaults->boolForKey(kGWLMonitorVerboseLoggingKey), c.verbose) << label;
    EXPECT_EQ(platform::log::level(),
              c.debug || c.verbose ? platform::LogLevel::Debug
              : c.arguments.empty() ? platform::LogLevel::Debug  // untouched: the capture's level
                                    : platform::LogLevel::Notice)
        << label;
  }
}

TEST(MonitorSwitches, StoreBuildIgnoresArgumentsAndFlags) {
  platform::log::ScopedCapture capture;
  platform::HVUSetLoggerLevel(5);
  MonitorSetup setup;
  setup.installedFromAppStore = true;
  setup.launchArguments = {"-GWLAnalyticsDebugEnabled", "-GWLAnalyticsVerboseLoggingEnabled"};
  setup.sharedDefaults->setBool(true, kGWLMonitorDebugModeKey);
  auto monitor = setup.make();
  EXPECT_FALSE(monitor->isDebugModeAllowed());
  EXPECT_FALSE(monitor->isDebugModeEnabled());
  EXPECT_FALSE(monitor->isVerboseLoggingEnabled());
  EXPECT_EQ(platform::log::level(), platform::LogLevel::Notice);

  monitor->setDebugModeEnabled(true);
  EXPECT_FALSE(monitor->isDebugModeEnabled());
  EXPECT_FALSE(setup.sharedDefaults->objectForKey(kGWLMonitorDebugModeKey)) << "switching off removes the flag";
}

TEST(MonitorSwitches, CoreFrameworkLoggerTakesOverTheLevel) {
  platform::log::ScopedCapture capture;
  platform::HVUSetLoggerLevel(4);
  MonitorSetup setup;
  setup.launchArguments = {"-CVNDebugEnabled"};
  setup.classes = {"CVNConfiguration"};
  auto monitor = setup.make();
  EXPECT_TRUE(monitor->isDebugModeEnabled());
  EXPECT_EQ(platform::log::level(), platform::LogLevel::Warning) << "the level is left to the core framework";
}

TEST(MonitorSwitches, ServerSideTaggingPreviewNeitherAsksNorPersists) {
  platform::log::ScopedCapture capture;
  MonitorSetup setup;
  setup.installedFromAppStore = true;
  auto monitor = setup.make();
  monitor->setSVTPDebugModeEnabled(true);
  EXPECT_TRUE(monitor->isDebugModeEnabled());
  EXPECT_FALSE(setup.sharedDefaults->objectForKey(kGWLMonitorDebugModeKey));
  monitor->setSVTPDebugModeEnabled(false);
  monitor->flush();
  EXPECT_FALSE(monitor->isDebugModeEnabled());
  // Switching off lowers the level to notice before the debug-level report, so only "on" prints.
  EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{"I-ACS024006 SVTP debug mode is on"});
}

TEST(MonitorConcurrency, ReportsFromManyThreadsAreAllCounted) {
  MonitorSetup setup;
  auto monitor = setup.make();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&monitor, t] {
      for (int i = 0; i < 10; ++i) monitor->logWithLevel(2, t, "silent", i);
    });
  }
  monitor->setEncodeContexts(true);
  monitor->setLogTag("<Other>");
  for (auto& thread : threads) thread.join();
  monitor->flush();
  EXPECT_EQ(population(setup), 40);
}

TEST(LibraryErrors, ConstructorsAndOutParameterHelpers) {
  platform::Error error = gwl_errorWithCode(3, "Failed to read", "bundles:select");
  EXPECT_EQ(error.domain, "com.halcyra.qrx.measurement.ErrorDomain");
  EXPECT_EQ(error.code, 3);
  EXPECT_EQ(error.description, "Failed to read");
  EXPECT_EQ(gwl_monitorContext(error), "bundles:select");

  platform::Error empty = gwl_errorWithCode(2, "");
  EXPECT_TRUE(empty.description.empty());
  EXPECT_FALSE(empty.context) << "empty texts are left out";

  platform::Error out;
  int value = 0;
  int* present = &value;
  int* missing = nullptr;
  EXPECT_TRUE(GWLSetErrorIfNil(present, &out, 1, "first") && GWLSetErrorIfNilObject(5, &out, 1, "second"));
  EXPECT_EQ(out.code, 0) << "nothing stored while every guard passes";
  EXPECT_FALSE(GWLSetErrorIfNil(present, &out, 1, "first") && GWLSetErrorIfNil(missing, &out, 13, "second") &&
               GWLSetErrorIfNilObject(0, &out, 1, "third"));
  EXPECT_EQ(out.code, 13);
  EXPECT_EQ(out.description, "second") << "the first failing guard names the error";

  EXPECT_FALSE(GWLSetErrorUnlessSuccess(false, nullptr, 2, "a null out-parameter only answers"));
  EXPECT_TRUE(GWLSetErrorUnlessSuccess(true, &out, 2, "kept"));
  EXPECT_FALSE(GWLSetErrorIfNilStore(nullptr, &out, 3, "no handle"));
  EXPECT_EQ(out.description, "no handle");
  EXPECT_EQ(GWLSetErrorWithMonitorContext(&out, 3, "d", "ctx"), out);
  EXPECT_EQ(gwl_monitorContext(out), "ctx");
}

}  // namespace
