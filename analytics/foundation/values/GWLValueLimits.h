// GWLValueLimits — the limits of the configuration that the event-parameter
// sanitiser and the value validators apply. The caller takes them from the
// configuration in force (GWLRemoteConfig::valueLimits) and hands them down;
// value code never looks the configuration up itself.
//
// A default-constructed value holds the limits of the default configuration.
//
// Threads: a plain value; each holder owns its copy.
#pragma once

#include <cstdint>

struct GWLValueLimits {
  // The longest public parameter value, in code points (also the longest screen class or name).
  int32_t maxPublicEventParameterValueLength = 500;
  // The longest internal parameter value, in code points; never below 256 in a configuration.
  int32_t maxInternalEventParameterValueLength = 500;
  // The most public parameters an event keeps.
  int32_t maxPublicEventParams = 100;
  // The most custom parameters an item of an "items" array keeps.
  int32_t maxItemScopedCustomParameters = 27;

  friend bool operator==(const GWLValueLimits&, const GWLValueLimits&) = default;
};
