// GWLScreen — one screen the user looks at: its name (may be absent), its
// class and its instance ID, which tells two visits of screens with the same
// name and class apart. The screen-view reporter makes screens; event
// parameters ("_sn", "_sc", "_si") and the ad exposure slices are cut from them.
//
// Two flags say how a screen came about: `isManuallySet` for a screen the app
// named itself, `isManuallyTracked` for one made from an app-logged screen-view
// event, which also keeps that event's time (`eventTimestamp`, seconds since
// 1970). `copy` keeps only name, class and instance ID (both flags off, no
// event time), as the reporter does when it keeps the screen it leaves.
//
// A plain value: safe to read from any thread, not to change on two at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"

class GWLMonitor;

// Reports of GWLScreenParameters (level 3).
inline constexpr int64_t kGWLScreenClassEmptyCode = 31014;
inline constexpr const char* kGWLScreenClassEmptyMessage = "Screen class name is empty";
inline constexpr int64_t kGWLScreenClassInvalidCode = 31015;
inline constexpr const char* kGWLScreenClassInvalidMessage = "Screen class name is invalid. Error code";

class GWLScreen {
 public:
  GWLScreen(std::optional<std::string> name, std::optional<std::string> className, int64_t instanceID)
      : name_(std::move(name)), className_(std::move(className)), instanceID_(instanceID) {}

  // Name, class and instance ID; both flags off and no event time.
  GWLScreen copy() const { return GWLScreen(name_, className_, instanceID_); }

  const std::optional<std::string>& name() const { return name_; }
  const std::optional<std::string>& className() const { return className_; }
  int64_t instanceID() const { return instanceID_; }

  bool isManuallySet() const { return isManuallySet_; }
  void setIsManuallySet(bool value) { isManuallySet_ = value; }
  bool isManuallyTracked() const { return isManuallyTracked_; }
  void setIsManuallyTracked(bool value) { isManuallyTracked_ = value; }
  double eventTimestamp() const { return eventTimestamp_; }
  void setEventTimestamp(double value) { eventTimestamp_ = value; }

 private:
  bool isManuallySet_ = false;
  bool isManuallyTracked_ = false;
  std::optional<std::string> name_;
  std::optional<std::string> className_;
  int64_t instanceID_ = 0;
  double eventTimestamp_ = 0;
};

// The event parameters of a screen: "_si" the instance ID (int64); "_sc" the
// class when it is a valid screen parameter value (an empty class reports
// 31014; a class that fails the check reports 31015 with the failure code and
// the parameters stop at "_si"); "_sn" the name when it is valid (an invalid
// name is left out without a report). `limits` bound the lengths.
GWLParameters GWLScreenParameters(const GWLScreen& screen, const GWLValueLimits& limits, GWLMonitor& monitor);
