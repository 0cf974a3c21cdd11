// Experiments answers: any body, gzipped or not, inflates within the cap or
// fails, and decodes to snapshots and per-SDK errors or to nothing; every
// snapshot read from it encodes again and reads back to the same encoding.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "QuietLibraryMonitor.h"
#include "analytics/foundation/experiments/GWLETaskManager.h"
#include "analytics/wire/GWLPBExperimentResponse.h"
#include "analytics/wire/GWLPBSnapshot.h"
#include "platform/dispatch/Clock.h"

namespace {

using fuzz_support::check;

const std::shared_ptr<GWLETaskManager>& taskManager() {
  static const auto instance = GWLETaskManager::initWithQueue(
      nullptr, nullptr, nullptr, nullptr, "", 0, std::make_shared<platform::ManualClock>(), {}, nullptr);
  return instance;
}

int testOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::span<const uint8_t> body(data + 1, size - 1);
  std::optional<std::vector<uint8_t>> inflated;
  if (data[0] & 1) {
    inflated = GWLETaskManager::inflateAnswer(body);
    if (!inflated) return 0;
    check(inflated->size() <= kGWLEMaxExperimentAnswerBytes);
    body = *inflated;
  }
  auto response = GWLPBExperimentResponse::initWithBuffer(body);
  if (!response) return 0;
  auto snapshots = taskManager()->experimentSnapshotsFromExperimentResponse(response.get());
  check(snapshots.has_value());
  check(taskManager()->errorsFromExperimentResponse(response.get()).has_value());
  for (const auto& snapshot : *snapshots) {
    check(!snapshot.SDKName().empty());
    auto bytes = snapshot.proto()->protoBuffer();
    check(bytes.has_value());
    auto decoded = GWLPBSnapshot::initWithBuffer(*bytes);
    check(decoded != nullptr);
    auto again = GWLESnapshot::initWithProtobuf(*decoded, snapshot.timestamp());
    check(again && again->proto()->protoBuffer() == bytes);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
