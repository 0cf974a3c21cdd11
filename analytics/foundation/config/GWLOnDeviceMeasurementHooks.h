// GWLOnDeviceMeasurementHooks — what the engine's start and wipe-out call of
// on-device conversion measurement, which lives in the attribution layer
// above the foundation (the private-set-membership query run, the ads
// conversion measurement and the group-identifier query). The attribution
// layer implements it and the composition root installs it with
// GWLInstalledHook<GWLOnDeviceMeasurementHooks>; until then every call does
// nothing.
//
//   the engine's start block (worker queue), in this order:
//     checkPSMDependencyOnWorkerQueue, checkODM2DependencyOnWorkerQueue,
//     maybeDeleteExpiredPSMValueOnWorkerQueue
//   the start block, when the configuration is not expired and its
//   group-identifier switch is on:  initiateODMGroupIDProtocol
//   every answered configuration fetch (worker queue), before the
//   group-identifier trigger:  updateAdsOnDeviceConversionMeasurement (asks
//   the conversion service for its value and stores or removes it)
//   every wipe-out of the analytics data (worker queue):  resetContexts
//     (the query run's and the group query's state start afresh)
//   the event write (worker queue): every session start "_s", when the
//     configuration's session-start switch is on:
//     initiateODMSessionStartProtocolWithTimestamp; every raw event's
//     metadata: onDeviceMeasurementValueFromRow for each stored value (null
//     leaves the value out) and the three linkage answers
//   the app's user data (worker queue): initiateODM1ProtocolWithUserData
//   a successful upload with nothing more to send (worker queue): when
//     isPSMRequestPostponed, setIsPSMRequestPostponed(false) and then
//     retrievePSMResponse (the query that waited for the engine's network)
#pragma once

#include <memory>

#include "platform/core/Object.h"

class GWLPBOnDeviceMeasurementValue;

class GWLOnDeviceMeasurementHooks {
 public:
  virtual ~GWLOnDeviceMeasurementHooks() = default;

  virtual void checkPSMDependencyOnWorkerQueue() {}
  virtual void checkODM2DependencyOnWorkerQueue() {}
  virtual void maybeDeleteExpiredPSMValueOnWorkerQueue() {}
  virtual void initiateODMGroupIDProtocol() {}
  virtual void updateAdsOnDeviceConversionMeasurement() {}
  virtual void resetContexts() {}
  // `timestamp`: the session start's time, seconds since 1970.
  virtual void initiateODMSessionStartProtocolWithTimestamp(double /*timestamp*/) {}
  // A row of the stored on-device values (name, value, set_timestamp) in wire form.
  virtual std::shared_ptr<GWLPBOnDeviceMeasurementValue> onDeviceMeasurementValueFromRow(
      const platform::Dictionary& /*row*/) {
    return nullptr;
  }
  // `userData`: one or more of "email_address", "phone_number" (strings),
  // "hashed_email_address", "hashed_phone_number" (bytes).
  virtual void initiateODM1ProtocolWithUserData(const platform::Dictionary& /*userData*/) {}
  // Whether the query run's request waits for the engine's next finished upload.
  virtual bool isPSMRequestPostponed() { return false; }
  virtual void setIsPSMRequestPostponed(bool /*postponed*/) {}
  // Sends the query run's request (the one that was postponed).
  virtual void retrievePSMResponse() {}
  // Which on-device conversion clients the process links.
  virtual bool isGWLPrivateSetMembershipClientLinked() { return false; }
  virtual bool isAlphaAppAdsOnDeviceConversionLinked() { return false; }
  virtual bool isHalcyraAdsOnDeviceConversionLinked() { return false; }
};
