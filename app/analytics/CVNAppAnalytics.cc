#include "app/analytics/CVNAppAnalytics.h"

#include "analytics/measurement/CVNAnalytics.h"
#include "platform/corvane/CVNApp.h"

namespace tabulo {

CVNAppAnalytics::CVNAppAnalytics(std::shared_ptr<platform::AppEnvironment> environment,
                                 std::shared_ptr<platform::NotificationCenter> center)
    : environment_(std::move(environment)), center_(std::move(center)) {}

void CVNAppAnalytics::configure() {
  // The launch goes on whatever the answer: a refused configuration (no
  // service file, or a second call) is logged by the core framework, and the
  // app's events are then refused by the public class with a log line of
  // their own.
  const bool configured = platform::CVNApp::configure(environment_, center_);
  (void)configured;
}

void CVNAppAnalytics::logEvent(const std::string& name, const std::optional<platform::Dictionary>& parameters) {
  std::optional<GWLRawParameters> raw;
  if (parameters) raw = GWLRawParametersFromDictionary(*parameters);
  CVNAnalytics::logEventWithName(name, raw);
}

}  // namespace tabulo
