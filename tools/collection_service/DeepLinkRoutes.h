// The collection service's deferred deep link lookup, answered from the
// "deeplink" section of the attribution scenario (see AttributionScenario.h):
//
//   GET /adconv/app/deeplink?sdk_version=…&rdid=…   200 with the scenario's
//                                                   answer as JSON, or 204
//                                                   without a body
//
// The request, query included, is kept like every other with --capture DIR
// (RequestCapture.h). The failure switches of /control/ apply as to every path.
#pragma once

#include <optional>

#include "analytics/attribution/testing/AttributionScenario.h"

namespace httplib {
class Server;
}

inline constexpr const char* kDeferredDeepLinkLookupPath = "/adconv/app/deeplink";

class DeepLinkRoutes {
 public:
  explicit DeepLinkRoutes(std::optional<tabulo::psm_double::DeepLinkScenario> scenario)
      : scenario_(std::move(scenario)) {}

  void install(httplib::Server& server);

 private:
  const std::optional<tabulo::psm_double::DeepLinkScenario> scenario_;
};
