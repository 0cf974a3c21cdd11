// GWLRawEventData — one raw event read back from the measurement database for
// bundling: the event, its row identifier and the fingerprint of the metadata
// row it belongs to.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <memory>

class GWLEvent;

class GWLRawEventData {
 public:
  // Null, with a report, without an event (28000) or for a negative row
  // identifier (28001).
  static std::shared_ptr<GWLRawEventData> initWithRawEvent(std::shared_ptr<GWLEvent> rawEvent, int64_t rowID,
                                                           int64_t metadataFingerprint);

  const std::shared_ptr<GWLEvent>& rawEvent() const { return rawEvent_; }
  int64_t rowID() const { return rowID_; }
  int64_t metadataFingerprint() const { return metadataFingerprint_; }

 private:
  GWLRawEventData(std::shared_ptr<GWLEvent> rawEvent, int64_t rowID, int64_t metadataFingerprint)
      : rawEvent_(std::move(rawEvent)), rowID_(rowID), metadataFingerprint_(metadataFingerprint) {}
  std::shared_ptr<GWLEvent> rawEvent_;
  int64_t rowID_;
  int64_t metadataFingerprint_;
};
