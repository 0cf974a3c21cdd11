// Encoding refuses records damaged through messageInfo(): no bytes come out,
// and what is reported is the first reported fault in field order. A list item
// without its value fails its message only once the rest of that message has
// been walked, so a fault reported further on is still reported.
#include <gtest/gtest.h>

#include <functional>

#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

namespace {

using R = GWLPBResultData::Field;
using S = GWLPBSequenceFilterResultTimestamp::Field;

std::shared_ptr<GWLPBResultData> resultData() {
  auto data = GWLPBResultData::initWithMessageInfo();
  NANOSetArray(data, R::status, std::vector<NANOValue>{uint64_t{1}});
  auto sequence = GWLPBSequenceFilterResultTimestamp::initWithMessageInfo();
  NANOSetArray(sequence, S::eval_timestamps, std::vector<NANOValue>{int64_t{5}});
  NANOSetArray(data, R::sequence_filter_timestamps,
               std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(sequence)});
  return data;
}

NANOArray& list(NANOMessageInfo* info, int32_t index) { return *info->fields[static_cast<size_t>(index)].array(); }

NANOMessageInfo* element(NANOMessageInfo* info) { return list(info, R::sequence_filter_timestamps).items[0].message(); }

// A record of another message, kept alive by the test while a list holds it.
NANOMessageInfo* foreignRecord() {
  static NANOArena arena;
  return GWLPBFilter::type().newMessageInfo(&arena).release();
}

TEST(NANOEncode, DamagedRecordsGiveNoBytesAndReportTheFirstReportedFault) {
  struct Case {
    const char* what;
    std::function<void(NANOMessageInfo*)> damage;
    std::vector<std::string> lines;
  };
  const std::string missingStatus = "<ERROR> ResultData Encoder: 'status' should have been allocated";
  const std::string missingTimestamps =
      "<ERROR> SequenceFilterResultTimestamp Encoder: 'eval_timestamps' should have been allocated";
  std::vector<Case> cases = {
      {"a list without its header", [](NANOMessageInfo* info) { info->fields[R::status].reset(); }, {missingStatus}},
      {"more items counted than held", [](NANOMessageInfo* info) { list(info, R::status).count = 2; }, {}},
      {"a list item without its value", [](NANOMessageInfo* info) { list(info, R::status).items[0].reset(); }, {}},
      {"an element of another message",
       [](NANOMessageInfo* info) { list(info, R::sequence_filter_timestamps).items[0].setMessage(foreignRecord()); },
       {}},
      {"an element's list without its header",
       [](NANOMessageInfo* info) { element(info)->fields[S::eval_timestamps].reset(); }, {missingTimestamps}},
      {"an item without its value, then an element that reports",
       [](NANOMessageInfo* info) {
         list(info, R::status).items[0].reset();
         element(info)->fields[S::eval_timestamps].reset();
       },
       {missingTimestamps}},
  };
  ASSERT_TRUE(resultData()->protoBuffer());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto data = resultData();
    c.damage(data->messageInfo());
    platform::log::ScopedCapture capture;
    EXPECT_FALSE(data->protoBuffer());
    EXPECT_EQ(capture.sink().lines(), c.lines);
  }
}

}  // namespace
