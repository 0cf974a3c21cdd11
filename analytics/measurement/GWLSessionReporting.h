// GWLSessionReporting — the session reporter as the engine drives it: made at
// start and again at every wipe-out of the analytics data, its reporting
// switched with collection, asked whether the session has expired, and given
// the app's session timeout.
//
// This base class is the do-nothing reporter of an engine whose session
// reporter is not built: it reports nothing and its session never expires.
// The engine makes its reporters with a GWLSessionReporterFactory.
//
// Threads: `setReportingEnabled`, `isSessionExpired`, `extendSession` and
// `setTimeoutSessionInterval` are called on the engine's worker queue.
#pragma once

#include <functional>
#include <memory>

class GWLPersistedConfig;

class GWLSessionReporting {
 public:
  virtual ~GWLSessionReporting() = default;

  virtual void setReportingEnabled(bool /*enabled*/) {}
  virtual bool isSessionExpired() { return false; }
  // Marks activity now when the session has not expired; answers whether it did.
  virtual bool extendSession() { return false; }
  virtual void setTimeoutSessionInterval(double /*seconds*/) {}
};

// Makes a new session reporter over the persisted settings.
using GWLSessionReporterFactory =
    std::function<std::shared_ptr<GWLSessionReporting>(const std::shared_ptr<GWLPersistedConfig>& persistedConfig)>;
