// GWLLifetimeValueRecorder — the running total of purchases per currency.
//
// Every purchase event the engine writes adds its amount to the internal user
// property "_ltv_" + the currency code in capitals (origin "auto"), in
// millionths of the currency unit as an int64. Purchase events are "_iap"
// (whose "value" is in millionths already), "in_app_purchase" and the
// e-commerce purchases "ecommerce_purchase", "purchase" and "refund" (whose
// "value" is in currency units; a refund subtracts). At most
// `maxTrackedCurrencies` currencies are tracked: a new one first deletes the
// least recently set total when the limit is reached.
//
// The engine asks inside the event's write transaction, on its worker queue
// (which owns the database): a NO answer rolls the transaction back, so the
// event and its totals are written together or not at all.
//
//   isPurchaseEvent / isEcommercePurchaseEvent   by the event's name
//   recordLifetimeValueToDatabase                YES: nothing to record, or recorded;
//                                                NO: a database step failed or the
//                                                amount is out of range
//
// Lines: (1, 22000) a currency that is not a string of three characters or
// makes no property name, (1, 22001) a value that is not a number (both
// answer YES: the event is kept without a total); (1, 22002) an amount in
// millionths outside int64, which answers NO, and a total that would leave
// int64, which stays at the bound; (1, 22003) the totals could not be read,
// (1, 22004) the least recent could not be deleted, (1, 22005) the new total
// could not be written (all NO); (7, 22006) a total was written.
#pragma once

#include <cstdint>
#include <memory>

class GWLDatabase;
class GWLEvent;
class GWLMonitor;

class GWLLifetimeValueRecorder {
 public:
  // What a recording needs beside the database and the event.
  struct Context {
    int32_t maxTrackedCurrencies = 4;  // the configuration's, 1 to 100
    double now = 0;                    // the totals' set time, seconds since 1970
    std::shared_ptr<GWLMonitor> monitor;  // the library's monitor when null
  };

  static bool isPurchaseEvent(const GWLEvent& event);
  static bool isEcommercePurchaseEvent(const GWLEvent& event);
  // On the worker queue, inside the event's write transaction.
  [[nodiscard]] static bool recordLifetimeValueToDatabase(GWLDatabase& database, const GWLEvent& event,
                                                          const Context& context);
};

inline constexpr const char* kGWLLifetimeValuePrefix = "_ltv_";
