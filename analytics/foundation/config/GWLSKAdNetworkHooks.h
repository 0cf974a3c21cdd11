// GWLSKAdNetworkHooks — what the engine calls of the ad network's conversion
// values (the attribution layer's GWLMeasurementSKAdNetwork implements it; the
// composition root installs it through GWLInstalledHook<GWLSKAdNetworkHooks>).
//
// This base class is the do-nothing default: nothing is fetched, the app is
// never in the first postback window, and there is no retry count to reset.
//
// Threads: every call on the engine's worker queue.
#pragma once

class GWLSKAdNetworkHooks {
 public:
  virtual ~GWLSKAdNetworkHooks() = default;

  // After a successful upload with nothing more to send, after the upload
  // alarm was re-armed: arms the delayed conversion-value fetch.
  virtual void scheduleSKANCVFetchAfterDataUpload() {}
  // When the app becomes active (a worker block "GWLMeasurement:4076"):
  // fetches the conversion value now.
  virtual void fetchSKANCV() {}
  // After the upload alarm was re-armed on a reachability change: starts a
  // fetch that waited for connectivity.
  virtual void maybeFetchSKANCVAfterReachabilityChange() {}
  // Whether the app is within two days of its first open; the upload interval
  // is then the first-window one while conversion-value updates are enabled.
  virtual bool isInFirstSKANPostbackWindow() { return false; }
  // Every successful upload: the failed fetches counted so far are forgotten.
  virtual void resetSKANRetryCount() {}
};
