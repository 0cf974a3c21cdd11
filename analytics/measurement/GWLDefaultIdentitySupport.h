// GWLDefaultIdentitySupport — the library's optional access to the
// platform's advertising identifier and tracking-authorisation status.
//
// It works over the platform identity support (GWLPlatformIdentitySupport,
// which this build always links; a support of null stands for a build
// without it). Without one, no advertising identifier and no authorisation
// status are available and the rest of the library still works.
//
// The advertising identifier is asked of the platform on a serial queue of
// this object's own ("GWLDefaultIdentitySupport"); a request waits for the
// answer at most `resettableDeviceIDWait` (10 ms) and otherwise answers the
// identifier fetched by an earlier request. While one platform call is still
// running, later requests wait for that same call instead of queueing another
// behind it, so a platform that never answers costs each request at most the
// wait and never piles up calls. The answer, whenever it comes, is kept for
// the next request.
//
// Threading: any thread; the fetched identifier is guarded by the object's mutex.
#pragma once

#include <absl/base/thread_annotations.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/util/Mutex.h"

namespace platform {
class SerialQueue;
}
class GWLIdentitySupport;
class GWLMonitor;

inline constexpr const char* kGWLDefaultIdentitySupportQueueLabel = "GWLDefaultIdentitySupport";
inline constexpr const char* kGWLZeroResettableDeviceID = "00000000-0000-0000-0000-000000000000";

// Reports made when the support is created.
inline constexpr int64_t kGWLIdentitySupportLinkedCode = 44000;
inline constexpr const char* kGWLIdentitySupportLinkedMessage = "HalcyraGaugewellIdentitySupport dependency is linked.";
inline constexpr int64_t kGWLAdSupportLinkedCode = 44001;
inline constexpr const char* kGWLAdSupportLinkedMessage = "The AdSupport Framework is linked.";
inline constexpr int64_t kGWLAdSupportNotLinkedCode = 44002;
inline constexpr const char* kGWLAdSupportNotLinkedMessage =
    "The AdSupport Framework is not currently linked. Some features will not function properly. Learn more at "
    "https://halcyra.example/docs/analytics/identity-support";
inline constexpr int64_t kGWLIdentitySupportNotLinkedCode = 44003;
inline constexpr const char* kGWLIdentitySupportNotLinkedMessage =
    "HalcyraGaugewellIdentitySupport dependency is not currently linked. IDFA will not be accessible.";

class GWLDefaultIdentitySupport : public std::enable_shared_from_this<GWLDefaultIdentitySupport> {
 public:
  struct Dependencies {
    std::shared_ptr<GWLMonitor> monitor;  // the library's monitor when null
    // How long a request waits for the platform's answer.
    std::chrono::microseconds resettableDeviceIDWait = std::chrono::milliseconds(10);
  };

  // Made once, over the platform identity support's shared instance.
  static std::shared_ptr<GWLDefaultIdentitySupport> sharedInstance();
  // A support over `platformSupport` (null: none linked). Reports 44000 and
  // 44001 or 44002 when there is one, else 44003.
  static std::shared_ptr<GWLDefaultIdentitySupport> create(std::shared_ptr<GWLIdentitySupport> platformSupport);
  static std::shared_ptr<GWLDefaultIdentitySupport> create(std::shared_ptr<GWLIdentitySupport> platformSupport,
                                                           Dependencies dependencies);
  ~GWLDefaultIdentitySupport();

  // The platform support's answers; false and -1 (all bits set) without one.
  bool hasAppDataConsentStatus() const;
  int64_t appDataConsentStatus() const;
  bool hasLimitedAdTracking() const;
  static bool iOS14OrAbove() { return true; }
  // True when `resettableDeviceID` answers none or the all-zero identifier.
  bool limitedAdTracking() const;
  // The advertising identifier (see the header comment); none without platform support.
  std::optional<std::string> resettableDeviceID() const;

 private:
  GWLDefaultIdentitySupport(std::shared_ptr<GWLIdentitySupport> platformSupport, Dependencies dependencies);

  const std::shared_ptr<GWLIdentitySupport> platformSupport_;
  const Dependencies dependencies_;
  std::shared_ptr<platform::SerialQueue> queue_;

  mutable platform::Mutex mutex_;
  mutable std::optional<std::string> resettableDeviceID_ ABSL_GUARDED_BY(mutex_);
  mutable bool fetchRunning_ ABSL_GUARDED_BY(mutex_) = false;
  mutable uint64_t fetchesFinished_ ABSL_GUARDED_BY(mutex_) = 0;
  mutable std::condition_variable_any fetchFinished_;
};
