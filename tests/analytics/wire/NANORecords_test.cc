// Records as the runtime keeps them: presence bits that follow every store,
// string conversions into records, and decoded messages whose tree lives in
// one arena.
#include <gtest/gtest.h>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

using P = GWLPBEventParam::Field;

TEST(NANORecords, ConversionsTakeStringsAndDataOnly) {
  struct Case {
    const char* what;
    std::optional<NANOValue> object;  // nullopt: none
    bool toString;                    // NANOStringToBytes, else NANODataToBytes
    bool succeeds;
    std::optional<std::string> stored;  // nullopt: nothing stored
  };
  const std::string longText = "a text longer than a slot holds inside";
  std::vector<Case> cases = {
      {"none as a string", std::nullopt, true, true, std::nullopt},
      {"a short string", NANOValue(std::string("é")), true, true, "é"},
      {"a long string", NANOValue(longText), true, true, longText},
      {"an empty string", NANOValue(std::string()), true, true, ""},
      {"a string that is not UTF-8", NANOValue(std::string("\xC3")), true, false, std::nullopt},
      {"a number as a string", NANOValue(int64_t{5}), true, false, std::nullopt},
      {"data as a string", NANOValue(NANOData{1}), true, false, std::nullopt},
      {"none as data", std::nullopt, false, true, std::nullopt},
      {"data", NANOValue(NANOData{0, 255}), false, true, std::string("\0\xFF", 2)},
      {"a string as data", NANOValue(std::string("x")), false, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NANOBytes bytes;
    const NANOValue* object = c.object ? &*c.object : nullptr;
    bool succeeded = c.toString ? NANOStringToBytes(object, &bytes) : NANODataToBytes(object, &bytes);
    EXPECT_EQ(succeeded, c.succeeds);
    EXPECT_EQ(bytes.held(), c.stored.has_value());
    if (c.stored) {
      EXPECT_EQ(bytes.view(), *c.stored);
    }
    NANODeallocString(&bytes);
    EXPECT_FALSE(bytes.held());
  }
}

// Every store and reset of a record's slot keeps the record's presence bit,
// which is what the encoder walks: also stores made straight into a slot.
TEST(NANORecords, SlotStoresKeepTheRecordsPresenceBits) {
  auto param = GWLPBEventParam::initWithMessageInfo();
  NANOMessageInfo* info = param->messageInfo();
  EXPECT_EQ(info->present, uint64_t{1} << P::param_value);  // a list is always there

  NANOSetFloatField(&info->fields[P::float_value], 1.5f);
  NANOSetStringField(&info->fields[P::name], reinterpret_cast<const uint8_t*>("n"), 1);
  EXPECT_TRUE(info->has(P::float_value));
  EXPECT_TRUE(NANOHasField(param, P::name));
  EXPECT_EQ(param->protoBuffer(), WireBytes().stringField(1, "n").tag(4, 5).raw({0, 0, 0xC0, 0x3F}).bytes());

  info->fields[P::float_value].reset();
  NANOClearField(param, P::name);
  EXPECT_EQ(info->present, uint64_t{1} << P::param_value);
  EXPECT_EQ(param->protoBuffer(), std::vector<uint8_t>{});
}

// A decoded message keeps its tree in one arena. Setters take room from it:
// a string whose new value fits its buffer is rewritten in place.
TEST(NANORecords, DecodedMessagesLiveInTheirArena) {
  const std::string first = "a parameter value that does not fit a slot";
  auto param = GWLPBEventParam::initWithBuffer(WireBytes().stringField(2, first).bytes());
  ASSERT_TRUE(param);
  NANOArena* arena = param->messageInfo()->arena;
  ASSERT_TRUE(arena);
  size_t reserved = arena->reservedBytes();
  for (int i = 0; i < 1000; ++i) param->setStringValue("a shorter value, rewritten " + std::to_string(i % 10));
  EXPECT_EQ(arena->reservedBytes(), reserved);
  EXPECT_EQ(param->stringValue(), "a shorter value, rewritten 9");

  // Values of every kind set on the decoded message encode like those of a new one.
  auto nested = GWLPBEventParam::initWithMessageInfo();
  nested->setIntValue(-1);
  param->setParamValue(std::vector<std::shared_ptr<GWLPBEventParam>>{nested, nested});
  param->setName("n");
  auto built = GWLPBEventParam::initWithMessageInfo();
  built->setName("n");
  built->setStringValue("a shorter value, rewritten 9");
  built->setParamValue(std::vector<std::shared_ptr<GWLPBEventParam>>{nested, nested});
  EXPECT_EQ(param->protoBuffer(), built->protoBuffer());
  // Copies (arena) and their copies (heap lists inside) encode alike too.
  auto copy = GWLPBEventParam::initWithMessageInfo(param->messageInfo());
  EXPECT_EQ(copy->protoBuffer(), built->protoBuffer());
}

// Lists that arrive interleaved are gathered per list, in wire order.
TEST(NANORecords, InterleavedListsKeepTheirOrder) {
  auto event = [](const std::string& name) { return WireBytes().stringField(2, name); };
  auto attribute = [](const std::string& name) { return WireBytes().stringField(2, name); };
  std::vector<uint8_t> wire = WireBytes()
                                  .messageField(2, event("a"))
                                  .messageField(3, attribute("x"))
                                  .messageField(2, event("b"))
                                  .varintField(45, 7)
                                  .messageField(3, attribute("y"))
                                  .messageField(2, event("c"))
                                  .varintField(45, 8)
                                  .bytes();
  auto bundle = GWLPBMeasurementBundle::initWithBuffer(wire);
  ASSERT_TRUE(bundle);
  std::vector<std::string> events, attributes;
  for (const auto& e : bundle->events()) events.push_back(e->name().value_or("?"));
  for (const auto& a : bundle->userAttributes()) attributes.push_back(a->name().value_or("?"));
  EXPECT_EQ(events, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(attributes, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(bundle->experimentIds(), (std::vector<uint32_t>{7, 8}));
}

}  // namespace
