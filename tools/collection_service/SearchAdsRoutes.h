// The collection service's search-ads attribution API, answered from the
// "search_ads" section of the attribution scenario (see AttributionScenario.h):
//
//   POST /api/v1/   body the attribution token (text) -> the scenario's fail
//                   statuses first, one each, with the answer as their body;
//                   then 400 for an empty body, else 200 and the answer
//
// Without a "search_ads" section the path answers 404. Body and header fields
// of each request are kept by the request capture (--capture); the failure
// switches of /control/ apply as to every path.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "analytics/attribution/testing/AttributionScenario.h"

namespace httplib {
class Server;
}

inline constexpr const char* kSearchAdsAttributionPath = "/api/v1/";

class SearchAdsRoutes {
 public:
  explicit SearchAdsRoutes(std::optional<tabulo::psm_double::SearchAdsScenario> scenario)
      : scenario_(std::move(scenario)) {}

  void install(httplib::Server& server);

 private:
  const std::optional<tabulo::psm_double::SearchAdsScenario> scenario_;
  std::mutex mutex_;             // guards failuresAnswered_
  size_t failuresAnswered_ = 0;  // fail statuses used so far
};
