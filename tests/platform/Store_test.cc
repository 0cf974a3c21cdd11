#include "platform/storekit/Store.h"

#include <gtest/gtest.h>

#include <future>

#include "TestTmp.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/FileBuffer.h"
#include "platform/storage/PropertyList.h"
#include "platform/storekit/PaymentQueue.h"
#include "platform/storekit/ProductsRequest.h"

namespace {

using platform::Object;

platform::Store::PurchaseRequest buy(const std::string& product, int64_t quantity = 1) {
  platform::Store::PurchaseRequest request;
  request.productIdentifier = product;
  request.quantity = quantity;
  return request;
}

platform::Product product(const std::string& identifier, platform::ProductType type) {
  platform::Product product;
  product.productIdentifier = identifier;
  product.price = "0.99";
  product.type = type;
  return product;
}

class StoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::Store> make(bool sandbox = false) {
    platform::Store::Configuration configuration;
    configuration.directory = directory();
    configuration.sandbox = sandbox;
    configuration.originalApplicationVersion = "1.0";
    configuration.clock = clock_;
    return platform::Store::create(configuration);
  }
  std::string directory() const { return (tmp_.path() / "StoreKit").string(); }

  tabulo_test::TestTmp tmp_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(1709285400);
};

// Waits for the one answer of a request.
class Answer : public platform::ProductsRequestDelegate {
 public:
  void productsRequestDidReceiveResponse(const std::shared_ptr<platform::ProductsRequest>&,
                                         const platform::ProductsResponse& response) override {
    promise_.set_value(response);
  }
  void requestDidFailWithError(const std::shared_ptr<platform::ProductsRequest>&, const platform::Error& error) override {
    promise_.set_value(error);
  }
  std::variant<platform::ProductsResponse, platform::Error> get() { return future_.get(); }

 private:
  std::promise<std::variant<platform::ProductsResponse, platform::Error>> promise_;
  std::future<std::variant<platform::ProductsResponse, platform::Error>> future_ = promise_.get_future();
};

TEST_F(StoreTest, TheCatalogAnswersProductsRequests) {
  std::filesystem::create_directories(directory());
  const platform::Array products = {
      Object(platform::Dictionary{{"ProductIdentifier", "coins"}, {"Price", "0.99"}, {"CurrencyCode", "USD"},
                                  {"Title", "Coins"}, {"Type", int64_t{1}}}),
      Object(platform::Dictionary{{"ProductIdentifier", "monthly"}, {"Price", "4.99"}, {"Type", int64_t{3}},
                                  {"IntroductoryPrice", "0"}, {"IntroductoryPaymentMode", int64_t{2}}}),
      Object(platform::Dictionary{{"Price", "1"}}),  // no identifier: skipped
  };
  ASSERT_TRUE(platform::PropertyList::writeFile(directory() + "/Products.plist",
                                                Object(platform::Dictionary{{"Products", products}})));
  auto store = make();
  ASSERT_TRUE(store);
  ASSERT_EQ(store->products().size(), 2u);
  auto monthly = store->productWithIdentifier("monthly");
  ASSERT_TRUE(monthly);
  EXPECT_EQ(monthly->type, platform::ProductType::AutoRenewableSubscription);
  EXPECT_EQ(monthly->introductoryPrice,
            (platform::ProductDiscount{"0", platform::ProductDiscountPaymentMode::FreeTrial}));
  EXPECT_EQ(monthly->currencyCode, std::nullopt);

  auto request = platform::ProductsRequest::create({"coins", "gems"}, store);
  auto answer = std::make_shared<Answer>();
  request->setDelegate(answer);
  request.reset();  // a started request keeps itself alive
  platform::ProductsRequest::create({"coins", "gems"}, store);
  auto started = platform::ProductsRequest::create({"coins", "gems"}, store);
  started->setDelegate(answer);
  started->start();
  started.reset();
  auto response = std::get<platform::ProductsResponse>(answer->get());
  ASSERT_EQ(response.products.size(), 1u);
  EXPECT_EQ(response.products[0].price, "0.99");
  EXPECT_EQ(response.invalidProductIdentifiers, std::vector<std::string>{"gems"});

  store->setRequestFailure(platform::Error("test", 7, "offline"));
  auto failing = platform::ProductsRequest::create({"coins"}, store);
  auto failure = std::make_shared<Answer>();
  failing->setDelegate(failure);
  failing->start();
  EXPECT_EQ(std::get<platform::Error>(failure->get()).code, 7);

  EXPECT_FALSE(platform::ProductsRequest::create({}, store));
  EXPECT_FALSE(platform::ProductsRequest::create({"coins", ""}, store));
}

