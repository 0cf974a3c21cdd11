#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "platform/storage/Paths.h"

namespace {

using Report = std::tuple<int64_t, int64_t, std::string>;

TEST(LibraryPaths, WithoutADataDirectoryPathsAreEmptyAndReportedThroughTheReporter) {
  platform::Paths::setCurrent(nullptr);
  std::vector<Report> reports;
  GWLPathsReporter previous =
      GWLSetPathsReporter([&](int64_t level, int64_t code, const std::string& message) {
        reports.emplace_back(level, code, message);
      });
  EXPECT_EQ(GWLPreferencesFilePath("suite"), "");
  EXPECT_EQ(GWLMeasurementDirectoryPath("file.sql"), "");
  EXPECT_EQ(GWLMeasurementPlistPath(""), "") << "an empty name is no report";
  GWLSetPathsReporter(previous);
  EXPECT_EQ(reports, (std::vector<Report>{
                         {2, 19000, "NSSearchPath for Library directory is empty"},
                         {2, 19001, "NSSearchPath for ApplicationSupport directory is empty"}}));
}

TEST(LibraryPaths, ReportsReachTheLibraryMonitor) {
  platform::Paths::setCurrent(nullptr);
  foundation_test::MonitorSetup setup;
  auto monitor = setup.make();
  GWLLibraryMonitor::resetForTesting(monitor);
  EXPECT_EQ(GWLPreferencesFilePath("suite"), "");
  monitor->flush();
  auto sample = setup.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
  GWLLibraryMonitor::resetForTesting();
  ASSERT_TRUE(sample && sample->size() >= 3 && (*sample)[2].stringValue());
  EXPECT_EQ(*(*sample)[2].stringValue(), "1E_120500:NSSearchPath for Library directory is empty");
}

TEST(LibraryPaths, DataDirectoryGivesTheLibraryDirectory) {
  foundation_test::DataDirectory data;
  EXPECT_EQ(GWLMeasurementPlistPath("settings"),
            data.paths()->applicationSupportDirectory() + "/Halcyra/Measurement/settings.plist");
  EXPECT_EQ(GWLPreferencesFilePath("suite.plist"), data.paths()->preferencesDirectory() + "/suite.plist");
}

}  // namespace
