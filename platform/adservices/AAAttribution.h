// platform::AAAttribution — the stand-in for the platform's ad-attribution
// framework, which hands an app a token that the vendor's attribution API
// turns into the search-ads campaign that brought the install.
//
// The framework is present only when the app environment has the optional
// component "AAAttribution" (code that would look its class up by name asks
// `isPresent`). Its one operation answers a token or an error:
//
// - a token set by a test (`setAnswerForTesting`) wins;
// - else the token is the text of the file "Library/AdServices/AttributionToken"
//   in the app's data directory (platform::Paths::current()), without the
//   blanks and line ends around it, so a person trying the app can place one.
//
// Errors (domain kAAAttributionErrorDomain): kAAAttributionErrorNotPresent
// without the component; kAAAttributionErrorNoToken when there is no data
// directory or no token file, or the file holds nothing but blanks;
// kAAAttributionErrorUnreadableToken for a file that cannot be read, is larger
// than kAAAttributionMaxTokenBytes or is not UTF-8 text.
//
// Thread-safe: any thread may ask for a token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Error.h"

namespace platform {

inline constexpr const char* kAAAttributionComponentName = "AAAttribution";
inline constexpr const char* kAAAttributionErrorDomain = "platform.AAAttribution";
inline constexpr const char* kAAAttributionTokenDirectory = "AdServices";
inline constexpr const char* kAAAttributionTokenFileName = "AttributionToken";
inline constexpr size_t kAAAttributionMaxTokenBytes = 64 * 1024;

enum AAAttributionErrorCode : int64_t {
  kAAAttributionErrorNotPresent = 1,
  kAAAttributionErrorNoToken = 2,
  kAAAttributionErrorUnreadableToken = 3,
};

class AAAttribution {
 public:
  // Whether the framework is linked into the app: the component is registered.
  static bool isPresent();
  // The attribution token, or nullopt with the error.
  [[nodiscard]] static std::optional<std::string> attributionTokenWithError(Error* error = nullptr);

  // Tests: the next tokens are `token`, or each call fails with `error` when
  // no token is given; `resetForTesting` goes back to the token file.
  static void setAnswerForTesting(std::optional<std::string> token, Error error = {});
  static void resetForTesting();
};

}  // namespace platform
