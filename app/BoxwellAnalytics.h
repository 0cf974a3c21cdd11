// BoxwellAnalytics — the app's usage events.
//
// Every event of the app goes through `logEvent`, which reads SEND_USAGE_DATA
// from the user defaults at that moment: while it is false the event is
// dropped without a trace; while it is true the name and parameters go
// unchanged to AppAnalytics::shared()->logEvent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/UserDefaults.h"
#include "platform/core/Object.h"

namespace tabulo {

inline constexpr const char* kPositiveReviewEvent = "positive_review";
inline constexpr const char* kNegativeReviewEvent = "negative_review";
inline constexpr const char* kDeveloperTappedEvent = "developer_tapped";
inline constexpr const char* kEvaluatedAppEvent = "evaluated_app";
inline constexpr const char* kRatingParameter = "rating";

class BoxwellAnalytics {
 public:
  // Sends the event while `userDefaults` says usage data may be sent; an
  // event without parameters passes none.
  static void logEvent(const UserDefaults& userDefaults, const std::string& name,
                       const std::optional<platform::Dictionary>& parameters = std::nullopt);
  // "evaluated_app" with "rating" = `rating`, over the standard user defaults.
  static void logEvaluation(int64_t rating);
  static void logEvaluation(int64_t rating, const UserDefaults& userDefaults);
};

}  // namespace tabulo
