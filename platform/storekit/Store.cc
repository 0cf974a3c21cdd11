#include "platform/storekit/Store.h"

#include <cerrno>
#include <algorithm>
#include <filesystem>

#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PropertyList.h"
#include "platform/text/InternetDate.h"

namespace platform {

namespace {

// Catalog keys.
constexpr const char* kProductsKey = "Products";
constexpr const char* kProductIdentifierKey = "ProductIdentifier";
constexpr const char* kPriceKey = "Price";
constexpr const char* kCurrencyCodeKey = "CurrencyCode";
constexpr const char* kTitleKey = "Title";
constexpr const char* kTypeKey = "Type";
constexpr const char* kIntroductoryPriceKey = "IntroductoryPrice";
constexpr const char* kIntroductoryPaymentModeKey = "IntroductoryPaymentMode";
// Purchases keys.
constexpr const char* kPurchasesKey = "Purchases";
constexpr const char* kTransactionIdentifierKey = "TransactionIdentifier";
constexpr const char* kOriginalTransactionIdentifierKey = "OriginalTransactionIdentifier";
constexpr const char* kPurchaseDateKey = "PurchaseDate";
constexpr const char* kOriginalPurchaseDateKey = "OriginalPurchaseDate";
constexpr const char* kWebOrderLineItemIdentifierKey = "WebOrderLineItemIdentifier";
constexpr const char* kFreeTrialKey = "FreeTrial";
constexpr const char* kIntroductoryOfferKey = "IntroductoryOffer";

constexpr int64_t kFirstTransactionIdentifier = 1'000'000'000'000'001;
constexpr int64_t kFirstWebOrderLineItemIdentifier = 2'000'000'000'000'001;

std::optional<std::string> text(const Dictionary& dictionary, const char* key) {
  auto it = dictionary.find(key);
  if (it == dictionary.end() || !it->second.stringValue()) return std::nullopt;
  return *it->second.stringValue();
}

std::optional<int64_t> integer(const Dictionary& dictionary, const char* key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? std::nullopt : it->second.intValue();
}

void put(Dictionary& dictionary, const char* key, const std::optional<std::string>& value) {
  if (value) dictionary[key] = *value;
}
void put(Dictionary& dictionary, const char* key, std::optional<int64_t> value) {
  if (value) dictionary[key] = *value;
}

Error unreadable(const std::string& path, const std::string& why) {
  return Error(kStoreErrorDomain, Store::kUnreadableFile, path + ": " + why);
}

// The "Products" or "Purchases" array of a property-list file; an empty list
// when the file is missing.
std::optional<Array> readList(const std::string& path, const char* key, Error* error) {
  Error readError;
  auto object = PropertyList::readFile(path, &readError);
  if (!object) {
    if (readError.domain == kPOSIXErrorDomain && readError.code == ENOENT) return Array{};
    setError(error, unreadable(path, readError.toString()));
    return std::nullopt;
  }
  const Dictionary* root = object->dictionaryValue();
  auto it = root ? root->find(key) : Dictionary::const_iterator();
  if (!root || it == root->end() || !it->second.arrayValue()) {
    setError(error, unreadable(path, std::string("no array under ") + key));
    return std::nullopt;
  }
  return *it->second.arrayValue();
}

std::optional<Product> productFrom(const Object& entry) {
  const Dictionary* fields = entry.dictionaryValue();
  if (!fields) return std::nullopt;
  auto identifier = text(*fields, kProductIdentifierKey);
  if (!identifier || identifier->empty()) return std::nullopt;
  Product product;
  product.productIdentifier = *identifier;
  product.price = text(*fields, kPriceKey);
  product.currencyCode = text(*fields, kCurrencyCodeKey);
  product.localizedTitle = text(*fields, kTitleKey);
  if (auto type = integer(*fields, kTypeKey); type && *type >= 0 && *type <= 3) product.type = ProductType(*type);
  if (auto introductory = text(*fields, kIntroductoryPriceKey)) {
    ProductDiscount discount{*introductory};
    if (auto mode = integer(*fields, kIntroductoryPaymentModeKey); mode && *mode >= 0 && *mode <= 2) {
      discount.paymentMode = ProductDiscountPaymentMode(*mode);
    }
    product.introductoryPrice = discount;
  }
  return product;
}

receipt::Purchase purchaseFrom(const Dictionary& fields) {
  receipt::Purchase purchase;
  purchase.productIdentifier = text(fields, kProductIdentifierKey);
  purchase.transactionIdentifier = text(fields, kTransactionIdentifierKey);
  purchase.originalTransactionIdentifier = text(fields, kOriginalTransactionIdentifierKey);
  purchase.purchaseDate = text(fields, kPurchaseDateKey);
  purchase.originalPurchaseDate = text(fields, kOriginalPurchaseDateKey);
  purchase.purchaseType = integer(fields, kTypeKey);
  if (auto webOrder = integer(fields, kWebOrderLineItemIdentifierKey); webOrder && *webOrder > 0) {
    purchase.webOrderLineItemIdentifier = static_cast<uint64_t>(*webOrder);
  }
  purchase.freeTrial = integer(fields, kFreeTrialKey);
  purchase.introductoryOffer = integer(fields, kIntroductoryOfferKey);
  return purchase;
}

Dictionary fieldsOf(const receipt::Purchase& purchase) {
  Dictionary fields;
  put(fields, kProductIdentifierKey, purchase.productIdentifier);
  put(fields, kTransactionIdentifierKey, purchase.transactionIdentifier);
  put(fields, kOriginalTransactionIdentifierKey, purchase.originalTransactionIdentifier);
  put(fields, kPurchaseDateKey, purchase.purchaseDate);
  put(fields, kOriginalPurchaseDateKey, purchase.originalPurchaseDate);
  put(fields, kTypeKey, purchase.purchaseType);
  if (purchase.webOrderLineItemIdentifier) {
    fields[kWebOrderLineItemIdentifierKey] = static_cast<int64_t>(*purchase.webOrderLineItemIdentifier);
  }
  put(fields, kFreeTrialKey, purchase.freeTrial);
  put(fields, kIntroductoryOfferKey, purchase.introductoryOffer);
  return fields;
}

struct SharedStore {
  Mutex mutex;
  std::shared_ptr<Store> set ABSL_GUARDED_BY(mutex);
  std::shared_ptr<Store> made ABSL_GUARDED_BY(mutex);
  std::string madeFor ABSL_GUARDED_BY(mutex);
};

SharedStore& sharedStore() {
  static auto* shared = new SharedStore();  // never destroyed: asked from queues while the process exits
  return *shared;
}

}  // namespace

std::shared_ptr<Store> Store::create(Configuration configuration, Error* error) {
  if (configuration.originalApplicationVersion.empty()) {
    configuration.originalApplicationVersion = AppEnvironment::shared()->buildVersion();
  }
  auto queue = configuration.queue ? configuration.queue : SerialQueue::create("platform.Store");
  auto clock = configuration.clock ? configuration.clock : Clock::system();
  const std::string directory = configuration.directory;
  auto catalog = readList(directory + "/" + kStoreCatalogFileName, kProductsKey, error);
  if (!catalog) return nullptr;
  auto recorded = readList(directory + "/" + kStorePurchasesFileName, kPurchasesKey, error);
  if (!recorded) return nullptr;
  auto paymentQueue = configuration.paymentQueue ? configuration.paymentQueue : PaymentQueue::defaultQueue();
  std::shared_ptr<Store> store(
      new Store(std::move(configuration), std::move(queue), std::move(clock), std::move(paymentQueue)));
  MutexLock lock(store->mutex_);
  for (const Object& entry : *catalog) {
    if (auto product = productFrom(entry)) store->products_.push_back(std::move(*product));
  }
  for (const Object& entry : *recorded) {
    if (const Dictionary* fields = entry.dictionaryValue()) store->purchases_.push_back(purchaseFrom(*fields));
  }
  return store;
}

std::shared_ptr<Store> Store::shared() {
  SharedStore& shared = sharedStore();
  MutexLock lock(shared.mutex);
  if (shared.set) return shared.set;
  auto paths = Paths::current();
  if (!paths) return nullptr;
  const std::string directory = paths->dataDirectory() + "/" + kStoreDirectoryName;
  if (!shared.made || shared.madeFor != directory) {
    Configuration configuration;
    configuration.directory = directory;
    configuration.sandbox = !AppEnvironment::isFromAppStore();
    Error error;
    shared.made = create(std::move(configuration), &error);
    shared.madeFor = directory;
    if (!shared.made) {
      log::write(LogLevel::Warning, "platform", "storekit", "", "No store, its files cannot be read: " + error.toString());
    }
  }
  return shared.made;
}

void Store::setShared(std::shared_ptr<Store> store) {
  SharedStore& shared = sharedStore();
  MutexLock lock(shared.mutex);
  shared.set = std::move(store);
}

std::vector<Product> Store::products() const {
  MutexLock lock(mutex_);
  return products_;
}

void Store::setProducts(std::vector<Product> products) {
  MutexLock lock(mutex_);
  products_ = std::move(products);
}

std::optional<Product> Store::productWithIdentifier(const std::string& identifier) const {
  MutexLock lock(mutex_);
  for (const Product& product : products_) {
    if (product.productIdentifier == identifier) return product;
  }
  return std::nullopt;
}

void Store::setRequestFailure(std::optional<Error> failure) {
  MutexLock lock(mutex_);
  requestFailure_ = std::move(failure);
}

std::string Store::receiptPath() const {
  return configuration_.directory + "/" + (configuration_.sandbox ? kStoreSandboxReceiptFileName : kStoreReceiptFileName);
}

std::vector<receipt::Purchase> Store::purchases() const {
  MutexLock lock(mutex_);
  return purchases_;
}

std::variant<ProductsResponse, Error> Store::answerProductsRequest(const std::set<std::string>& identifiers) const {
  MutexLock lock(mutex_);
  if (requestFailure_) return *requestFailure_;
  ProductsResponse response;
  for (const std::string& identifier : identifiers) {
    auto found = std::find_if(products_.begin(), products_.end(),
                              [&](const Product& product) { return product.productIdentifier == identifier; });
    if (found != products_.end()) {
      response.products.push_back(*found);
    } else {
      response.invalidProductIdentifiers.push_back(identifier);
    }
  }
  return response;
}

std::optional<Store::Recorded> Store::recordPurchase(const PurchaseRequest& request, Error* error) {
  auto product = productWithIdentifier(request.productIdentifier);
  if (!product) {
    setError(error, Error(kStoreErrorDomain, kUnknownProduct, "No product " + request.productIdentifier));
    return std::nullopt;
  }
  const double now = clock_->now();
  MutexLock lock(mutex_);
  const auto count = static_cast<int64_t>(purchases_.size());
  receipt::Purchase purchase;
  purchase.productIdentifier = product->productIdentifier;
  purchase.transactionIdentifier = std::to_string(kFirstTransactionIdentifier + count);
  purchase.purchaseDate = formatInternetDate(now);
  purchase.originalTransactionIdentifier = request.originalTransactionIdentifier.value_or(*purchase.transactionIdentifier);
  purchase.originalPurchaseDate = purchase.purchaseDate;
  for (const receipt::Purchase& earlier : purchases_) {
    if (earlier.transactionIdentifier == purchase.originalTransactionIdentifier) {
      purchase.originalPurchaseDate = earlier.purchaseDate;
    }
  }
  purchase.purchaseType = static_cast<int64_t>(product->type);
  if (product->type == ProductType::AutoRenewableSubscription) {
    purchase.webOrderLineItemIdentifier = static_cast<uint64_t>(kFirstWebOrderLineItemIdentifier + count);
    purchase.freeTrial = request.freeTrial ? 1 : 0;
    purchase.introductoryOffer = request.introductoryOffer ? 1 : 0;
  }
  std::vector<receipt::Purchase> extended = purchases_;
  extended.push_back(purchase);
  if (!writeFiles(extended, error)) return std::nullopt;
  purchases_ = std::move(extended);
  return Recorded{purchase, now, request.quantity};
}

std::optional<PaymentTransaction> Store::purchase(const PurchaseRequest& request, Error* error) {
  auto recorded = recordPurchase(request, error);
  if (!recorded) return std::nullopt;
  PaymentTransaction transaction;
  transaction.transactionIdentifier = recorded->purchase.transactionIdentifier;
  transaction.transactionState = PaymentTransactionState::Purchased;
  transaction.transactionDate = Date{recorded->date};
  transaction.payment = Payment{request.productIdentifier, request.quantity};
  transaction.originalTransactionIdentifier = request.originalTransactionIdentifier;
  paymentQueue_->updateTransactions({transaction});
  return transaction;
}

bool Store::writeFiles(const std::vector<receipt::Purchase>& purchases, Error* error) const {
  std::error_code ignored;
  std::filesystem::create_directories(configuration_.directory, ignored);  // a failure shows in the writes
  Array entries;
  for (const receipt::Purchase& purchase : purchases) entries.emplace_back(fieldsOf(purchase));
  Error writeError;
  if (!PropertyList::writeFile(configuration_.directory + "/" + kStorePurchasesFileName,
                               Object(Dictionary{{kPurchasesKey, Object(std::move(entries))}}),
                               PropertyListFormat::Binary, &writeError)) {
    setError(error, Error(kStoreErrorDomain, kWriteFailed, writeError.toString()));
    return false;
  }
  const Bytes bytes = receipt::encodeReceipt(configuration_.originalApplicationVersion, purchases);
  if (!writeFileAtomically(receiptPath(), bytes, &writeError)) {
    setError(error, Error(kStoreErrorDomain, kWriteFailed, writeError.toString()));
    return false;
  }
  return true;
}

}  // namespace platform
