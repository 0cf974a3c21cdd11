// GWLEventFilter — one audience filter on events as the measurement database
// keeps it: its audience and filter identifiers, the event name it tests, its
// flags and the encoded wire filter message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/foundation/GWLAudienceFilter.h"

class GWLEventFilter : public GWLAudienceFilter {
 public:
  GWLEventFilter(int32_t audienceID, int32_t filterID, std::string eventName, std::vector<uint8_t> data,
                 bool sessionScoped, bool dynamic, bool sequence)
      : sessionScoped_(sessionScoped), dynamic_(dynamic), sequence_(sequence), audienceID_(audienceID),
        filterID_(filterID), eventName_(std::move(eventName)), data_(std::move(data)) {}

  int32_t audienceID() const override { return audienceID_; }
  int32_t filterID() const override { return filterID_; }
  bool isSessionScoped() const override { return sessionScoped_; }
  bool isDynamic() const override { return dynamic_; }
  bool isSequence() const override { return sequence_; }
  const std::string& eventName() const { return eventName_; }
  // The encoded GWLPBEventFilter.
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  bool sessionScoped_;
  bool dynamic_;
  bool sequence_;
  int32_t audienceID_;
  int32_t filterID_;
  std::string eventName_;
  std::vector<uint8_t> data_;
};
