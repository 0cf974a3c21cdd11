// ODCConversionStoreReader — what the task chain reads of the conversion
// layer's store: the app's first launch (for the candidates query's "tfo") and
// the number of runs started before the current one (the queries'
// "odm2_count"). The store itself implements it; a context without a store
// reads both as absent.
//
// Called on the conversion layer's serial queue only.
#pragma once

#include <cstdint>
#include <optional>

class ODCConversionStoreReader {
 public:
  virtual ~ODCConversionStoreReader() = default;
  // Seconds since 1970; nullopt when the store has no first-launch time.
  virtual std::optional<double> firstLaunchTimestamp() = 0;
  // Runs started before the current one; nullopt when the store has no count.
  virtual std::optional<int64_t> odm2RetryCount() = 0;
};
