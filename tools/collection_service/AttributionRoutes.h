// The collection service's attribution services: the ad service's
// private-set-membership queries, answered by the PSM double with the members
// of the attribution scenario.
//
//   POST /adconv/app/psm      {"psm_request": <web-safe base64>} -> 200 {"psm_response": <web-safe base64>}
//   POST /muf/psm/groupids    the same for group identifiers; when the scenario
//                             names a bundle, another bundle_id gets 404
//
// A body that is not such a JSON object, or a request the double cannot
// decode, gets 400; no double (--psm-double not given) 503; a double that
// failed 502. The failure switches of /control/ apply as to every path.
//
// The on-device measurement endpoint's paths (/odm/...) come with them; see
// OdmRoutes.h; the conversion-value endpoint (/skan), see SkanRoutes.h; and the
// deferred deep link lookup, see DeepLinkRoutes.h.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/attribution/testing/AttributionScenario.h"
#include "tools/collection_service/DeepLinkRoutes.h"
#include "tools/collection_service/OdmRoutes.h"
#include "tools/collection_service/PSMDoubleProcess.h"
#include "tools/collection_service/SkanRoutes.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

inline constexpr const char* kPSMQueryPath = "/adconv/app/psm";
inline constexpr const char* kGroupIDQueryPath = "/muf/psm/groupids";

// Hands the "psm_request" of the request's JSON body to the double as a query
// of `kind` and answers 200 {"psm_response": …}, or the failures above.
void AnswerPSMDoubleQuery(PSMDoubleProcess* psmDouble, char kind, const httplib::Request& request,
                          httplib::Response& response);

class AttributionRoutes {
 public:
  // Reads the scenario and starts the double, each when given; null with a
  // message when either fails.
  static std::unique_ptr<AttributionRoutes> create(const std::optional<std::string>& psmDoubleProgram,
                                                   const std::optional<std::string>& scenarioPath,
                                                   std::string* message);

  void install(httplib::Server& server);

 private:
  AttributionRoutes(tabulo::psm_double::AttributionScenario scenario, std::unique_ptr<PSMDoubleProcess> psmDouble)
      : scenario_(std::move(scenario)),
        psmDouble_(std::move(psmDouble)),
        odm_(scenario_.odm, psmDouble_.get()),
        skan_(scenario_.skan),
        deepLink_(scenario_.deepLink) {}

  tabulo::psm_double::AttributionScenario scenario_;
  std::unique_ptr<PSMDoubleProcess> psmDouble_;
  OdmRoutes odm_;
  SkanRoutes skan_;
  DeepLinkRoutes deepLink_;
};
