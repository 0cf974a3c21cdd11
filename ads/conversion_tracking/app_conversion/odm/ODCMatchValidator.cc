#include "ads/conversion_tracking/app_conversion/odm/ODCMatchValidator.h"

#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"

ODCMatchValidator::ODCMatchValidator(std::shared_ptr<ODCContext> context) : ODCAsyncTask(std::move(context)) {}

std::string ODCMatchValidator::validationRequestURL() const {
  return requestURL(kODCValidationPath, commonQueryParameters());
}

void ODCMatchValidator::executeTask() {
  ODCLogDebug(ODCErrorCodeValidatingMatches, "%s", kODCMessageValidatingMatches);
  post<ODCMatchValidator>(validationRequestURL(), context()->matchRequestPayload(),
                          &ODCMatchValidator::handleValidateResponse);
}

void ODCMatchValidator::handleValidateResponse(const platform::HTTPURLResponse* response,
                                               std::span<const uint8_t> data, std::optional<platform::Error> error) {
  error = errorOfAnswer(response, std::move(error));
  platform::Error failure;
  if (!error && !storeValidatedPSMValue(data, &failure)) error = failure;
  finishTaskWithError(std::move(error));
}

bool ODCMatchValidator::storeValidatedPSMValue(std::span<const uint8_t> data, platform::Error* error) {
  platform::Error failure;
  std::optional<ODCJSONDictionary> answer = ODCJSONDictionaryFromData(data, &failure);
  if (!answer) {
    platform::setError(error, std::move(failure));
    return false;
  }
  const std::string* measurementInfo = ODCJSONStringMember(*answer, kODCMeasurementInfoKey);
  if (!measurementInfo) {
    platform::setError(error,
                       ODCMakeError(ODCErrorCodeMeasurementInfoNotString, kODCMessageMeasurementInfoNotString));
    return false;
  }
  const std::string* aggregateConversionInfo = ODCJSONStringMember(*answer, kODCAggregateConversionInfoKey);
  if (!aggregateConversionInfo) {
    platform::setError(error, ODCMakeError(ODCErrorCodeAggregateConversionInfoNotString,
                                           kODCMessageAggregateConversionInfoNotString));
    return false;
  }
  context()->setAggregateConversionInfo(*aggregateConversionInfo);
  context()->setMeasurementInfo(*measurementInfo);
  return true;
}
