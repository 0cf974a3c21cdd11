// GWLPropertyFilter — one audience filter on a user property as the
// measurement database keeps it: its audience and filter identifiers, the
// property it tests, its flags and the encoded wire filter message (a
// GWLPBPropertyFilter).
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analytics/foundation/storage/GWLAudienceFilterRecord.h"

class GWLPropertyFilter : public GWLAudienceFilterRecord {
 public:
  GWLPropertyFilter(int32_t audienceID, int32_t filterID, std::string propertyName, std::vector<uint8_t> data,
                    bool sessionScoped, bool dynamic, bool sequence)
      : GWLAudienceFilterRecord(audienceID, filterID, std::move(propertyName), std::move(data), sessionScoped,
                                dynamic, sequence) {}

  const std::string& propertyName() const { return testedName(); }
};
