// ImageFetcher — holder of the app's one image cache.
//
// The grid data source keeps every photo it has read in `cache()`, keyed by
// the photo's file name, so that a photo file is read and checked once and
// then served from memory while it stays in the cache's budget. Photos are
// saved under new file names, so a cached entry never stands for changed
// content. The shared instance lives until the process ends; tests make their
// own.
#pragma once

#include <memory>

#include "app/ImageCache.h"

namespace tabulo {

class ImageFetcher {
 public:
  explicit ImageFetcher(size_t byteBudget = ImageCache::kDefaultByteBudget) : cache_(byteBudget) {}

  static std::shared_ptr<ImageFetcher> shared();

  ImageCache& cache() { return cache_; }

 private:
  ImageCache cache_;
};

}  // namespace tabulo
