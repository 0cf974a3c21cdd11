// Conditional user properties driven by a fuzzed sequence of requests and
// logged events over a real measurement database and worker queue on a manual
// clock. Each byte chooses a step; the bytes after it fill the step:
//
//   0  set a property: name, origin, value (text, integer or any double),
//      trigger, trigger timeout, time to live, sender's active flag and
//      triggered time, and which of its three events it carries
//   1  clear a name      2  query (prefix and origin may be of any kind)
//   3  log an event      4  advance the clock      5  set without a property
//
// After every step:
//   - every active row has its user property, unless writing one failed
//     (11011 or 10009) in this input;
//   - after an event whose processing committed, no stored property is past
//     its trigger timeout (waiting) or its time to live (active).
// Nothing may crash or hang; times may be NaN, infinite or huge.
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>

#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "fuzz/QuietLog.h"
#include "platform/storage/Paths.h"
#include "tests/analytics/audiences/RecordingEngine.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1'700'000'000.0;

void check(bool condition) {
  if (!condition) std::abort();
}

// Prints nothing; notes a failed user property write.
class UserPropertyFailureWatcher : public GWLASLLogger {
 public:
  void logMessage(const std::string&, const std::string&, int64_t messageCode, int64_t) override {
    if (messageCode == 11011 || messageCode == 10009) failed.store(true);
  }
  std::atomic<bool> failed{false};
};

// One engine, database and controller for the whole run; every input starts
// from empty tables at the same time.
struct Setup {
  std::shared_ptr<UserPropertyFailureWatcher> watcher = std::make_shared<UserPropertyFailureWatcher>();
  std::shared_ptr<GWLMonitor> monitor;
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>(kStart);
  std::shared_ptr<cup_test::RecordingEngine> engine;
  std::shared_ptr<GWLConditionalUserPropertyController> controller;
};

