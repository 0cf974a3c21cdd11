#include "platform/storekit/PaymentQueue.h"

#include <algorithm>

#include "platform/dispatch/Queue.h"

namespace platform {

std::shared_ptr<PaymentQueue> PaymentQueue::defaultQueue() {
  // Never destroyed: observers may still be removed while the process exits.
  static const auto* queue = new std::shared_ptr<PaymentQueue>(create(MainQueue::shared()));
  return *queue;
}

std::shared_ptr<PaymentQueue> PaymentQueue::create(std::shared_ptr<Queue> mainQueue) {
  return std::shared_ptr<PaymentQueue>(new PaymentQueue(std::move(mainQueue)));
}

void PaymentQueue::addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) {
  if (!observer) return;
  std::lock_guard lock(mutex_);
  for (const auto& entry : observers_) {
    if (entry.first == observer.get() && !entry.second.expired()) return;
  }
  std::erase_if(observers_, [&](const auto& entry) { return entry.first == observer.get(); });
  observers_.emplace_back(observer.get(), observer);
}

void PaymentQueue::removeTransactionObserver(const PaymentTransactionObserver* observer) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [&](const auto& entry) { return entry.first == observer; });
}

size_t PaymentQueue::observerCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(
      std::count_if(observers_.begin(), observers_.end(), [](const auto& entry) { return !entry.second.expired(); }));
}

void PaymentQueue::updateTransactions(std::vector<PaymentTransaction> transactions) {
  if (!mainQueue_) return;
  auto shared = std::make_shared<const std::vector<PaymentTransaction>>(std::move(transactions));
  std::weak_ptr<PaymentQueue> weakSelf = weak_from_this();
  mainQueue_->async([weakSelf, shared] {
    auto self = weakSelf.lock();
    if (!self) return;
    // The observers registered when the update is delivered.
    std::vector<std::shared_ptr<PaymentTransactionObserver>> observers;
    {
      std::lock_guard lock(self->mutex_);
      for (const auto& entry : self->observers_) {
        if (auto observer = entry.second.lock()) observers.push_back(std::move(observer));
      }
    }
    for (const auto& observer : observers) observer->paymentQueue(self, *shared);
  });
}

}  // namespace platform