TEST_F(StoreTest, ADamagedCatalogIsRefused) {
  std::filesystem::create_directories(directory());
  for (const char* content : {"not a property list", "<plist><array/></plist>"}) {
    std::ofstream(directory() + "/Products.plist") << content;
    platform::Error error;
    platform::Store::Configuration configuration;
    configuration.directory = directory();
    EXPECT_FALSE(platform::Store::create(configuration, &error)) << content;
    EXPECT_EQ(error.code, platform::Store::kUnreadableFile) << content;
  }
}

TEST_F(StoreTest, PurchasesExtendTheReceipt) {
  auto store = make(true);
  store->setProducts({product("coins", platform::ProductType::Consumable),
                      product("monthly", platform::ProductType::AutoRenewableSubscription)});
  EXPECT_EQ(store->receiptPath(), directory() + "/sandboxReceipt");
  EXPECT_FALSE(platform::readRegularFile(store->receiptPath(), 1 << 20)) << "no receipt before a purchase";

  platform::Error error;
  EXPECT_FALSE(store->recordPurchase(buy("unknown"), &error));
  EXPECT_EQ(error.code, platform::Store::kUnknownProduct);

  auto coins = store->recordPurchase(buy("coins", 3));
  ASSERT_TRUE(coins);
  EXPECT_EQ(coins->quantity, 3);
  EXPECT_EQ(coins->date, 1709285400);
  EXPECT_EQ(coins->purchase.transactionIdentifier, "1000000000000001");
  EXPECT_EQ(coins->purchase.originalTransactionIdentifier, "1000000000000001");
  EXPECT_EQ(coins->purchase.purchaseDate, "2024-03-01T09:30:00Z");
  EXPECT_EQ(coins->purchase.purchaseType, 1);
  EXPECT_FALSE(coins->purchase.webOrderLineItemIdentifier);

  auto trialRequest = buy("monthly");
  trialRequest.freeTrial = true;
  auto trial = store->recordPurchase(trialRequest);
  clock_->advance(86400 * 30);
  platform::Store::PurchaseRequest renewal = buy("monthly");
  renewal.originalTransactionIdentifier = trial->purchase.transactionIdentifier;
  auto renewed = store->recordPurchase(renewal);
  ASSERT_TRUE(renewed);
  EXPECT_EQ(renewed->purchase.transactionIdentifier, "1000000000000003");
  EXPECT_EQ(renewed->purchase.originalTransactionIdentifier, "1000000000000002");
  EXPECT_EQ(renewed->purchase.originalPurchaseDate, "2024-03-01T09:30:00Z");
  EXPECT_EQ(renewed->purchase.purchaseDate, "2024-03-31T09:30:00Z");
  EXPECT_EQ(renewed->purchase.webOrderLineItemIdentifier, 2000000000000003u);
  EXPECT_EQ(trial->purchase.freeTrial, 1);
  EXPECT_EQ(renewed->purchase.freeTrial, 0);

  const std::vector<platform::receipt::Purchase> all = {coins->purchase, trial->purchase, renewed->purchase};
  auto file = platform::readRegularFile(store->receiptPath(), 1 << 20);
  ASSERT_TRUE(file);
  EXPECT_EQ(std::vector<uint8_t>(file->bytes().begin(), file->bytes().end()), platform::receipt::encodeReceipt("1.0", all));

  // The purchases outlive the store: a new one counts on.
  store.reset();
  auto again = make(true);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->purchases(), all);
  again->setProducts({product("coins", platform::ProductType::Consumable)});
  EXPECT_EQ(again->recordPurchase(buy("coins"))->purchase.transactionIdentifier, "1000000000000004");
}

