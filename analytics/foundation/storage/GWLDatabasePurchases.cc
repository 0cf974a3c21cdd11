#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/storage/GWLDatabaseInternal.h"

using namespace gwl_database;

namespace {

constexpr int64_t kPurchasesKept = 1000;

}  // namespace

// ============================================================================
// Purchases and subscriptions
// ============================================================================

// Whether the value was new. A failed look-up is a failure, never "absent":
// a purchase must not be reported twice because a query failed.
std::optional<bool> GWLDatabase::insertIfNotDuplicate(const std::string& table, const std::string& column,
                                                      const std::string& value, platform::Error* error) {
  if (value.empty()) return false;
  auto present =
      flag("SELECT EXISTS (SELECT 1 FROM " + table + " WHERE " + column + " = ? LIMIT 1)", {value}, error);
  if (!present) return std::nullopt;
  if (*present) return false;
  if (storeFailed(error, "Database not open")) return std::nullopt;
  if (!store_->upsertRecord({{column, value}}, table, error)) return std::nullopt;
  return true;
}

std::optional<bool> GWLDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         platform::Error* error) {
  auto inserted = insertIfNotDuplicate(kPurchaseTransactions, "fingerprint", fingerprint, error);
  if (!inserted || !*inserted) return inserted;
  if (!deleteWhere(kPurchaseTransactions,
                   "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
                   {kPurchasesKept}, error)) {
    return std::nullopt;
  }
  return true;
}

std::optional<bool> GWLDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    platform::Error* error) {
  return insertIfNotDuplicate(kSubscriptions, "subscription_id", subscriptionID, error);
}

std::optional<int64_t> GWLDatabase::deleteSubscriptionsOverLimit(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  return store_->deleteRecordsFromTableWithName(
      kSubscriptions, "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {kPurchasesKept}, error);
}
