// The purchase-item scan of a 1 MB receipt (the store stand-in's encoding of
// about 4,500 purchases) beside the plainest search over the same bytes: a
// memchr for the first byte of the item-start marker, then a compare of the
// marker's fixed bytes. The scan tries up to twelve patterns at each offset
// inside an item, so its cost per byte is what the ratio of the two shows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/storekit/Receipt.h"
#include "platform/text/InternetDate.h"

namespace {

constexpr size_t kReceiptBytes = 1u << 20;

const std::vector<uint8_t>& receipt() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<platform::receipt::Purchase> purchases;
    std::vector<uint8_t> encoded;
    for (int64_t i = 0; encoded.size() < kReceiptBytes; ++i) {
      platform::receipt::Purchase purchase;
      purchase.productIdentifier = "com.example.product" + std::to_string(i % 40);
      purchase.transactionIdentifier = std::to_string(1000000000000001 + i);
      purchase.originalTransactionIdentifier = std::to_string(1000000000000001 + i - i % 12);
      purchase.purchaseDate = platform::formatInternetDate(1700000000.0 + 3600.0 * static_cast<double>(i));
      purchase.originalPurchaseDate = purchase.purchaseDate;
      purchase.purchaseType = i % 4;
      if (i % 4 == 3) {
        purchase.webOrderLineItemIdentifier = static_cast<uint64_t>(2000000000000001 + i);
        purchase.subscriptionExpirationDate = platform::formatInternetDate(1700000000.0 + 3600.0 * static_cast<double>(i + 720));
        purchase.freeTrial = i % 24 == 3 ? 1 : 0;
        purchase.introductoryOffer = 0;
      }
      purchases.push_back(purchase);
      auto item = platform::receipt::encodeInAppPurchase(purchase);
      encoded.insert(encoded.end(), item.begin(), item.end());
    }
    return platform::receipt::encodeReceipt("1.0", purchases);
  }();
  return bytes;
}

void quietMonitor() {
  static const bool quiet = [] {
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    GWLLibraryMonitor::resetForTesting(GWLMonitor::create(6, nullptr, kGWLLibraryVersion, dependencies));
    return true;
  }();
  (void)quiet;
}

void BM_ItemScan(benchmark::State& state) {
  quietMonitor();
  const auto& bytes = receipt();
  size_t items = 0;
  for (auto _ : state) {
    auto found = GWLPurchaseItemsFromReceipt(bytes);
    items = found->size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["items"] = static_cast<double>(items);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ItemScan)->Unit(benchmark::kMillisecond);

void BM_MemchrItemStart(benchmark::State& state) {
  const auto& bytes = receipt();
  // The marker's fixed bytes: 02 01 11 02 01, a version byte, 04.
  static const uint8_t kMarker[] = {0x02, 0x01, 0x11, 0x02, 0x01};
  size_t items = 0;
  for (auto _ : state) {
    items = 0;
    const uint8_t* at = bytes.data();
    const uint8_t* end = bytes.data() + bytes.size();
    while (at + 7 <= end) {
      at = static_cast<const uint8_t*>(std::memchr(at, kMarker[0], static_cast<size_t>(end - at) - 6));
      if (!at) break;
      if (std::memcmp(at, kMarker, sizeof kMarker) == 0 && at[6] == 0x04) ++items;
      ++at;
    }
    benchmark::DoNotOptimize(items);
  }
  state.counters["items"] = static_cast<double>(items);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_MemchrItemStart)->Unit(benchmark::kMillisecond);

}  // namespace
