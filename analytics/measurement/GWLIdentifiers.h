// GWLIdentifiers — read-only identifier accessors for sibling libraries.
//
// Each accessor asks the engine's identity when an engine exists and has
// one, else the shared identity, and answers the empty string (with a
// report) where that identity has no value. `adEventID` counts up from a
// random start shared by the whole process (one shared instance): each call
// answers the counter's value before its addition, atomically, so callers on
// any threads never get a value twice.
//
// Threading: any thread; the origin has a mutex of its own.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/util/Mutex.h"

class GWLIdentity;
class GWLMonitor;

inline constexpr int64_t kGWLNoAppIDFromEngineIdentityCode = 37000;
inline constexpr const char* kGWLNoAppIDFromEngineIdentityMessage = "Unable to fetch Halcyra App ID from identity";
inline constexpr int64_t kGWLNoAppIDFromSharedIdentityCode = 37001;
inline constexpr const char* kGWLNoAppIDFromSharedIdentityMessage =
    "Unable to fetch Halcyra App ID from default options";
inline constexpr int64_t kGWLNoAppInstanceIDFromEngineIdentityCode = 37002;
inline constexpr const char* kGWLNoAppInstanceIDFromEngineIdentityMessage =
    "Unable to fetch App Instance ID from identity";
inline constexpr int64_t kGWLNoAppInstanceIDFromSharedIdentityCode = 37003;
inline constexpr const char* kGWLNoAppInstanceIDFromSharedIdentityMessage =
    "Unable to fetch App Instance ID from identity shared instance";
inline constexpr int64_t kGWLEmptyOriginCode = 37004;
inline constexpr const char* kGWLEmptyOriginMessage =
    "Cannot set the data collection origin. Origin cannot be empty";
inline constexpr int64_t kGWLNoEffectiveAppIDCode = 37005;
inline constexpr const char* kGWLNoEffectiveAppIDMessage = "Unable to fetch effective App ID from identity";

class GWLIdentifiers {
 public:
  struct Dependencies {
    // The engine's identity, null without an engine or identity; the
    // registry's engine's when empty.
    std::function<std::shared_ptr<GWLIdentity>()> engineIdentity;
    // The shared identity; GWLIdentity::sharedInstance when empty.
    std::function<std::shared_ptr<GWLIdentity>()> sharedIdentity;
    std::shared_ptr<GWLMonitor> monitor;  // the library's monitor when null
    // The counter's start; drawn from the secure random source when empty.
    std::optional<int64_t> adEventIDStart;
  };

  // Made once.
  static std::shared_ptr<GWLIdentifiers> sharedInstance();
  explicit GWLIdentifiers(Dependencies dependencies = {});

  std::string halcyraAppID() const;
  std::string analyticsAppID() const;
  std::string appInstanceID() const;
  std::string adEventID();
  std::string libraryVersion() const;

  std::optional<std::string> origin() const;
  // An empty or missing origin is refused (37004) and the old one stays.
  void setOrigin(const std::optional<std::string>& origin);

 private:
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLIdentity> engineIdentity() const;

  Dependencies dependencies_;
  std::atomic<int64_t> adEventCounter_;
  mutable platform::Mutex originMutex_;
  std::optional<std::string> origin_ ABSL_GUARDED_BY(originMutex_);
};
