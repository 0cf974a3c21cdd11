#include "app/ImageFetcher.h"

namespace tabulo {

std::shared_ptr<ImageFetcher> ImageFetcher::shared() {
  static const std::shared_ptr<ImageFetcher> instance = std::make_shared<ImageFetcher>();
  return instance;
}

}  // namespace tabulo
