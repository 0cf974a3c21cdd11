// ODCMatchValidator — the last task of a matching run: POST /odm/validate with
// the context's validation body; the answer {"mv_vexa": string, "mv_aaps":
// string} becomes the run's measurement info and aggregate conversion info
// in the context, and the chain ends without an error.
//
// Errors of an attempt: the network's, 4000, the JSON reader's, 7000 for no
// string "mv_vexa", 7001 for no string "mv_aaps"; nothing is stored then.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCAsyncTask.h"

inline constexpr const char* kODCValidationPath = "/odm/validate";
inline constexpr const char* kODCMeasurementInfoKey = "mv_vexa";
inline constexpr const char* kODCAggregateConversionInfoKey = "mv_aaps";

class ODCMatchValidator : public ODCAsyncTask {
 public:
  explicit ODCMatchValidator(std::shared_ptr<ODCContext> context);

  // The validation URL: the common query.
  std::string validationRequestURL() const;
  void executeTask() override;
  void handleValidateResponse(const platform::HTTPURLResponse* response, std::span<const uint8_t> data,
                              std::optional<platform::Error> error);
  // Stores both answers in the context; false with the error, storing neither.
  [[nodiscard]] bool storeValidatedPSMValue(std::span<const uint8_t> data, platform::Error* error);
};
