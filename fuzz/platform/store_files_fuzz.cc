// The store's files as found in the app container: the catalog
// (Products.plist) and the purchases made so far (Purchases.plist). Opening
// them never crashes: a store is made, or none with an "unreadable file"
// error. A store that was made answers products requests for every catalog
// product, and a purchase it records reads back unchanged from the files it
// wrote.
//
// Input: two bytes (big-endian) give the catalog's length, then the catalog's
// bytes, then the purchases' bytes; an empty part leaves its file out.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storekit/Store.h"

namespace fs = std::filesystem;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void writePart(const fs::path& path, std::string_view bytes) {
  if (!bytes.empty()) std::ofstream(path, std::ios::binary) << bytes;
}

std::shared_ptr<platform::Store> open(const fs::path& directory, const std::shared_ptr<platform::Queue>& queue,
                                      platform::Error* error) {
  platform::Store::Configuration configuration;
  configuration.directory = directory.string();
  configuration.originalApplicationVersion = "1.0";
  configuration.clock = std::make_shared<platform::ManualClock>();
  configuration.queue = queue;
  return platform::Store::create(configuration, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path directory = fs::temp_directory_path() / ("store_files_fuzz." + std::to_string(::getpid()));
  static const auto queue = platform::SerialQueue::create("fuzz.store");
  static const bool quiet = [] {
    platform::log::setSink(std::make_shared<platform::CapturingLogSink>());
    return true;
  }();
  (void)quiet;
  if (size < 2) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const size_t split = std::min<size_t>(rest.size(), size_t{data[0]} << 8 | data[1]);
  fs::remove_all(directory);
  fs::create_directories(directory);
  writePart(directory / platform::kStoreCatalogFileName, rest.substr(0, split));
  writePart(directory / platform::kStorePurchasesFileName, rest.substr(split));

  platform::Error error;
  auto store = open(directory, queue, &error);
  if (!store) {
    check(error.domain == platform::kStoreErrorDomain && error.code == platform::Store::kUnreadableFile);
    fs::remove_all(directory);
    return 0;
  }

  std::set<std::string> identifiers = {"fuzz.not.in.the.catalog"};
  for (const platform::Product& product : store->products()) {
    check(!product.productIdentifier.empty());
    identifiers.insert(product.productIdentifier);
  }
  auto answer = store->answerProductsRequest(identifiers);
  const auto* response = std::get_if<platform::ProductsResponse>(&answer);
  check(response != nullptr);
  check(response->products.size() + response->invalidProductIdentifiers.size() == identifiers.size());
  check(!response->invalidProductIdentifiers.empty());

  if (!store->products().empty()) {
    platform::Store::PurchaseRequest request;
    request.productIdentifier = store->products().front().productIdentifier;
    auto recorded = store->recordPurchase(request);
    check(recorded.has_value());
    auto reopened = open(directory, queue, &error);
    check(reopened && reopened->purchases() == store->purchases());
    check(fs::exists(reopened->receiptPath()));
  }
  store.reset();
  fs::remove_all(directory);
  return 0;
}
