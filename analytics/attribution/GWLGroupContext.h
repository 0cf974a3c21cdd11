// GWLGroupContext — the state of the engine's daily group-identifier query:
// the client of the running query, whether a fetch is running (recorded, not
// consulted by any decision) and the context's own network object.
//
// The engine's `ODM1GroupContext`, made on the first query and replaced by a
// fresh one at every wipe-out. Threads: owned by the engine's worker queue
// (the group client's answer is handed there before it touches the context).
#pragma once

#include <memory>

class ODCPrivateSetMembershipGroupClientProtocol;
namespace platform {
class HVUNetwork;
}

class GWLGroupContext {
 public:
  // The client of the running query; null when none.
  std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> ODCGroupClient;
  bool isPSMRequestInProgress = false;
  // The context's own network object; made on first use.
  std::shared_ptr<platform::HVUNetwork> network;
};
