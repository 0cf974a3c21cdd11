// The PSM double answers what the collection service receives from the
// network: any query frame gets an answer frame, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analytics/attribution/testing/PSMDouble.h"
#include "fuzz/QuietLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  static auto* server = [] {
    tabulo::psm_double::AttributionScenario scenario;
    scenario.appID = "tabulo-app-1";
    scenario.psmMembers = {{"user@example.com", "v-1"}};
    scenario.groupMembers = {{"user@example.com", "group-7"}};
    return new tabulo::psm_double::PSMDouble(scenario);
  }();
  const std::string answer = server->answer(std::string_view(reinterpret_cast<const char*>(data), size));
  if (answer.empty() || answer[0] > 2 || answer[0] < 0) std::abort();
  return 0;
}
