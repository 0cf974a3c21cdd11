#include "app/ImageCache.h"

namespace tabulo {

std::shared_ptr<const platform::Image> ImageCache::object(const std::string& key) {
  auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->second;
}

void ImageCache::setObject(std::shared_ptr<const platform::Image> image, const std::string& key) {
  removeObject(key);
  if (!image || image->byteCost() > byteBudget_) return;
  totalCost_ += image->byteCost();
  entries_.emplace_front(key, std::move(image));
  index_[key] = entries_.begin();
  while (totalCost_ > byteBudget_) {
    const Entry& oldest = entries_.back();
    totalCost_ -= oldest.second->byteCost();
    index_.erase(oldest.first);
    entries_.pop_back();
  }
}

void ImageCache::removeObject(const std::string& key) {
  auto found = index_.find(key);
  if (found == index_.end()) return;
  totalCost_ -= found->second->second->byteCost();
  entries_.erase(found->second);
  index_.erase(found);
}

void ImageCache::removeAllObjects() {
  entries_.clear();
  index_.clear();
  totalCost_ = 0;
}

}  // namespace tabulo
