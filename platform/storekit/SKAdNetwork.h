// platform::SKAdNetwork — the ad network's postback conversion-value update.
//
// On a phone the platform's ad-attribution service keeps the conversion value
// that its install postback will carry; an app raises it during the postback
// windows. Linux has no such service: the stand-in here takes the same call
// (a fine value, a coarse value, whether to lock the window, and a completion
// with an optional error) and records the last update it took in a property
// list in the app container, so that a person trying the app, or a test, can
// see what was reported.
//
// The same stand-in takes the app's registration for the ad network's install
// attribution (made once, at the first open): it records when the app last
// registered and how often, in a property list of its own beside the
// postback record.
//
// Callers depend on the interfaces SKAdNetworkPostbackUpdating and
// SKAdNetworkRegistering only; tests put a double of their own in their place
// to script the platform's answers (errors in kSKANErrorDomain among them).
//
// Threads: `updatePostbackConversionValue` and
// `registerAppForAdNetworkAttribution` may be called on any thread; the
// stand-in serialises its writes and calls the completion on the calling
// thread before it returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {

class Clock;

// The ad network's error domain.
inline constexpr const char* kSKANErrorDomain = "SKANErrorDomain";
enum SKANErrorCode : int64_t {
  kSKANErrorInvalidConversionValue = 1,  // a fine value outside 0 to 63
};

// The coarse conversion value of a postback.
enum class SKAdNetworkCoarseConversionValue { kLow, kMedium, kHigh };
// "low", "medium" or "high".
const char* SKAdNetworkCoarseConversionValueName(SKAdNetworkCoarseConversionValue value);

// The largest fine conversion value the ad network takes.
inline constexpr int64_t kSKAdNetworkMaxFineConversionValue = 63;

class SKAdNetworkPostbackUpdating {
 public:
  // Called once per update; no error means the platform took the value.
  using Completion = std::function<void(std::optional<Error> error)>;

  virtual ~SKAdNetworkPostbackUpdating() = default;
  virtual void updatePostbackConversionValue(int64_t fineValue, SKAdNetworkCoarseConversionValue coarseValue,
                                             bool lockWindow, Completion completion) = 0;
};

class SKAdNetworkRegistering {
 public:
  virtual ~SKAdNetworkRegistering() = default;
  // Registers the app for install attribution. The platform answers nothing.
  virtual void registerAppForAdNetworkAttribution() = 0;
};

// The file name of the record in the Application Support directory.
inline constexpr const char* kSKAdNetworkRecordFileName = "SKAdNetworkPostback.plist";
// Keys of the recorded update.
inline constexpr const char* kSKAdNetworkRecordFineValueKey = "fine_value";
inline constexpr const char* kSKAdNetworkRecordCoarseValueKey = "coarse_value";
inline constexpr const char* kSKAdNetworkRecordLockWindowKey = "lock_window";
inline constexpr const char* kSKAdNetworkRecordUpdateDateKey = "update_date";
// The registration record: its file name (beside the postback record) and keys.
inline constexpr const char* kSKAdNetworkRegistrationFileName = "SKAdNetworkRegistration.plist";
inline constexpr const char* kSKAdNetworkRegistrationDateKey = "registration_date";
inline constexpr const char* kSKAdNetworkRegistrationCountKey = "registration_count";

class SKAdNetwork : public SKAdNetworkPostbackUpdating, public SKAdNetworkRegistering {
 public:
  // Records into the property list at `recordPath`; an empty path names
  // kSKAdNetworkRecordFileName in the Application Support directory of the
  // current Paths at each update. `clock` (the system clock when null) dates
  // the record.
  explicit SKAdNetwork(std::string recordPath = {}, std::shared_ptr<Clock> clock = nullptr);

  // The process's stand-in, recording in the current Paths.
  static std::shared_ptr<SKAdNetwork> defaultInstance();

  // A fine value outside 0 to 63 answers kSKANErrorInvalidConversionValue and
  // records nothing; a record that cannot be written answers the file's error
  // (the previous record stays whole); otherwise the update replaces the
  // record and the completion gets no error.
  void updatePostbackConversionValue(int64_t fineValue, SKAdNetworkCoarseConversionValue coarseValue,
                                     bool lockWindow, Completion completion) override;

  // The last recorded update ({fine_value, coarse_value, lock_window,
  // update_date}); nullopt with an error when there is none or it cannot be read.
  [[nodiscard]] std::optional<Dictionary> lastUpdate(Error* error = nullptr) const;

  // Records {registration_date, registration_count}: the date now and the
  // count one higher than the record held (a missing or unreadable record
  // counts 0). A record that cannot be written is logged; the previous one
  // stays whole.
  void registerAppForAdNetworkAttribution() override;
  // The registration record; nullopt with an error when there is none or it cannot be read.
  [[nodiscard]] std::optional<Dictionary> lastRegistration(Error* error = nullptr) const;

 private:
  [[nodiscard]] std::optional<std::string> recordPath(Error* error) const;
  [[nodiscard]] std::optional<std::string> registrationPath(Error* error) const;
  [[nodiscard]] std::optional<Dictionary> readDictionary(const std::optional<std::string>& path, Error failure, Error* error) const;

  const std::string recordPath_;
  const std::shared_ptr<Clock> clock_;
  mutable std::mutex mutex_;  // serialises the record's writes and reads
};

}  // namespace platform
