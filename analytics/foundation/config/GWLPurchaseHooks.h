// GWLPurchaseHooks — what the engine asks of purchase measurement, which lives
// in the attribution layer above it:
//
//   isPurchaseEvent / recordLifetimeValueToDatabase
//       inside the write transaction of every event, on the worker queue: an
//       event the first accepts adds to its currency's lifetime value; a NO
//       from the second rolls the event's transaction back
//   transactionFingerprint
//       the engine's duplicate filter of observed store transactions (worker
//       queue): the fingerprint recorded per purchased transaction; none when
//       the transaction cannot be fingerprinted (such a transaction is kept)
//   isVersionSameAsOriginalVersion
//       at first open (worker queue): whether the app version first installed
//       is the running one ("_fi")
//
// Installed through GWLInstalledHook<GWLPurchaseHooks> by the composition
// root; until then the defaults answer: no purchase event, nothing to record
// (the write goes on), no fingerprint, not the same version.
#pragma once

#include <optional>
#include <string>

class GWLDatabase;
class GWLEvent;
namespace platform {
struct PaymentTransaction;
}

class GWLPurchaseHooks {
 public:
  virtual ~GWLPurchaseHooks() = default;

  virtual bool isPurchaseEvent(const GWLEvent& /*event*/) { return false; }
  [[nodiscard]] virtual bool recordLifetimeValueToDatabase(GWLDatabase& /*database*/, const GWLEvent& /*event*/) { return true; }
  [[nodiscard]] virtual std::optional<std::string> transactionFingerprint(const platform::PaymentTransaction& /*transaction*/) {
    return std::nullopt;
  }
  virtual bool isVersionSameAsOriginalVersion() { return false; }
};
