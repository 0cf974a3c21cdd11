// UserSettings — the names of the app's flags in the user defaults, and the
// default of the usage-data flag.
//
// Making an instance registers true for "SEND_USAGE_DATA" (in memory only, so
// the flag reads true until the user turns it off); the other flags read false
// until first written. Callers read a flag with `boolForKey` and write it with
// `setBool` under the field's key.
#pragma once

#include <memory>

#include "app/UserDefaults.h"

namespace tabulo {

class UserSettings {
 public:
  static constexpr const char* sendUsageDataKey = "SEND_USAGE_DATA";
  static constexpr const char* achievedSuccessKey = "ACHIEVED_SUCCESS";
  static constexpr const char* didRequestKey = "DID_REQUEST";
  static constexpr const char* didShowIntroKey = "DID_SHOW_INTRO";

  explicit UserSettings(std::shared_ptr<UserDefaults> userDefaults);

  // The process-wide settings over the standard user defaults.
  static UserSettings& shared();

  const std::shared_ptr<UserDefaults> userDefaults;
};

}  // namespace tabulo
