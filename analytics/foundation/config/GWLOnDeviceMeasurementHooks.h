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
//   every wipe-out of the analytics data (worker queue):  resetContexts
//     (the query run's and the group query's state start afresh)
//   the event write (worker queue): every session start "_s", when the
//     configuration's session-start switch is on:
//     initiateODMSessionStartProtocolWithTimestamp; every raw event's
//     metadata: onDeviceMeasurementValueFromRow for each stored value (null
//     leaves the value out) and the three linkage answers
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
  virtual void resetContexts() {}
  // `timestamp`: the session start's time, seconds since 1970.
  virtual void initiateODMSessionStartProtocolWithTimestamp(double /*timestamp*/) {}
  // A row of the stored on-device values (name, value, set_timestamp) in wire form.
  virtual std::shared_ptr<GWLPBOnDeviceMeasurementValue> onDeviceMeasurementValueFromRow(
      const platform::Dictionary& /*row*/) {
    return nullptr;
  }
  // Which on-device conversion clients the process links.
  virtual bool isGWLPrivateSetMembershipClientLinked() { return false; }
  virtual bool isAlphaAppAdsOnDeviceConversionLinked() { return false; }
  virtual bool isHalcyraAdsOnDeviceConversionLinked() { return false; }
};