Setup& setup() {
  static Setup* made = [] {
    auto* s = new Setup();
    QuietPlatformLog();
    const fs::path root = fuzz_support::processScratchDirectory("conditional_properties_fuzz");
    platform::Paths::setCurrent(platform::Paths::open(root.string()));
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    s->monitor = GWLMonitor::create(6, s->watcher, kGWLLibraryVersion, dependencies);
    GWLLibraryMonitor::resetForTesting(s->monitor);
    s->engine = std::make_shared<cup_test::RecordingEngine>(s->clock, s->monitor);
    check(s->engine->database() != nullptr);
    GWLConditionalUserPropertyController::Dependencies controllerDependencies;
    controllerDependencies.engine = [engine = s->engine] { return engine; };
    controllerDependencies.monitor = s->monitor;
    s->controller = GWLConditionalUserPropertyController::create(std::move(controllerDependencies));
    s->engine->setController(s->controller);
    return s;
  }();
  return *made;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return position_ >= size_; }
  uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  // A short text: one of `pool`, or up to 40 raw bytes.
  std::string text(std::initializer_list<const char*> pool) {
    const uint8_t choice = byte();
    if (choice < 200) return *(pool.begin() + choice % pool.size());
    const size_t length = byte() % 41;
    std::string raw;
    while (raw.size() < length && !done()) raw.push_back(static_cast<char>(byte()));
    return raw;
  }
  // A time in seconds: a usual one, a limit, a special value, or 8 raw bytes.
  double seconds() {
    static const double kChoices[] = {0.001, 1, 10, 60, 3600, 15552000, 15552000.5, 0, -1,
                                      std::nan(""), INFINITY, -INFINITY, 1e300, 1e-300};
    const uint8_t choice = byte();
    if (choice < 224) return kChoices[choice % std::size(kChoices)];
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

std::shared_ptr<GWLEvent> makeEvent(Reader& in, double now) {
  return GWLEvent::initWithOrigin("app", false, in.text({"cup_event", "_ai", "x y"}), now, 0,
                                  platform::Dictionary{{"p", "v"}}, GWLValueLimits{});
}

std::optional<platform::Object> queryArgument(Reader& in) {
  switch (in.byte() % 4) {
    case 0: return std::nullopt;
    case 1: return platform::Object(in.text({"p", "", "%", "_", "app"}));
    case 2: return platform::Object(int64_t{7});
    default: return platform::Object();
  }
}

int testOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  auto& engine = s.engine;
  auto& controller = s.controller;
  auto& clock = s.clock;
  clock->setNow(kStart);
  engine->enabled = true;
  engine->onWorkerQueue([&] {
    check(engine->database()->sqliteStore()->executeSQL("DELETE FROM conditional_properties") &&
          engine->database()->sqliteStore()->executeSQL("DELETE FROM user_attributes"));
  });
  engine->takeWrites();
  s.monitor->flush();
  s.watcher->failed.store(false);

  static const std::initializer_list<const char*> kNames = {"p1", "p2", "_ai_p", "ad_prop"};
  static const std::initializer_list<const char*> kTriggers = {"", "level_up", "ad_impression", "_ai", "tap"};
  Reader in(data, size);
  int steps = 0;
  while (!in.done() && steps++ < 64) {
    bool processed = false;
    switch (in.byte() % 6) {
      case 0: {
        auto p = std::make_shared<GWLConditionalUserProperty>();
        const std::string name = in.text(kNames);
        p->origin = in.text({"app", "other", "bad origin"});
        switch (in.byte() % 4) {
          case 0: p->value = GWLValue::initWithString(in.text({"v1", "", "a longer value of more than 36 chars!"}));
            break;
          case 1: p->value = GWLValue::initWithInt64(static_cast<int64_t>(in.byte()) << (in.byte() % 56)); break;
          case 2: p->value = GWLValue::initWithDouble(in.seconds()); break;
          default: break;  // no value: a removal
        }
        p->triggerEventName = in.text(kTriggers);
        p->triggerTimeout = in.seconds();
        p->timeToLive = in.seconds();
        p->active = in.byte() % 4 == 0;
        p->triggeredTimestamp = clock->now() - in.seconds();
        const uint8_t events = in.byte();
        if (events & 1) p->triggeredEvent = makeEvent(in, 0);
        if (events & 2) p->timedOutEvent = makeEvent(in, 0);
        if (events & 4) p->expiredEvent = makeEvent(in, 0);
        controller->setConditionalUserProperty(p, name);
        break;
      }
      case 1: {
        const std::string name = in.text(kNames);
        controller->clearConditionalUserPropertyWithClearEvent(in.byte() % 2 ? makeEvent(in, 0) : nullptr, name);
        break;
      }
      case 2: {
        auto prefix = queryArgument(in);
        auto origin = queryArgument(in);
        (void)controller->conditionalUserPropertiesWithNamePrefix(prefix, origin);
        break;
      }
      case 3: {
        const int failuresBefore = engine->processingFailures();
        processed = engine->logEvent(in.text({"level_up", "ad_impression", "tap", "other"})) &&
                    engine->processingFailures() == failuresBefore;
        break;
      }
      case 4: clock->advance(static_cast<double>(in.byte()) * (in.byte() % 2 ? 1 : 1000)); break;
      default: controller->setConditionalUserProperty(nullptr, "p1"); break;
    }
    engine->flush();
    s.monitor->flush();
    const bool userPropertyFailed = s.watcher->failed.load();
    const double now = clock->now();
    engine->onWorkerQueue([&] {
      auto db = engine->database();
      auto all = db->conditionalUserPropertiesWithPrefix(std::nullopt, std::nullopt);
      check(all.has_value());
      for (const auto& property : *all) {
        if (property->active && !userPropertyFailed) check(db->userAttributeWithName(property->name) != nullptr);
        if (!processed) continue;
        if (property->active) {
          check(std::abs(now - property->triggeredTimestamp) <= property->timeToLive);
        } else {
          check(std::abs(now - property->creationTimestamp) <= property->triggerTimeout);
        }
      }
    });
  }
  engine->flush();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int result = testOneInput(data, size);
  setup().monitor->flush();
  return result;
}
