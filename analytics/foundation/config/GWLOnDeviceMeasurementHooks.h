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
#pragma once

class GWLOnDeviceMeasurementHooks {
 public:
  virtual ~GWLOnDeviceMeasurementHooks() = default;

  virtual void checkPSMDependencyOnWorkerQueue() {}
  virtual void checkODM2DependencyOnWorkerQueue() {}
  virtual void maybeDeleteExpiredPSMValueOnWorkerQueue() {}
  virtual void initiateODMGroupIDProtocol() {}
  virtual void resetContexts() {}
};
