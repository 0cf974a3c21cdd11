// GWLAudienceFilter — what every stored audience filter answers, whether it
// tests events or user properties.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>

class GWLAudienceFilter {
 public:
  virtual ~GWLAudienceFilter() = default;
  virtual int32_t audienceID() const = 0;
  virtual int32_t filterID() const = 0;
  // The filter's result resets with the session.
  virtual bool isSessionScoped() const = 0;
  virtual bool isDynamic() const = 0;
  // Part of a sequence of filters.
  virtual bool isSequence() const = 0;
};
