#include "platform/storekit/PaymentQueue.h"

#include <gtest/gtest.h>

#include "platform/dispatch/Queue.h"

namespace platform {
namespace {

class Recorder : public PaymentTransactionObserver {
 public:
  void paymentQueue(const std::shared_ptr<PaymentQueue>& queue,
                    const std::vector<PaymentTransaction>& updatedTransactions) override {
    EXPECT_TRUE(MainQueue::isMainThread());
    queues.push_back(queue);
    updates.push_back(updatedTransactions);
  }
  std::vector<std::shared_ptr<PaymentQueue>> queues;
  std::vector<std::vector<PaymentTransaction>> updates;
};

TEST(PaymentQueue, DeliversUpdatesOnTheMainQueueToTheObserversRegisteredThen) {
  auto main = MainQueue::create();
  auto queue = PaymentQueue::create(main);
  auto first = std::make_shared<Recorder>();
  auto second = std::make_shared<Recorder>();
  queue->addTransactionObserver(first);
  queue->addTransactionObserver(first);  // once only
  queue->addTransactionObserver(second);
  EXPECT_EQ(queue->observerCount(), 2u);

  PaymentTransaction bought;
  bought.transactionIdentifier = "1000";
  bought.transactionState = PaymentTransactionState::Purchased;
  bought.payment = {"com.example.pro", 2};
  queue->updateTransactions({bought});
  EXPECT_TRUE(first->updates.empty());  // nothing before the main loop runs
  queue->removeTransactionObserver(second.get());
  main->drain();
  ASSERT_EQ(first->updates.size(), 1u);
  EXPECT_EQ(first->updates[0], std::vector<PaymentTransaction>{bought});
  EXPECT_EQ(first->queues[0], queue);
  EXPECT_TRUE(second->updates.empty());  // removed before delivery

  first.reset();  // held weakly: a gone observer is skipped
  queue->updateTransactions({bought});
  EXPECT_EQ(main->drain(), 1u);
  EXPECT_EQ(queue->observerCount(), 0u);
}

}  // namespace
}  // namespace platform
