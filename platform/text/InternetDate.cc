#include "platform/text/InternetDate.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct Civil {
  int64_t year;
  int64_t month;
  int64_t day;
};

Civil civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t daysInMonth(int64_t year, int64_t month) {
  static constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// The digits at `position`, `count` of them; nullopt when one is not a digit.
std::optional<int64_t> digitsAt(std::string_view text, size_t position, size_t count) {
  int64_t value = 0;
  for (size_t i = position; i < position + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The earliest and latest times with a four-digit year.
const double kEarliest = static_cast<double>(daysFromCivil(0, 1, 1) * kSecondsPerDay);
const double kAfterLatest = static_cast<double>(daysFromCivil(10000, 1, 1) * kSecondsPerDay);

}  // namespace

std::optional<std::string> formatInternetDate(double secondsSince1970) {
  if (!std::isfinite(secondsSince1970)) return std::nullopt;
  const double whole = std::floor(secondsSince1970);
  if (whole < kEarliest || whole >= kAfterLatest) return std::nullopt;
  const auto seconds = static_cast<int64_t>(whole);
  int64_t days = seconds / kSecondsPerDay;
  int64_t secondOfDay = seconds % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    days -= 1;
  }
  const Civil date = civilFromDays(days);
  char text[128];  // room for any int64 fields, though the year has four digits here
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(date.year),
                static_cast<long long>(date.month), static_cast<long long>(date.day),
                static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60));
  return std::string(text);
}

std::optional<double> parseInternetDate(std::string_view text) {
  // yyyy-MM-ddTHH:mm:ss is 19 characters; the zone follows.
  if (text.size() < 20) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') return std::nullopt;
  auto year = digitsAt(text, 0, 4);
  auto month = digitsAt(text, 5, 2);
  auto day = digitsAt(text, 8, 2);
  auto hour = digitsAt(text, 11, 2);
  auto minute = digitsAt(text, 14, 2);
  auto second = digitsAt(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 ||
      *second > 59) {
    return std::nullopt;
  }
  int64_t offset = 0;
  std::string_view zone = text.substr(19);
  if (zone != "Z") {
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return std::nullopt;
    auto offsetHours = digitsAt(zone, 1, 2);
    auto offsetMinutes = digitsAt(zone, 4, 2);
    if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
    offset = (*offsetHours * 3600 + *offsetMinutes * 60) * (zone[0] == '-' ? -1 : 1);
  }
  const int64_t local = daysFromCivil(*year, *month, *day) * kSecondsPerDay + *hour * 3600 + *minute * 60 + *second;
  return static_cast<double>(local - offset);
}

}  // namespace platform
