// GWLHalcyraServiceFileUtil — the service property list
// "HalcyraService-Info.plist", which carries the app's platform app ID
// ("HALCYRA_APP_ID").
//
// The app's resources lie beside its Info dictionary file (the app
// environment's `infoDictionaryPath`); the library has no bundle of its own
// here, so that directory is the only place searched. The file is outside
// input: one that does not read as a property list, or holds no dictionary,
// counts as missing.
#pragma once

#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {
class AppEnvironment;
}

inline constexpr const char* kGWLHalcyraServiceInfoResource = "HalcyraService-Info";
inline constexpr const char* kGWLHalcyraServiceInfoType = "plist";
inline constexpr const char* kGWLHalcyraAppIDKey = "HALCYRA_APP_ID";

class GWLHalcyraServiceFileUtil {
 public:
  // The file's path when it exists beside the Info dictionary file of
  // `environment` (the shared app environment without one); else nullopt.
  static std::optional<std::string> halcyraServiceInfoPlistPath();
  static std::optional<std::string> halcyraServiceInfoPlistPath(const platform::AppEnvironment& environment);

  // The dictionary the file holds; nullopt without a file or when it does not read.
  static std::optional<platform::Dictionary> dictionaryFromHalcyraServiceInfoPlist();
  static std::optional<platform::Dictionary> dictionaryFromHalcyraServiceInfoPlist(
      const platform::AppEnvironment& environment);
};
