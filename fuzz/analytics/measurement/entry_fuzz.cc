// The entry class's calls with values from outside: random value trees (text
// that need not be UTF-8, numbers, booleans, bytes, dates, arrays and
// dictionaries) as event names, parameters, user properties, user IDs,
// default event parameters, user data and consent, from two threads at once.
// Nothing crashes or hangs, and everything that reaches the engine is valid
// UTF-8 text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"
#include "analytics/measurement/testing/StandaloneEntryClass.h"
#include "fuzz/analytics/measurement/FuzzValueReader.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/text/Utf8.h"
#include "platform/text/Utf8Object.h"

namespace {

using fuzz_support::check;
using fuzz_support::Reader;
using measurement_testing::RecordingAnalyticsEngine;
using platform::Array;
using platform::Dictionary;
using platform::Object;

bool validParameters(const std::optional<GWLRawParameters>& parameters) {
  if (!parameters) return true;
  for (const auto& [name, value] : *parameters) {
    if (!platform::utf8::isValid(name)) return false;
    const Object plain = std::holds_alternative<Object>(value) ? std::get<Object>(value) : std::get<GWLValue>(value).objectValue();
    if (!platform::utf8::isValidObject(plain)) return false;
  }
  return true;
}

struct Harness {
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
  std::shared_ptr<platform::ConcurrentQueue> global = platform::ConcurrentQueue::create("global", 1);
  std::shared_ptr<RecordingAnalyticsEngine> engine = std::make_shared<RecordingAnalyticsEngine>();
  std::shared_ptr<GWLAnalytics> analytics;

  Harness() {
    fuzz_support::installQuietLibraryMonitor();
    engine->setKeepsEvents(false);
    engine->setEventObserver([](const RecordingAnalyticsEngine::LoggedEvent& event) {
      check(platform::utf8::isValid(event.origin) && platform::utf8::isValid(event.name));
      check(validParameters(event.parameters) && validParameters(event.addedScreenParameters));
    });
    analytics = measurement_testing::makeStandaloneEntryClass(clock, main, global, engine);
    GWLAnalytics::setSharedInstanceForTesting(analytics);  // the library's error events come here
    GWLMeasurementRegistry::resetForTesting(GWLLibraryMonitor::monitor());
    analytics->startWithAppID("1:1:ios:1", "cz", {{kGWLStartOptionLogTag, "<Fuzz>"}});
    settle();
  }

  void settle() {
    for (int round = 0; round < 3; ++round) {
      clock->advance(kGWLAnalyticsUserDataPause);  // ends a pause of setUserData
      analytics->queue()->flush();
      main->drain();
      global->waitUntilIdle();
    }
  }
};

void calls(GWLAnalytics& analytics, Reader& reader) {
  while (!reader.done()) {
    switch (reader.byte() % 12) {
      case 0: analytics.logEventWithName(reader.text(), reader.dictionary()); break;
      case 1:
        analytics.logInternalEventWithOrigin(reader.text(), reader.text(),
                                             GWLRawParametersFromDictionary(reader.dictionary()));
        break;
      case 2: {
        Dictionary parameters = reader.dictionary();
        parameters[kGWLAdEventIDParameter] = reader.object();
        analytics.logInternalEventConvertingAdEventID(kGWLOriginInternal, reader.text(),
                                                      GWLRawParametersFromDictionary(parameters));
        break;
      }
      case 3: analytics.setUserPropertyString(reader.object(), reader.text()); break;
      case 4: analytics.setUserID(reader.object()); break;
      case 5: analytics.setUserAttributeNumber(reader.object(), reader.text()); break;
      case 6: analytics.setInternalUserProperty(reader.object(), reader.text(), reader.text()); break;
      case 7: analytics.setDefaultEventParameters(reader.dictionary()); break;
      case 8: analytics.consent()->setConsent(reader.dictionary(), reader.text()); break;
      case 9: analytics.setUserData(reader.dictionary()); break;
      case 10: analytics.handleOpenURL(reader.text()); break;
      default:
        analytics.logEventWithOrigin(reader.text(), (reader.byte() & 1) != 0, reader.text(),
                                     GWLRawParametersFromDictionary(reader.dictionary()), reader.real(), false, true);
        break;
    }
  }
}

int testOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();  // one process-wide entry class, as in the library
  GWLConsentSettingsUtil::resetForTesting();
  const size_t half = size / 2;
  std::thread other([&] {
    Reader reader(data + half, size - half);
    calls(*harness->analytics, reader);
  });
  Reader reader(data, half);
  calls(*harness->analytics, reader);
  other.join();
  harness->settle();
  for (const std::string& call : harness->engine->calls()) check(platform::utf8::isValid(call));
  harness->engine->clear();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
