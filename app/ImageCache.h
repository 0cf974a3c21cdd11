// ImageCache — the in-memory cache of decoded photos, keyed by text.
//
// A least-recently-used cache with a byte budget: every image costs its
// byteCost(), and storing an entry that takes the total over the budget drops
// the least recently used entries (looked up or stored longest ago) until the
// total fits again. An image that alone costs more than the budget is not kept.
// Used on the main thread only.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/grid/Image.h"

namespace tabulo {

class ImageCache {
 public:
  static constexpr size_t kDefaultByteBudget = 64 * 1024 * 1024;

  explicit ImageCache(size_t byteBudget = kDefaultByteBudget) : byteBudget_(byteBudget) {}

  // The image stored under `key`, now the most recently used; none on a miss.
  std::shared_ptr<const platform::Image> object(const std::string& key);
  // Stores `image` under `key` (replacing an earlier one) as the most recently
  // used entry, then evicts down to the budget. A null image removes the key.
  void setObject(std::shared_ptr<const platform::Image> image, const std::string& key);
  void removeObject(const std::string& key);
  void removeAllObjects();

  size_t count() const { return entries_.size(); }
  size_t totalCost() const { return totalCost_; }
  size_t byteBudget() const { return byteBudget_; }

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const platform::Image>>;

  size_t byteBudget_;
  size_t totalCost_ = 0;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace tabulo
