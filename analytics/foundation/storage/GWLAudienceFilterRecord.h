// GWLAudienceFilterRecord — the stored form shared by event and property
// filters: audience and filter identifiers, the name the filter tests, its
// flags and the encoded wire filter message.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analytics/foundation/storage/GWLAudienceFilter.h"

class GWLAudienceFilterRecord : public GWLAudienceFilter {
 public:
  int32_t audienceID() const override { return audienceID_; }
  int32_t filterID() const override { return filterID_; }
  bool isSessionScoped() const override { return sessionScoped_; }
  bool isDynamic() const override { return dynamic_; }
  bool isSequence() const override { return sequence_; }
  // The encoded wire filter message.
  const std::vector<uint8_t>& data() const { return data_; }

 protected:
  GWLAudienceFilterRecord(int32_t audienceID, int32_t filterID, std::string testedName, std::vector<uint8_t> data,
                          bool sessionScoped, bool dynamic, bool sequence)
      : sessionScoped_(sessionScoped), dynamic_(dynamic), sequence_(sequence), audienceID_(audienceID),
        filterID_(filterID), testedName_(std::move(testedName)), data_(std::move(data)) {}

  // The event or property name the filter tests.
  const std::string& testedName() const { return testedName_; }

 private:
  bool sessionScoped_;
  bool dynamic_;
  bool sequence_;
  int32_t audienceID_;
  int32_t filterID_;
  std::string testedName_;
  std::vector<uint8_t> data_;
};
