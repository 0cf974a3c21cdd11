// The collection service's conversion-value endpoint, answered from the
// "skan" section of the attribution scenario (see AttributionScenario.h):
//
//   POST /skan                    a SkAdNetworkConversionValueRequest message;
//                                 decoded and recorded, then answered with the
//                                 scenario's next answer (its response message,
//                                 gzip-encoded when the request accepts gzip;
//                                 304; an empty 200; undecodable bytes; or a
//                                 failure status). 400 when the body does not
//                                 decode (nothing recorded).
//   GET  /control/skan/requests   the requests recorded so far, in order, as a
//                                 JSON list of objects: the fields present
//                                 (library_version, app_id, app_instance_id,
//                                 skan_version, evaluation_event_time,
//                                 last_uploaded_event_time) and the request's
//                                 "accept_encoding" header when it had one.
//
// Without a "skan" section POST /skan answers 404. The failure switches of
// /control/ apply to POST /skan as to every path.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/attribution/testing/AttributionScenario.h"

namespace httplib {
class Server;
}

inline constexpr const char* kSkanPath = "/skan";
inline constexpr const char* kSkanRequestsPath = "/control/skan/requests";

class SkanRoutes {
 public:
  explicit SkanRoutes(std::optional<tabulo::psm_double::SkanScenario> scenario) : scenario_(std::move(scenario)) {}

  void install(httplib::Server& server);

 private:
  const std::optional<tabulo::psm_double::SkanScenario> scenario_;
  std::mutex mutex_;                  // guards what follows
  size_t answered_ = 0;               // answers used so far
  std::vector<std::string> recorded_; // each request as a JSON object's text
};
