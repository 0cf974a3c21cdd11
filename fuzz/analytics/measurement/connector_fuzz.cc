// The interop connector's nine operations with values from outside: random
// value trees as origins, names, parameters, property values and
// conditional-property dictionaries, from two threads at once, with
// listeners registered and unregistered meanwhile. Nothing crashes or hangs,
// and the limit answers at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"
#include "analytics/measurement/testing/StandaloneEntryClass.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "fuzz/analytics/measurement/FuzzValueReader.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

using fuzz_support::check;
using fuzz_support::Reader;
using measurement_testing::RecordingAnalyticsEngine;
using platform::Dictionary;
using platform::Object;

class CountingListener : public CVNAnalyticsInteropListener {
 public:
  void messageTriggered(const std::string&, const Dictionary& parameters) override {
    for (const auto& [name, value] : parameters) check(value.isNumber() || value.isString());
  }
};

struct Harness {
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
  std::shared_ptr<platform::ConcurrentQueue> global = platform::ConcurrentQueue::create("global", 1);
  std::shared_ptr<platform::SerialQueue> connectorQueue = platform::SerialQueue::create("connector");
  std::shared_ptr<RecordingAnalyticsEngine> engine = std::make_shared<RecordingAnalyticsEngine>();
  std::shared_ptr<GWLAnalytics> analytics;
  std::shared_ptr<CVNAnalyticsConnector> connector;
  std::shared_ptr<CountingListener> listener = std::make_shared<CountingListener>();

  Harness() {
    fuzz_support::installQuietLibraryMonitor();
    engine->setKeepsEvents(false);
    engine->updateAnswers([](auto& answers) { answers.userProperties = Dictionary{{"_fot", 1}, {"a", "b"}, {"_x", 2}}; });
    analytics = measurement_testing::makeStandaloneEntryClass(clock, main, global, engine);
    GWLAnalytics::setSharedInstanceForTesting(analytics);
    GWLMeasurementRegistry::resetForTesting(GWLLibraryMonitor::monitor());
    analytics->startWithAppID("1:1:ios:1", "cz", {{kGWLStartOptionLogTag, "<Fuzz>"}});
    CVNAnalyticsConnector::Dependencies dependencies;
    dependencies.controller = GWLConditionalUserPropertyControlling::passThrough();
    dependencies.mainQueue = main;
    dependencies.connectorQueue = connectorQueue;
    dependencies.clock = clock;
    dependencies.engineExists = [] { return true; };
    connector = CVNAnalyticsConnector::create(dependencies);
    settle();
  }

  void settle() {
    for (int round = 0; round < 3; ++round) {
      analytics->queue()->flush();
      connectorQueue->flush();
      main->drain();
      global->waitUntilIdle();
    }
  }
};

// Origins the tables treat specially, or the input's own text.
std::string origin(Reader& reader) {
  static const char* const known[] = {"app", "auto", "gw", "cvm", "cvl", "cvi", "cvr", "wfx", "crash", "app+kxw"};
  const uint8_t pick = reader.byte();
  return pick < 200 ? known[pick % 10] : reader.text();
}

void calls(Harness& harness, Reader& reader) {
  CVNAnalyticsConnector& connector = *harness.connector;
  while (!reader.done()) {
    switch (reader.byte() % 9) {
      case 0: {
        Dictionary property = reader.dictionary();
        if (reader.byte() & 1) property["triggeredEvent"] = Object(reader.dictionary());
        if (reader.byte() & 1) property["value"] = reader.object();
        connector.setConditionalUserProperty(property);
        break;
      }
      case 1:
        connector.clearConditionalUserProperty(reader.text(), origin(reader), reader.text(), reader.dictionary());
        break;
      case 2: (void)connector.conditionalUserProperties(origin(reader), reader.text()); break;
      case 3: {
        const int64_t limit = connector.maxUserProperties(origin(reader));
        check(limit == 0 || limit == 25);
        break;
      }
      case 4:
        connector.getUserPropertiesWithCallback([](const Dictionary& properties) {
          for (const auto& [name, value] : properties) check(name == "_fot" || name.empty() || name[0] != '_');
        });
        break;
      case 5: connector.logEventWithOrigin(origin(reader), reader.text(), reader.dictionary()); break;
      case 6: connector.setUserPropertyWithOrigin(origin(reader), reader.text(), reader.object()); break;
      case 7: connector.registerAnalyticsListener(harness.listener, origin(reader)); break;
      default: connector.unregisterAnalyticsListenerWithOrigin(origin(reader)); break;
    }
  }
}

int testOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();  // one process-wide entry class, as in the library
  const size_t half = size / 2;
  std::thread other([&] {
    Reader reader(data + half, size - half);
    calls(*harness, reader);
  });
  Reader reader(data, half);
  calls(*harness, reader);
  other.join();
  harness->settle();
  harness->engine->clear();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
