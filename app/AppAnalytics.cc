#include "app/AppAnalytics.h"

#include <mutex>

namespace tabulo {

namespace {
class NoAnalytics : public AppAnalytics {
 public:
  void configure() override {}
  void logEvent(const std::string&, const std::optional<platform::Dictionary>&) override {}
};

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<AppAnalytics>& sharedSlot() {
  static std::shared_ptr<AppAnalytics> slot = std::make_shared<NoAnalytics>();
  return slot;
}
}  // namespace

std::shared_ptr<AppAnalytics> AppAnalytics::shared() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  return sharedSlot();
}

void AppAnalytics::setShared(std::shared_ptr<AppAnalytics> analytics) {
  std::lock_guard<std::mutex> lock(sharedMutex());
  sharedSlot() = analytics ? std::move(analytics) : std::make_shared<NoAnalytics>();
}

}  // namespace tabulo