TEST_F(StoreTest, APurchaseIsReportedOnThePaymentQueue) {
  struct Observer : platform::PaymentTransactionObserver {
    void paymentQueue(const std::shared_ptr<platform::PaymentQueue>&,
                      const std::vector<platform::PaymentTransaction>& transactions) override {
      seen.insert(seen.end(), transactions.begin(), transactions.end());
    }
    std::vector<platform::PaymentTransaction> seen;
  };
  auto mainQueue = platform::MainQueue::create();
  auto paymentQueue = platform::PaymentQueue::create(mainQueue);
  auto observer = std::make_shared<Observer>();
  paymentQueue->addTransactionObserver(observer);
  platform::Store::Configuration configuration;
  configuration.directory = directory();
  configuration.clock = clock_;
  configuration.paymentQueue = paymentQueue;
  auto store = platform::Store::create(configuration);
  store->setProducts({product("monthly", platform::ProductType::AutoRenewableSubscription)});

  auto first = store->purchase(buy("monthly", 2));
  ASSERT_TRUE(first);
  auto renewal = buy("monthly");
  renewal.originalTransactionIdentifier = first->transactionIdentifier;
  ASSERT_TRUE(store->purchase(renewal));
  platform::Error error;
  EXPECT_FALSE(store->purchase(buy("unknown"), &error));
  EXPECT_EQ(error.code, platform::Store::kUnknownProduct);
  mainQueue->drain();

  ASSERT_EQ(observer->seen.size(), 2u);
  EXPECT_EQ(observer->seen[0].transactionIdentifier, "1000000000000001");
  EXPECT_EQ(observer->seen[0].transactionState, platform::PaymentTransactionState::Purchased);
  EXPECT_EQ(observer->seen[0].payment, (platform::Payment{"monthly", 2}));
  EXPECT_EQ(observer->seen[0].transactionDate, platform::Date{1709285400});
  EXPECT_EQ(observer->seen[0].originalTransactionIdentifier, std::nullopt) << "a first purchase";
  EXPECT_EQ(observer->seen[1].originalTransactionIdentifier, "1000000000000001");
}

TEST(ReceiptEncodingTest, LengthsAndIntegersAreDER) {
  using platform::receipt::encodeInteger;
  using platform::receipt::encodeLength;
  EXPECT_EQ(encodeLength(0), platform::Bytes({0x00}));
  EXPECT_EQ(encodeLength(127), platform::Bytes({0x7F}));
  EXPECT_EQ(encodeLength(128), platform::Bytes({0x81, 0x80}));
  EXPECT_EQ(encodeLength(300), platform::Bytes({0x82, 0x01, 0x2C}));
  EXPECT_EQ(encodeInteger(0), platform::Bytes({0x02, 0x01, 0x00}));
  EXPECT_EQ(encodeInteger(127), platform::Bytes({0x02, 0x01, 0x7F}));
  EXPECT_EQ(encodeInteger(128), platform::Bytes({0x02, 0x02, 0x00, 0x80}));
  EXPECT_EQ(encodeInteger(1702), platform::Bytes({0x02, 0x02, 0x06, 0xA6}));
  EXPECT_EQ(platform::receipt::encodeOriginalApplicationVersion("1.0"),
            platform::Bytes({0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x05, 0x0C, 0x03, '1', '.', '0'}));
}

}  // namespace
