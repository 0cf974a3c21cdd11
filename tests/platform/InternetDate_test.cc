#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/text/InternetDate.h"

namespace {

TEST(InternetDateTest, FormatsInGMTWithWholeSeconds) {
  struct Row {
    double seconds;
    std::optional<std::string> text;
  };
  const Row rows[] = {
      {0, "1970-01-01T00:00:00Z"},
      {1709285400.75, "2024-03-01T09:30:00Z"},  // the fraction is dropped
      {951782400, "2000-02-29T00:00:00Z"},      // a leap day
      {-0.5, "1969-12-31T23:59:59Z"},           // toward the earlier second
      {-62167219200, "0000-01-01T00:00:00Z"},
      {253402300799, "9999-12-31T23:59:59Z"},
      {253402300800, std::nullopt},  // a five-digit year
      {-62167219201, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(platform::formatInternetDate(row.seconds), row.text) << row.seconds;
}

TEST(InternetDateTest, ParsesTheFormAndItsOffsets) {
  struct Row {
    const char* text;
    std::optional<double> seconds;
  };
  const Row rows[] = {
      {"2024-03-01T09:30:00Z", 1709285400},
      {"2024-03-01T10:30:00+01:00", 1709285400},
      {"2024-03-01T01:00:00-08:30", 1709285400},
      {"2000-02-29T00:00:00Z", 951782400},
      {"1969-12-31T23:59:59Z", -1},
      {"2023-02-29T00:00:00Z", std::nullopt},  // not a leap year
      {"2024-13-01T00:00:00Z", std::nullopt},
      {"2024-00-01T00:00:00Z", std::nullopt},
      {"2024-03-01T24:00:00Z", std::nullopt},
      {"2024-03-01T09:60:00Z", std::nullopt},
      {"2024-03-01T09:30:60Z", std::nullopt},
      {"2024-03-01T09:30:00", std::nullopt},  // no zone
      {"2024-03-01 09:30:00Z", std::nullopt},
      {"2024-03-01T09:30:00+0100", std::nullopt},
      {"2024-03-01T09:30:00+24:00", std::nullopt},
      {"2024-03-01T09:30:00Zx", std::nullopt},
      {"+024-03-01T09:30:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(platform::parseInternetDate(row.text), row.seconds) << row.text;
}

TEST(InternetDateTest, IgnoresTheProcessLocaleAndTimeZone) {
  ::setenv("TZ", "Asia/Kolkata", 1);
  const char* previous = std::setlocale(LC_ALL, nullptr);
  std::string saved = previous ? previous : "C";
  std::setlocale(LC_ALL, "");
  EXPECT_EQ(platform::formatInternetDate(1709285400), "2024-03-01T09:30:00Z");
  EXPECT_EQ(platform::parseInternetDate("2024-03-01T09:30:00Z"), 1709285400);
  std::setlocale(LC_ALL, saved.c_str());
  ::unsetenv("TZ");
}

TEST(InternetDateTest, EveryFormattedSecondParsesBack) {
  for (double seconds = -86400.0 * 800; seconds < 86400.0 * 800 * 40; seconds += 86400.0 * 13 + 3607.25) {
    auto text = platform::formatInternetDate(seconds);
    ASSERT_TRUE(text);
    EXPECT_EQ(platform::parseInternetDate(*text), std::floor(seconds)) << *text;
  }
}

}  // namespace
