#include "base/logging_hooks.h"

#include <gtest/gtest.h>

#include <string>

#include "absl/base/internal/raw_logging.h"
#include "base/casts.h"

namespace base {
namespace {

using logging_internal::Basename;
using logging_internal::FilterAndPrefix;

TEST(LoggingHooksTest, Basename) {
  struct Case {
    const char* path;
    const char* base;
  } cases[] = {
      {"a/b/c.cc", "c.cc"},   {"a\\b\\c.cc", "c.cc"}, {"a/b\\c.cc", "c.cc"},
      {"a\\b/c.cc", "c.cc"},  {"c.cc", "c.cc"},       {"dir/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Basename(c.path), c.base) << c.path;
}

std::string Prefix(absl::LogSeverity severity, const char* file, int line, bool* kept) {
  char buffer[256] = {};
  char* at = buffer;
  int size = sizeof(buffer);
  *kept = FilterAndPrefix(severity, file, line, &at, &size);
  EXPECT_EQ(at - buffer + size, static_cast<int>(sizeof(buffer)));
  return std::string(buffer, at);
}

TEST(LoggingHooksTest, PrefixAndFilter) {
  const LoggingSettings defaults = GetLoggingSettings();
  bool kept = false;
  std::string prefix = Prefix(absl::LogSeverity::kWarning, "src\\crypto\\ec_group.cc", 42, &kept);
  EXPECT_TRUE(kept);
  EXPECT_EQ(prefix[0], 'W');
  EXPECT_EQ(prefix.substr(prefix.size() - 17), " ec_group.cc:42] ");

  LoggingSettings settings = defaults;
  settings.min_log_level = 2;
  SetLoggingSettings(settings);
  Prefix(absl::LogSeverity::kWarning, "x.cc", 1, &kept);
  EXPECT_FALSE(kept);
  Prefix(absl::LogSeverity::kError, "x.cc", 1, &kept);
  EXPECT_TRUE(kept);

  settings = defaults;
  settings.drop_info_and_warning_below_threshold = true;
  SetLoggingSettings(settings);
  Prefix(absl::LogSeverity::kInfo, "x.cc", 1, &kept);
  EXPECT_FALSE(kept);
  Prefix(absl::LogSeverity::kError, "x.cc", 1, &kept);
  EXPECT_TRUE(kept);
  SetLoggingSettings(defaults);

  // A buffer too small for the prefix is used up, not overrun.
  char tiny[8];
  char* at = tiny;
  int size = sizeof(tiny);
  EXPECT_TRUE(FilterAndPrefix(absl::LogSeverity::kError, "x.cc", 1, &at, &size));
  EXPECT_EQ(size, 0);
}

TEST(LoggingHooksTest, InternalLogClampsSeverity) {
  ::testing::internal::CaptureStderr();
  logging_internal::InternalLog(static_cast<absl::LogSeverity>(7), "dir/file.cc", 9, "clamped to error");
  logging_internal::InternalLog(static_cast<absl::LogSeverity>(-2), "dir/file.cc", 10, "clamped to info");
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("file.cc:9] clamped to error"), std::string::npos) << out;
  EXPECT_EQ(out[0], 'E');
  EXPECT_NE(out.find("\nI"), std::string::npos) << out;
  EXPECT_NE(out.find("file.cc:10] clamped to info"), std::string::npos) << out;
}

TEST(LoggingHooksDeathTest, FatalLinesPrintAStackTrace) {
  EXPECT_DEATH(ABSL_RAW_LOG(FATAL, "stopping here"), "stopping here(.|\n)*Stack trace:\n    @ 0x");
}

struct Base {
  virtual ~Base() = default;
};
struct Derived : Base {};
struct Other : Base {};

TEST(LoggingHooksDeathTest, BadDownCast) {
  Other other;
  Base* base = &other;
  Derived derived;
  Base* good = &derived;
  EXPECT_EQ(down_cast<Derived*>(good), &derived);
  EXPECT_EQ(down_cast<Derived*>(static_cast<Base*>(nullptr)), nullptr);
  EXPECT_DEATH(down_cast<Derived*>(base),
               "To down_cast\\(From \\*\\) \\[To = base::.*::Derived ?\\*, From = "
               "base::.*::Base\\]: down_cast failed \\(actual type = "
               "base::\\(anonymous namespace\\)::Other\\)");
}

}  // namespace
}  // namespace base
