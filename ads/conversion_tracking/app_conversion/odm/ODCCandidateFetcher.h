// ODCCandidateFetcher — the second task of a matching run: POST /odm/psm with
// the context's candidates body, and from the answer {"psm_response": web-safe
// base64 of the encoded blinders response} the matched values, grouped by the
// run's client, as the validation body {"mvs": web-safe base64 of the MVs
// message, "odmed": extension data or ""}.
//
// Errors of an attempt: the network's, 4000, the JSON reader's, 6002 for no
// string "psm_response", 6003 for text that is not web-safe base64, 6000 for a
// response that does not decode, 6001 when the client cannot process it (or
// the context holds no client), 6007 when nothing matched, 6006 for a body
// that cannot be written. Each is retried, an answer without a match too.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCAsyncTask.h"

inline constexpr const char* kODCCandidatesPath = "/odm/psm";
inline constexpr const char* kODCMVsBodyKey = "mvs";

class ODCCandidateFetcher : public ODCAsyncTask {
 public:
  explicit ODCCandidateFetcher(std::shared_ptr<ODCContext> context);

  // The candidates URL: the common query, then "&tfo=N", N being the store's
  // first launch in whole seconds since 1970, cut to the minute, plus 60 (a
  // first launch at 119.5 s gives 120, one at 120 s gives 180; none reads 0).
  std::string PSMRequestURL() const;
  void executeTask() override;
  void handlePSMResponse(const platform::HTTPURLResponse* response, std::span<const uint8_t> data,
                         std::optional<platform::Error> error);
  // Turns the answer into the validation body in the context; false with the error.
  [[nodiscard]] bool findPSMMatchesWithData(std::span<const uint8_t> data, platform::Error* error);
  // The encoded blinders response the answer carries; nullopt with the error.
  [[nodiscard]] std::optional<std::string> PSMResponseFromData(std::span<const uint8_t> data, platform::Error* error);
};
