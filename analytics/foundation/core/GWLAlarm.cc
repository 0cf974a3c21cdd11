#include "analytics/foundation/core/GWLAlarm.h"

#include <cmath>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Timer.h"

namespace {
constexpr int64_t kEmptyBlockCode = 2000;
constexpr const char* kEmptyBlockSuffix = " tried to schedule an empty block";
constexpr int64_t kFiredCode = 2001;
constexpr const char* kFiredSuffix = " fired";
constexpr int64_t kScheduledCode = 2002;
constexpr const char* kScheduledSuffix = " scheduled to fire in approx. (s)";
constexpr int64_t kCanceledCode = 2003;
constexpr const char* kCanceledSuffix = " canceled";
constexpr int64_t kNotActiveCode = 2004;
constexpr const char* kNotActiveSuffix = " is not active";
constexpr const char* kDefaultName = "Timer";
}  // namespace

std::shared_ptr<GWLAlarm> GWLAlarm::create(std::shared_ptr<platform::Queue> queue, const std::string& name,
                                           std::shared_ptr<platform::Clock> clock,
                                           std::shared_ptr<GWLMonitor> monitor) {
  return std::shared_ptr<GWLAlarm>(new GWLAlarm(std::move(queue), name.empty() ? kDefaultName : name,
                                                clock ? std::move(clock) : platform::Clock::system(),
                                                std::move(monitor)));
}

GWLAlarm::GWLAlarm(std::shared_ptr<platform::Queue> queue, std::string name, std::shared_ptr<platform::Clock> clock,
                   std::shared_ptr<GWLMonitor> monitor)
    : queue_(std::move(queue)), name_(std::move(name)), clock_(std::move(clock)), monitor_(std::move(monitor)) {}

GWLAlarm::~GWLAlarm() { cancel(); }

std::shared_ptr<GWLMonitor> GWLAlarm::monitor() const {
  return monitor_ ? monitor_ : GWLLibraryMonitor::monitor();
}

void GWLAlarm::runAfterDelay(double delay, Block block) {
  if (!block) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kEmptyBlockCode, name_ + kEmptyBlockSuffix);
    return;
  }
  cancel();
  if (std::isnan(delay)) delay = 0;
  {
    // Held while the timer is made, so that a timer firing at once on another
    // thread finds it recorded.
    platform::MutexLock lock(mutex_);
    const uint64_t generation = ++generation_;
    scheduledTimestamp_ = clock_->now() + delay;
    std::weak_ptr<GWLAlarm> weakSelf = weak_from_this();
    timer_ = platform::Timer::schedule(clock_, queue_, delay, [weakSelf, generation, block = std::move(block)] {
      if (auto self = weakSelf.lock()) self->fire(generation, block);
    });
    selfWhileArmed_ = shared_from_this();
  }
  monitor()->logWithLevel(kGWLLevelDebug, kScheduledCode, name_ + kScheduledSuffix, GWLLogContext(delay));
}

void GWLAlarm::fire(uint64_t generation, const Block& block) {
  {
    platform::MutexLock lock(mutex_);
    if (generation != generation_ || !scheduledTimestamp_) return;
  }
  monitor()->logWithLevel(kGWLLevelDebug, kFiredCode, name_ + kFiredSuffix);
  cancel();
  block();
}

void GWLAlarm::cancel() {
  std::shared_ptr<platform::Timer> timer;
  std::shared_ptr<GWLAlarm> keptAlive;
  {
    platform::MutexLock lock(mutex_);
    if (!scheduledTimestamp_) return;
    scheduledTimestamp_.reset();
    timer = std::move(timer_);  // a cancelled or fired timer is dropped
    keptAlive = std::move(selfWhileArmed_);
  }
  monitor()->logWithLevel(kGWLLevelDebug, kCanceledCode, name_ + kCanceledSuffix);
  if (timer && !timer->isCancelled()) {
    // A timer that has just fired is past cancelling; cancel() leaves it be.
    timer->cancel();
  } else {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kNotActiveCode, name_ + kNotActiveSuffix);
  }
  // `keptAlive` may be the last reference: it goes last, and nothing touches
  // the alarm after it.
}

bool GWLAlarm::hasActiveTimer() const {
  platform::MutexLock lock(mutex_);
  return timer_ && !timer_->isCancelled();
}

std::optional<double> GWLAlarm::scheduledTimestamp() const {
  platform::MutexLock lock(mutex_);
  return scheduledTimestamp_;
}
