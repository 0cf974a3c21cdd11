// GWLEventParameters — the sanitiser of event parameters and its helpers.
//
// Every event's parameters pass GWLSanitizeEventParameters once, when the
// event is built: invalid names and values are removed, item arrays of
// ecommerce events are checked element by element, the number of public
// parameters is limited, and the first problem found is described in three
// error parameters of the event itself:
//
//   "_err"  the event error code (GWLErrorCodeNameMap gives their names)
//   "_ev"   the offending name or text, cut to its limit and marked "..."
//   "_el"   the length of the offending value, where it matters
//
// Later problems never overwrite an error already recorded. An invalid
// parameter never drops its event.
//
// Functions that take an `errors` dictionary add error parameters to it.
//
// Threads: the sanitiser keeps no state; any thread may call it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"
#include "platform/core/Object.h"

class GWLPBEventParam;

// Names of the parameters the library itself sets on events.
inline constexpr const char* kGWLEventOriginParameter = "_o";
inline constexpr const char* kGWLEventConversionParameter = "_c";
inline constexpr const char* kGWLEventRealtimeParameter = "_r";
inline constexpr const char* kGWLEventDebugParameter = "_dbg";
inline constexpr const char* kGWLEventErrorParameter = "_err";
inline constexpr const char* kGWLEventErrorValueParameter = "_ev";
inline constexpr const char* kGWLEventErrorLengthParameter = "_el";
inline constexpr const char* kGWLScreenIDParameter = "_si";
inline constexpr const char* kGWLScreenClassParameter = "_sc";
inline constexpr const char* kGWLScreenNameParameter = "_sn";

// Values of "_err".
enum GWLEventErrorCode : int64_t {
  kGWLEventErrorNone = 0,
  kGWLEventErrorInvalidQRXAppID = 1,
  kGWLEventErrorInvalidEventName = 2,
  kGWLEventErrorInvalidParameterName = 3,
  kGWLEventErrorInvalidParameterValue = 4,
  kGWLEventErrorParameterLimitReached = 5,
  kGWLEventErrorInvalidUserPropertyName = 6,
  kGWLEventErrorUserPropertyValueTooLong = 7,
  kGWLEventErrorEventLimitReached = 8,
  kGWLEventErrorUserPropertyLimitReached = 9,
  kGWLEventErrorConversionEventLimitReached = 10,
  kGWLEventErrorEventIsBlocked = 11,
  kGWLEventErrorUserPropertyIsBlocked = 12,
  kGWLEventErrorEventNameIsReserved = 13,
  kGWLEventErrorParameterNameIsReserved = 14,
  kGWLEventErrorUserPropertyNameIsReserved = 15,
  kGWLEventErrorPublicEventLimitReached = 16,
  kGWLEventErrorTooManyExtraParamEvents = 17,
  kGWLEventErrorValueIsNotNumeric = 18,
  kGWLEventErrorCurrencyCodeIsMissingOrInvalid = 19,
  kGWLEventErrorInvalidArrayParamName = 20,
  kGWLEventErrorInvalidArrayParamEventName = 21,
  kGWLEventErrorInvalidArrayParamNesting = 22,
  kGWLEventErrorCustomParamsInArrayElement = 23,
  kGWLEventErrorItemScopedCustomParameterLimitReached = 28,
};

// The sanitised parameters; nullopt for empty input. Items (`isItem`) are the
// dictionaries inside an "items" array: only their custom parameters are
// limited, and an array inside an item is refused as nested. `limits` are the
// configuration's (value lengths, public parameters, custom item parameters).
[[nodiscard]] std::optional<GWLParameters> GWLSanitizeEventParameters(const GWLRawParameters& parameters, GWLOptionalText eventName,
                                                        bool isPublic, bool isItem, const GWLValueLimits& limits);
// The sanitiser without an event name, for parameters that are not items.
[[nodiscard]] std::optional<GWLParameters> GWLSanitizeParameters(const GWLRawParameters& parameters, bool isPublic,
                                                   const GWLValueLimits& limits);

// The public parameter name rule (when `isPublic`), then the internal one;
// a failure records "_err" 3 (14 for a reserved name) unless one is recorded.
[[nodiscard]] bool GWLValidateParameterName(std::string_view name, bool isPublic, GWLParameters& errors);
// One array parameter: refused (nullopt) unless an ecommerce event's "items";
// more than 200 elements keep the first 200; elements that are not
// dictionaries are skipped (recorded as "name[index]"); each element is
// sanitised as an item. `failureCode` receives the validator's failure.
[[nodiscard]] std::optional<GWLValue> GWLSanitizeArrayParameter(const platform::Array& array, std::string_view name,
                                                  GWLOptionalText eventName, GWLParameters& errors, bool isNested,
                                                  bool isPublic, const GWLValueLimits& limits,
                                                  GWLValidatorFailureCode* failureCode);
// Checks "value" (numeric, required when `requireValue`) and "currency" (three
// letters); on failure removes "value", records 18 or 19 (the error value cut
// to the internal value length) and answers false.
[[nodiscard]] bool GWLCheckValueAndCurrency(GWLParameters& parameters, bool requireValue, const GWLValueLimits& limits);

// Public names (non-empty, not starting with "_"); with `customItemOnly`,
// only those that are not standard item parameters.
size_t GWLCountPublicParameters(const GWLParameters& parameters, bool customItemOnly = false);
// Removes such names, last in ascending order first, until at most `limit` remain.
void GWLTrimPublicParameters(GWLParameters& parameters, size_t limit, bool customItemOnly = false);

[[nodiscard]] bool GWLHasScreenParameters(const GWLParameters& parameters);
// Only "_sn", "_sc" and "_si", where present.
GWLParameters GWLScreenParametersFromParameters(const GWLParameters& parameters);
// A copy without the names that begin with "vrt_".
GWLParameters GWLRemoveVrtPrefixedParameters(const GWLParameters& parameters);
// Whether a wire parameter of the list already has this name (reported, 23156).
[[nodiscard]] bool GWLEventParamsContainName(const std::vector<std::shared_ptr<GWLPBEventParam>>& wireParams,
                               std::string_view name);

void GWLSetErrorCodeIfAbsent(GWLParameters& errors, int64_t code);
// When none of "_err", "_ev" and "_el" is set: "_err" = code, then the error
// value as GWLSetErrorValueParameters writes it. Nullopt `value` is "(nil)".
void GWLRecordParameterError(GWLParameters& errors, int64_t code, std::optional<std::string_view> value,
                             size_t maxLength, std::optional<std::string_view> lengthSource);
// When neither "_ev" nor "_el" is set: "_ev" = the value cut to `maxLength`
// code points followed by "..." when longer; "_el" = the code-point length of
// `lengthSource` when one is given.
void GWLSetErrorValueParameters(GWLParameters& errors, std::optional<std::string_view> value, size_t maxLength,
                                std::optional<std::string_view> lengthSource);
// A refused array parameter as an event error: 10 gives 21 (with the event
// name), 11 gives 20, 12 gives 17, 13 gives 22 (with the parameter name).
void GWLRecordArrayParameterError(GWLParameters& errors, GWLValidatorFailureCode validatorCode,
                                  std::string_view name, GWLOptionalText eventName);
