// The PSM double: the ad service's private-set-membership answers, played
// with the in-process server double for the local collection service, which
// may not load the crypto library itself and hands each query over a pipe
// (tools/psm_double is the thin main around this class).
//
// Its members come from the attribution scenario (AttributionScenario.h).
// Identifiers are given normalised there; the double hashes them as the ad
// service would: a PSM member is queried by SHA-256(SHA-256(identifier) + app
// ID), a group member by SHA-256(identifier). Values are answered as their
// UTF-8 bytes. On-device measurement entries are keyed by the scenario's
// matching ID, bucketed date and bundle ID (see AttributionScenario.h) and carry
// their unencrypted metadata and group key.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/attribution/testing/AttributionScenario.h"
#include "privacy/private_membership/testing/server_double.h"

namespace tabulo::psm_double {

// Records one request may hold; more are refused as a bad request.
inline constexpr size_t kMaxRequestRecords = 64;

class PSMDouble {
 public:
  explicit PSMDouble(const AttributionScenario& scenario);

  // The answer frame's payload for one query frame's payload (see PSMDoubleFrames.h).
  std::string answer(std::string_view query);

 private:
  private_membership::blinders::testing::ServerDouble psm_;
  private_membership::blinders::testing::ServerDouble groups_;
  private_membership::blinders::testing::ServerDouble odm_;
};

}  // namespace tabulo::psm_double
