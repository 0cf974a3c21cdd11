// platform::formatInternetDate / parseInternetDate — the internet date form
// "yyyy-MM-dd'T'HH:mm:ssZZZZZ" in GMT, such as "2024-03-01T09:30:00Z", as the
// store's receipts write their dates.
//
// Locale-free: the digits and separators are fixed ASCII, the calendar is the
// proleptic Gregorian one, and neither the process's locale nor its time zone
// is read. Times are seconds since 1970 as doubles; formatting keeps whole
// seconds (a fraction is dropped toward the earlier second), so formatting
// and parsing back gives the whole second the time falls in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The text of the time in GMT with the zone written "Z"; nullopt for a time
// that is not finite or whose year lies outside 0000-9999.
[[nodiscard]] std::optional<std::string> formatInternetDate(double secondsSince1970);

// The time the text names: exactly "yyyy-MM-ddTHH:mm:ss" followed by "Z" or an
// offset "+HH:MM" / "-HH:MM". Fields out of their range (month 13, February
// 30th, hour 24, second 60) and anything else answer nullopt.
[[nodiscard]] std::optional<double> parseInternetDate(std::string_view text);

}  // namespace platform
