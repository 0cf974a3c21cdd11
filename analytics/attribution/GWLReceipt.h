// Reading the app's store receipt: the purchase items and the version of the
// app first installed, straight from the receipt file's bytes.
//
// The receipt's container is never decoded. Each fact sits in an attribute
// sequence with a fixed DER beginning (type, version, value tag), so the
// reader scans the bytes for those beginnings and takes the bytes that follow
// a match. A pattern is a list of bytes in which 255 is a wildcard; the last
// wildcard of a pattern is the length L of the content, which is the L bytes
// after the pattern (the table in GWLReceipt.cc has the thirteen patterns).
//
// Nothing here trusts the bytes: every read stays inside the data, a match
// whose content would run past the end gives nothing, and malformed receipts
// answer nullopt, an empty list or false with a monitor line (level 5):
//   39027 "Data is longer than 127"  a content length of 128 or more (still read)
//   39025 / 39028                    a free-trial / introductory-offer value other than 0 or 1
//   39002, 39004, 39006-39008        the original application version's checks
//
// The scan tries up to twelve patterns at every offset, so it runs off the
// main thread (the purchase reporter's queue, the engine's worker queue).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/attribution/GWLInAppPurchaseItem.h"

using GWLReceiptPattern = std::span<const uint8_t>;

// The byte that matches any data byte.
inline constexpr uint8_t kGWLReceiptWildcard = 255;

// The patterns (see GWLReceipt.cc).
extern const GWLReceiptPattern kGWLReceiptPurchaseItemStartPattern;
extern const GWLReceiptPattern kGWLReceiptOriginalApplicationVersionPattern;

// The content after `pattern` at `offset`, a view into `data`; nullopt when
// the offset is negative, the data or pattern is empty, the pattern does not
// fit before the data's last byte, a fixed byte differs, the pattern has no
// wildcard, the length is 0 or the content would run past the data.
std::optional<std::span<const uint8_t>> GWLReceiptFieldAtOffset(GWLReceiptPattern pattern,
                                                                std::span<const uint8_t> data, int64_t offset);
// The item-start pattern at `offset`.
std::optional<std::span<const uint8_t>> GWLReceiptPurchaseItemStartAtOffset(std::span<const uint8_t> data,
                                                                            int64_t offset);

// The purchase items of a receipt in receipt order; nullopt for empty data.
// An item without a product identifier is dropped unless it is the last; a
// field that occurs twice in one item keeps its first value.
std::optional<std::vector<GWLInAppPurchaseItem>> GWLPurchaseItemsFromReceipt(std::span<const uint8_t> receipt);

// The items of one product and/or one purchase date (seconds since 1970),
// earliest purchase first (items whose date cannot be read come first, in
// their order); nullopt when `items` is empty or neither a non-empty product
// identifier nor a date is given.
std::optional<std::vector<GWLInAppPurchaseItem>> GWLFilterPurchaseItems(
    const std::vector<GWLInAppPurchaseItem>& items, const std::optional<std::string>& productID,
    std::optional<double> purchaseDate);

// The receipt file's bytes (at GWLAEU::appStoreRURL), or nullopt when there is
// no receipt location or the file cannot be read (missing, not a regular
// file, larger than kGWLReceiptMaxBytes).
inline constexpr size_t kGWLReceiptMaxBytes = 32u << 20;
std::optional<std::vector<uint8_t>> GWLReadReceiptData();

// Whether the version of the app first installed (the receipt's original
// application version) equals the running bundle's version (CFBundleVersion).
// True at once in the simulator and with a sandbox receipt. Computed once per
// process; the answer is kept.
bool GWLIsReceiptAppVersionCurrent();
// The same check on given bytes, computed each time (the once-per-process
// answer is this over GWLReadReceiptData).
bool GWLIsReceiptAppVersionCurrentInData(const std::optional<std::vector<uint8_t>>& receipt,
                                         const std::string& bundleVersion);
// Tests: forgets the kept answer.
void GWLResetReceiptAppVersionCurrentForTesting();
