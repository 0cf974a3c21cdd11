// GWLScreenViewReporting — the screen-view reporter as the entry class uses
// it: the app's own "screen_view" events, the current screen's parameters
// that travel with every event, and the manual screen call.
//
// `sharedInstance` answers the reporter's one instance (GWLScreenViewReporter).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/foundation/values/GWLValue.h"

class GWLScreenViewReporting {
 public:
  virtual ~GWLScreenViewReporting() = default;

  // The reporter's one instance.
  static std::shared_ptr<GWLScreenViewReporting> sharedInstance();

  // The app's own "screen_view" event with its parameters and time (seconds
  // since 1970); the reporter logs the screen view itself. Any thread.
  virtual void trackScreenWithParameters(const GWLRawParameters& parameters, double timestamp) = 0;
  // The current screen's "_si", "_sc" and "_sn"; empty when there is none. Any thread.
  virtual GWLParameters screenParameters() = 0;
  // The manual screen call; main thread only.
  virtual void setScreenName(const std::optional<std::string>& screenName,
                             const std::optional<std::string>& screenClass) = 0;
};
