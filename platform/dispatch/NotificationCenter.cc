#include "platform/dispatch/NotificationCenter.h"

#include <exception>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace platform {
namespace {

struct Registration {
  uint64_t id = 0;
  std::shared_ptr<Queue> queue;
  std::shared_ptr<const NotificationCenter::Observer> observer;
  std::shared_ptr<std::atomic<bool>> active;
  bool filtersSender = false;
  std::weak_ptr<const void> sender;  // when `filtersSender`: the only poster observed
};

// Whether `registration` observes what `sender` posts.
bool observes(const Registration& registration, const NotificationSender& sender) {
  if (!registration.filtersSender) return true;
  if (!sender || registration.sender.expired()) return false;
  return !registration.sender.owner_before(sender) && !sender.owner_before(registration.sender);
}

void callObserver(const NotificationCenter::Observer& observer, const std::atomic<bool>& active,
                  const Notification& notification) {
  if (!active.load()) return;
  try {
    observer(notification);
  } catch (const std::exception& e) {
    log::write(LogLevel::Error, "platform", "notifications", "",
               "Exception escaped an observer of " + notification.name + ": " + e.what());
  } catch (...) {
    log::write(LogLevel::Error, "platform", "notifications", "",
               "Exception escaped an observer of " + notification.name);
  }
}

}  // namespace

struct NotificationCenter::State {
  std::mutex mutex;
  uint64_t nextId = 1;
  std::unordered_map<std::string, std::vector<Registration>> byName;
  std::unordered_map<uint64_t, std::string> nameById;
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : center_(std::move(other.center_)), id_(std::exchange(other.id_, 0)), active_(std::move(other.active_)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
  if (this != &other) {
    reset();
    center_ = std::move(other.center_);
    id_ = std::exchange(other.id_, 0);
    active_ = std::move(other.active_);
  }
  return *this;
}

void ObserverToken::reset() {
  if (active_) active_->store(false);
  if (id_ != 0) {
    if (auto center = center_.lock()) center->removeObserver(id_);
  }
  center_.reset();
  active_.reset();
  id_ = 0;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

std::shared_ptr<NotificationCenter> NotificationCenter::create() { return std::make_shared<NotificationCenter>(); }

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
  // Never destroyed: observers may still post while the process exits.
  static const auto* center = new std::shared_ptr<NotificationCenter>(create());
  return *center;
}

ObserverToken NotificationCenter::addObserver(const std::string& name, std::shared_ptr<Queue> queue,
                                              Observer observer) {
  return addObserver(name, nullptr, std::move(queue), std::move(observer));
}

ObserverToken NotificationCenter::addObserver(const std::string& name, const NotificationSender& sender,
                                              std::shared_ptr<Queue> queue, Observer observer) {
  Registration registration;
  registration.filtersSender = sender != nullptr;
  registration.sender = sender;
  registration.queue = std::move(queue);
  registration.observer = std::make_shared<const Observer>(std::move(observer));
  registration.active = std::make_shared<std::atomic<bool>>(true);
  {
    std::lock_guard lock(state_->mutex);
    registration.id = state_->nextId++;
    state_->nameById.emplace(registration.id, name);
    state_->byName[name].push_back(registration);
  }
  return ObserverToken(weak_from_this(), registration.id, registration.active);
}

void NotificationCenter::post(const std::string& name, Dictionary userInfo, NotificationSender sender) {
  std::vector<Registration> observers;
  std::vector<Registration> kept;
  std::vector<Registration> dropped;  // released outside the lock
  {
    std::lock_guard lock(state_->mutex);
    auto found = state_->byName.find(name);
    if (found == state_->byName.end()) return;
    // Registrations whose token was reset while the center could not be
    // reached (a center not owned by a shared_ptr) are dropped here.
    auto& registrations = found->second;
    for (auto& registration : registrations) {
      if (registration.active->load()) {
        kept.push_back(registration);
        if (observes(registration, sender)) observers.push_back(registration);
      } else {
        state_->nameById.erase(registration.id);
        dropped.push_back(std::move(registration));
      }
    }
    if (!dropped.empty()) registrations = kept;
    if (registrations.empty()) state_->byName.erase(found);
  }
  if (observers.empty()) return;
  auto notification = std::make_shared<const Notification>(Notification{name, std::move(userInfo), std::move(sender)});
  for (const Registration& registration : observers) {
    if (registration.queue) {
      // The posted block leaves the queue out: a queue must not own itself.
      registration.queue->async([observer = registration.observer, active = registration.active, notification] {
        callObserver(*observer, *active, *notification);
      });
    } else {
      callObserver(*registration.observer, *registration.active, *notification);
    }
  }
}

void NotificationCenter::removeObserver(uint64_t id) {
  Registration removed;  // released outside the lock
  std::lock_guard lock(state_->mutex);
  auto name = state_->nameById.find(id);
  if (name == state_->nameById.end()) return;
  auto list = state_->byName.find(name->second);
  if (list != state_->byName.end()) {
    auto& registrations = list->second;
    for (auto it = registrations.begin(); it != registrations.end(); ++it) {
      if (it->id == id) {
        it->active->store(false);
        removed = std::move(*it);
        registrations.erase(it);
        break;
      }
    }
    if (registrations.empty()) state_->byName.erase(list);
  }
  state_->nameById.erase(name);
}

}  // namespace platform
