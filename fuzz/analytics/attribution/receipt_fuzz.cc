// Receipt bytes (the app's receipt file, read as it is): the purchase-item
// scan, the filter over what it found, the classification of a purchase of
// each item's product against those items, and the original-application-
// version check. Nothing may read outside the bytes, and what comes out holds
// only well-formed text.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analytics/attribution/GWLPurchaseEventParameters.h"
#include "analytics/attribution/GWLReceipt.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/text/InternetDate.h"
#include "platform/text/Utf8.h"

namespace {

using fuzz_support::check;

bool wellFormed(const std::optional<std::string>& text) { return !text || platform::utf8::isValid(*text); }

int testOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that the sanitizer sees any read past the end.
  std::vector<uint8_t> bytes(data, data + size);
  auto items = GWLPurchaseItemsFromReceipt(bytes);
  check(items.has_value() == !bytes.empty());
  if (items) {
    for (size_t i = 0; i < items->size(); ++i) {
      const GWLInAppPurchaseItem& item = (*items)[i];
      check(item.productID || i + 1 == items->size());
      check(wellFormed(item.productID) && wellFormed(item.transactionID) && wellFormed(item.originalTransactionID));
      check(!item.webOrderLineItemID || *item.webOrderLineItemID != 0);
      check(!item.purchaseType || (*item.purchaseType >= 0 && *item.purchaseType <= 255));
    }
    for (const GWLInAppPurchaseItem& item : *items) {
      auto date = item.purchaseDateIA5String ? platform::parseInternetDate(*item.purchaseDateIA5String) : std::nullopt;
      auto ofProduct = GWLFilterPurchaseItems(*items, item.productID, std::nullopt);
      check(!item.productID || item.productID->empty() || (ofProduct && !ofProduct->empty()));
      if (date) {
        auto ofDate = GWLFilterPurchaseItems(*items, std::nullopt, date);
        check(ofDate && !ofDate->empty());
      }
      if (item.productID && !item.productID->empty()) {
        platform::Product product;
        product.productIdentifier = *item.productID;
        product.price = "0.99";
        product.currencyCode = "USD";
        product.introductoryPrice = platform::ProductDiscount{"0.49", platform::ProductDiscountPaymentMode::PayAsYouGo};
        auto parameters = GWLPurchaseEventParameters(product, 3, item.transactionID, item.originalTransactionID, date, items);
        if (parameters) {
          auto event = GWLPurchaseEventFromParameters(*parameters, kGWLStoreKitVersion1, std::nullopt, false);
          check(!event.name.empty() && event.parameters.count("invalid") == 0);
        }
      }
    }
  }
  const std::optional<std::vector<uint8_t>> receipt = bytes;
  (void)GWLIsReceiptAppVersionCurrentInData(receipt, "1.0");
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
