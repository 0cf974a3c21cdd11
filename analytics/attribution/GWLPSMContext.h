// GWLPSMContext — the state of the engine's private-set-membership query run:
// the client of the current query, whether its request is in flight or waits
// for the engine's next finished upload, the counts of this app run, the
// retry alarm and the context's own network object.
//
// One context per app run (the engine's `ODM1Context`); a wipe-out of the
// analytics data replaces it with a fresh one. Threads: owned by the engine's
// worker queue; every field is read and written there only.
#pragma once

#include <cstdint>
#include <memory>

class GWLAlarm;
class GWLPrivateSetMembershipClient;
namespace platform {
class HVUNetwork;
}

class GWLPSMContext {
 public:
  // The client of the current query; null when none.
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClient;
  // A request has been posted and not answered.
  bool isPSMRequestInProgress = false;
  // A request waits for the engine's next finished upload.
  bool isPSMRequestPostponed = false;
  // Queries started in this app run (never reset).
  int32_t PSMStartCount = 0;
  // Failed attempts of the current query; 0 at each start.
  int32_t PSMRetryCount = 0;
  // One-shot retry timer; made on first use.
  std::shared_ptr<GWLAlarm> PSMRetryAlarm;
  // Seconds since 1970 of the session start that started the query; 0 for a
  // query with the app's user data.
  double sessionStartTimestamp = 0;
  // The context's own network object; made on first use.
  std::shared_ptr<platform::HVUNetwork> network;
};
