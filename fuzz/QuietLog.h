// Fuzz targets that feed outside input to decoders expect their error lines:
// QuietPlatformLog() sends the platform log nowhere, once per process.
#pragma once

#include <memory>

#include "platform/core/Log.h"

inline void QuietPlatformLog() {
  static const bool quiet = [] {
    struct Discard : platform::LogSink {
      void write(const platform::LogRecord&) override {}
    };
    platform::log::setSink(std::make_shared<Discard>());
    return true;
  }();
  (void)quiet;
}
