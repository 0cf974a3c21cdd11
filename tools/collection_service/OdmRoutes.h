// The collection service's on-device measurement endpoint, answered from the
// "odm" section of the attribution scenario (see AttributionScenario.h):
//
//   GET  /odm/config     the scenario's configuration: its JSON with 200, 204
//                        without a body, or 200 without a body
//   POST /odm/psm        {"psm_request": <web-safe base64>, "odmed": …} ->
//                        200 {"psm_response": <web-safe base64>}, answered by
//                        the PSM double from the scenario's entries
//   POST /odm/validate   {"mvs": <web-safe base64 of an MVs message>, "odmed": …}
//                        -> the scenario's fail statuses first, one each, then
//                        400 unless the matched values are the scenario's
//                        (in any order), else 200 and the scenario's answer
//
// Without an "odm" section (or without "validate" for the last path) the
// paths answer 404. The failure switches of /control/ apply as to every path.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "analytics/attribution/testing/AttributionScenario.h"

namespace httplib {
class Server;
}
class PSMDoubleProcess;

inline constexpr const char* kOdmConfigPath = "/odm/config";
inline constexpr const char* kOdmCandidatesPath = "/odm/psm";
inline constexpr const char* kOdmValidationPath = "/odm/validate";

class OdmRoutes {
 public:
  // `psmDouble` (may be null: /odm/psm answers 503) outlives the routes.
  OdmRoutes(std::optional<tabulo::psm_double::OdmScenario> scenario, PSMDoubleProcess* psmDouble)
      : scenario_(std::move(scenario)), psmDouble_(psmDouble) {}

  void install(httplib::Server& server);

 private:
  const std::optional<tabulo::psm_double::OdmScenario> scenario_;
  PSMDoubleProcess* const psmDouble_;
  std::mutex mutex_;               // guards failuresAnswered_
  size_t failuresAnswered_ = 0;    // fail statuses of /odm/validate used so far
};
