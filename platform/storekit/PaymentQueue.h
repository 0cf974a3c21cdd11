// platform::PaymentQueue — the store's queue of payment transactions, as far
// as the analytics library observes it.
//
// The store (on the device, the platform's store framework; here the host or
// a test) reports transactions whose state changed with `updateTransactions`;
// every registered observer then receives them on the main queue, in one call
// per update. Observers are held weakly: one that is gone is skipped, and
// `removeTransactionObserver` unregisters one at once.
//
// A transaction carries the fields the library reads: its identifier, state,
// date, error code, the payment (product identifier and quantity) and, for a
// restored or renewed purchase, the identifier of the original transaction.
//
// Thread-safe: any thread may register, unregister and update.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace platform {

class Queue;

enum class PaymentTransactionState : int64_t {
  Purchasing = 0,
  Purchased = 1,
  Failed = 2,
  Restored = 3,
  Deferred = 4,
};

struct Payment {
  std::string productIdentifier;
  int64_t quantity = 1;
  friend bool operator==(const Payment&, const Payment&) = default;
};

struct PaymentTransaction {
  std::optional<std::string> transactionIdentifier;
  PaymentTransactionState transactionState = PaymentTransactionState::Purchasing;
  std::optional<Date> transactionDate;
  Payment payment;
  // The original transaction's identifier (a restore or a renewal); none for a first purchase.
  std::optional<std::string> originalTransactionIdentifier;
  // The failure's code in the store's error domain; 0 without an error.
  int64_t errorCode = 0;
  friend bool operator==(const PaymentTransaction&, const PaymentTransaction&) = default;
};

class PaymentQueue;

class PaymentTransactionObserver {
 public:
  virtual ~PaymentTransactionObserver() = default;
  // Called on the main queue with the transactions of one update.
  virtual void paymentQueue(const std::shared_ptr<PaymentQueue>& queue,
                            const std::vector<PaymentTransaction>& updatedTransactions) = 0;
};

class PaymentQueue : public std::enable_shared_from_this<PaymentQueue> {
 public:
  // The process-wide queue, delivering on MainQueue::shared().
  static std::shared_ptr<PaymentQueue> defaultQueue();
  // A queue of its own that delivers on `mainQueue` (tests).
  static std::shared_ptr<PaymentQueue> create(std::shared_ptr<Queue> mainQueue);

  // Adding an observer twice keeps one registration.
  void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer);
  void removeTransactionObserver(const PaymentTransactionObserver* observer);
  size_t observerCount() const;

  // The store's side: these transactions changed state.
  void updateTransactions(std::vector<PaymentTransaction> transactions);

 private:
  explicit PaymentQueue(std::shared_ptr<Queue> mainQueue) : mainQueue_(std::move(mainQueue)) {}

  std::shared_ptr<Queue> mainQueue_;
  mutable std::mutex mutex_;
  std::vector<std::pair<const PaymentTransactionObserver*, std::weak_ptr<PaymentTransactionObserver>>> observers_;
};

}  // namespace platform
