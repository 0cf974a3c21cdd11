// GWLEventFilter — one audience filter on events as the measurement database
// keeps it: its audience and filter identifiers, the event name it tests, its
// flags and the encoded wire filter message (a GWLPBEventFilter).
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analytics/foundation/storage/GWLAudienceFilterRecord.h"

class GWLEventFilter : public GWLAudienceFilterRecord {
 public:
  GWLEventFilter(int32_t audienceID, int32_t filterID, std::string eventName, std::vector<uint8_t> data,
                 bool sessionScoped, bool dynamic, bool sequence)
      : GWLAudienceFilterRecord(audienceID, filterID, std::move(eventName), std::move(data), sessionScoped, dynamic,
                                sequence) {}

  const std::string& eventName() const { return testedName(); }
};
