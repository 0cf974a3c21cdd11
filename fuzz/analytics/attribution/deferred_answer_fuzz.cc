// Deferred deep link answers: the body of a lookup's answer, read and, when it
// holds a link, handed to the app delegate and on to the campaign step.
//
// Input: a flag byte (bit 0: the app delegate does not handle links; bit 1:
// tracking authorised), then the answer's body.
//
// After each input: an answer is kept only with a "deeplink" string a URL can
// be made from; the app delegate is asked at most once and only then; at most
// one campaign event, and none when the delegate did not handle the link;
// stored click details decode. Nothing may crash or hang.
#include <cstdint>
#include <span>

#include "fuzz/analytics/attribution/DeepLinkFuzzSetup.h"
#include "platform/net/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using deeplink_fuzz::check;
  auto& s = deeplink_fuzz::setup("attribution_deferred_answer_fuzz");
  s.reset();
  if (size == 0) return 0;
  s.delegateHandles = !(data[0] & 1);
  deeplink_test::Facts facts;
  if (data[0] & 2) facts.appleConsentStatus = 3;
  s.engine->setFacts(facts);

  auto info = s.deepLinks->deepLinkInfoFromResponseData(std::span<const uint8_t>(data + 1, size - 1));
  if (info) {
    auto link = info->find(kGWLDeferredDeepLinkKey);
    check(link != info->end() && link->second.stringValue() &&
          platform::URLComponents::parse(*link->second.stringValue()).has_value());
    s.engine->onWorkerQueue([&] { s.deepLinks->handleDeferredDeepLinkInfo(*info); });
    s.mainQueue->drain();
    s.engine->flush();
    check(s.delegateCalls.load() == 1);
    if (!s.delegateHandles) check(s.engine->events().empty());
  } else {
    check(s.delegateCalls.load() == 0);
  }
  deeplink_fuzz::checkCampaignOutcome(s);
  return 0;
}
