// Uses of the typed accessors that must not compile. Compiled on its own by
// CTest: without a REJECT_* definition it compiles (the accepted uses below),
// and with one it must fail with an error at the line marked for that case.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analytics/wire/WireMessages.h"

void acceptedUses() {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  auto event = GWLPBEvent::initWithMessageInfo();
  event->setTimestamp(int64_t{1765370000000});
  event->setTimestamp(0);              // any integer whose values all fit
  event->setTimestamp(uint32_t{7});
  event->setName("_e");
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{GWLPBEventParam::initWithMessageInfo()});
  bundle->setProtocolVersion(1);
  bundle->setDmaRegion(true);
  bundle->setAppInstanceId(std::string("0123"));
  bundle->setEvents(std::vector<std::shared_ptr<GWLPBEvent>>{event});
  bundle->setExperimentIds(std::vector<uint32_t>{4, 5});
  bundle->setAdCampaignInfo(*GWLPBAdCampaignInfo::initWithMessageInfo());
  int64_t timestamp = event->timestamp();
  std::optional<std::string> name = event->name();
  (void)timestamp;
  (void)name;

#ifdef REJECT_TEXT_FOR_INTEGER
  event->setTimestamp("yesterday");  // rejected: TEXT_FOR_INTEGER
#endif
#ifdef REJECT_NARROWING_INTEGER
  bundle->setProtocolVersion(int64_t{1});  // rejected: NARROWING_INTEGER
#endif
#ifdef REJECT_SIGNED_FOR_UNSIGNED_LIST
  bundle->setExperimentIds(std::vector<int32_t>{4});  // rejected: SIGNED_FOR_UNSIGNED_LIST
#endif
#ifdef REJECT_INTEGER_FOR_BOOL
  bundle->setDmaRegion(1);  // rejected: INTEGER_FOR_BOOL
#endif
#ifdef REJECT_INTEGER_FOR_STRING
  event->setName(42);  // rejected: INTEGER_FOR_STRING
#endif
#ifdef REJECT_FIELD_OF_ANOTHER_MESSAGE
  event->setAppInstanceId("0123");  // rejected: FIELD_OF_ANOTHER_MESSAGE
#endif
#ifdef REJECT_LIST_OF_ANOTHER_MESSAGE
  event->setParams(std::vector<std::shared_ptr<GWLPBUserAttribute>>{});  // rejected: LIST_OF_ANOTHER_MESSAGE
#endif
#ifdef REJECT_SUB_MESSAGE_OF_ANOTHER_CLASS
  bundle->setAdCampaignInfo(*GWLPBFilter::initWithMessageInfo());  // rejected: SUB_MESSAGE_OF_ANOTHER_CLASS
#endif
#ifdef REJECT_READ_AS_ANOTHER_TYPE
  std::string text = event->timestamp();  // rejected: READ_AS_ANOTHER_TYPE
#endif
}
