// Field access by index: type checks, absent versus zero, deep copies, lists.
#include <gtest/gtest.h>

#include <functional>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

using Flag = GWLPBFlag::Field;

struct Refusal {
  const char* what;
  std::function<void(std::shared_ptr<GWLPBFlag>&)> call;
  const char* text;
};

// Every accessor refuses a field of another kind or an index the message does
// not have: it logs, answers zero and leaves the field as it was.
TEST(NANOAccessors, RefuseFieldsOfAnotherKindAndUnknownIndexes) {
  std::vector<Refusal> refusals = {
      {"GetInt32 on int64", [](auto& m) { EXPECT_EQ(NANOGetInt32(m, Flag::int_value), 0); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Flag, field ID: 1"},
      {"SetInt32 on int64", [](auto& m) { NANOSetInt32(m, Flag::int_value, 9); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Flag, field ID: 1"},
      {"GetBool on double", [](auto& m) { EXPECT_FALSE(NANOGetBool(m, Flag::double_value)); },
       "<Nano/Failure> Field type isn't a scalar BOOL. Message: Flag, field ID: 3"},
      {"SetInt64 on string", [](auto& m) { NANOSetInt64(m, Flag::string_value, 9); },
       "<Nano/Failure> Field type isn't a scalar INT64. Message: Flag, field ID: 2"},
      {"GetDouble on bool", [](auto& m) { EXPECT_EQ(NANOGetDouble(m, Flag::bool_value), 0.0); },
       "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Flag, field ID: 4"},
      {"SetString on int64", [](auto& m) { NANOSetString(m, Flag::int_value, "x"); },
       "<Nano/Failure> Field type isn't a scalar STRING. Message: Flag, field ID: 1"},
      {"SetBytes on string", [](auto& m) { NANOSetBytes(m, Flag::name, NANOData{1}); },
       "<Nano/Failure> Field type isn't a scalar BYTES. Message: Flag, field ID: 0"},
      {"GetMessage on string",
       [](auto& m) { EXPECT_FALSE(NANOGetMessage(m, Flag::name, &GWLPBFlag::type())); },
       "<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Flag, field ID: 0"},
      {"GetArray on singular", [](auto& m) { EXPECT_FALSE(NANOGetArray(m, Flag::name)); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Flag, field ID: 0"},
      {"SetArray on singular", [](auto& m) { NANOSetArray(m, Flag::int_value, std::vector<NANOValue>{int64_t{1}}); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Flag, field ID: 1"},
      {"index past the fields", [](auto& m) { EXPECT_FALSE(NANOHasField(m, 5)); },
       "<Nano/Failure> Field index is out of range. Message: Flag, field ID: 5"},
      {"negative index", [](auto& m) { NANOSetBool(m, -1, true); },
       "<Nano/Failure> Field index is out of range. Message: Flag, field ID: -1"},
      {"clear past the fields", [](auto& m) { NANOClearField(m, 99); },
       "<Nano/Failure> Field index is out of range. Message: Flag, field ID: 99"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    auto flag = GWLPBFlag::initWithMessageInfo();
    NANOSetString(flag, Flag::name, "f");
    NANOSetInt64(flag, Flag::int_value, 7);
    NANOSetString(flag, Flag::string_value, "s");
    NANOSetDouble(flag, Flag::double_value, 1.5);
    NANOSetBool(flag, Flag::bool_value, true);
    auto before = flag->protoBuffer();
    platform::log::ScopedCapture capture;
    refusal.call(flag);
    EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{refusal.text});
    EXPECT_EQ(flag->protoBuffer(), before);
  }
}

TEST(NANOAccessors, MissingMessageCountsAsUninitialised) {
  platform::log::ScopedCapture capture;
  std::shared_ptr<GWLPBFlag> none;
  EXPECT_FALSE(NANOHasField(none, 0));
  EXPECT_EQ(NANOGetInt64(none, Flag::int_value), 0);
  NANOSetString(none, Flag::name, "x");
  EXPECT_FALSE(NANOGetArray(nullptr, 0));
  EXPECT_EQ(capture.sink().lines(),
            (std::vector<std::string>{
                "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name "
                "(null)",
                "ProtocolBuffer message hasn't been initialized. GetInt64 can't be performed",
                "ProtocolBuffer message hasn't been initialized. SetString can't be performed",
                "ProtocolBuffer message hasn't been initialized. GetArray can't be performed"}));
}

TEST(NANOAccessors, AbsentAndZeroAreDistinct) {
  auto flag = GWLPBFlag::initWithMessageInfo();
  for (int32_t index = 0; index < GWLPBFlag::kFieldCount; ++index) EXPECT_FALSE(NANOHasField(flag, index));
  EXPECT_EQ(flag->protoBuffer(), std::vector<uint8_t>{});  // empty, not a failure

  NANOSetString(flag, Flag::name, "");
  NANOSetInt64(flag, Flag::int_value, 0);
  NANOSetDouble(flag, Flag::double_value, 0.0);
  NANOSetBool(flag, Flag::bool_value, false);
  for (int32_t index : {Flag::name, Flag::int_value, Flag::double_value, Flag::bool_value}) {
    EXPECT_TRUE(NANOHasField(flag, index));
  }
  EXPECT_EQ(NANOGetString(flag, Flag::name), "");
  EXPECT_FALSE(NANOGetString(flag, Flag::string_value));
  std::vector<uint8_t> zeros = WireBytes()
                                   .stringField(1, "")
                                   .varintField(2, 0)
                                   .tag(4, 1)
                                   .raw({0, 0, 0, 0, 0, 0, 0, 0})
                                   .varintField(5, 0)
                                   .bytes();
  EXPECT_EQ(flag->protoBuffer(), zeros);

  // Decoding keeps them present; clearing makes them absent again.
  auto decoded = GWLPBFlag::initWithBuffer(zeros);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(NANOHasField(decoded, Flag::name));
  EXPECT_EQ(NANOGetString(decoded, Flag::name), "");
  EXPECT_TRUE(NANOHasField(decoded, Flag::bool_value));
  NANOSetString(decoded, Flag::name, std::nullopt);
  NANOClearField(decoded, Flag::int_value);
  EXPECT_FALSE(NANOHasField(decoded, Flag::name));
  EXPECT_FALSE(NANOHasField(decoded, Flag::int_value));
  EXPECT_EQ(NANOGetInt64(decoded, Flag::int_value), 0);
}

TEST(NANOAccessors, IntegersKeepTheirBitPatterns) {
  // A signed enum keeps -1 and goes out sign-extended to ten bytes.
  auto parameters = PSMPrivateMembershipBlindersParameters::initWithMessageInfo();
  NANOSetInt32(parameters, PSMPrivateMembershipBlindersParameters::Field::hash_type, -1);
  EXPECT_EQ(NANOGetInt32(parameters, PSMPrivateMembershipBlindersParameters::Field::hash_type), -1);
  EXPECT_EQ(parameters->protoBuffer(), WireBytes().varintField(2, ~uint64_t{0}).bytes());
  // An unsigned enum takes the same pattern as a 32-bit value.
  auto batch = GWLPBMeasurementBatch::initWithMessageInfo();
  NANOSetInt32(batch, GWLPBMeasurementBatch::Field::enum_tag9, -1);
  EXPECT_EQ(NANOGetInt32(batch, GWLPBMeasurementBatch::Field::enum_tag9), -1);
  EXPECT_EQ(batch->protoBuffer(), WireBytes().varintField(9, 0xFFFFFFFF).bytes());
  // Bit 63 of an unsigned 64-bit list reads back unsigned and takes ten bytes.
  auto results = GWLPBResultData::initWithMessageInfo();
  NANOSetArray(results, GWLPBResultData::Field::status, std::vector<NANOValue>{uint64_t{1} << 63, int32_t{64}});
  auto status = NANOGetArray(results, GWLPBResultData::Field::status);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, (std::vector<NANOValue>{uint64_t{9223372036854775808u}, uint64_t{64}}));
  EXPECT_EQ(results->protoBuffer(), WireBytes().varintField(1, uint64_t{1} << 63).varintField(1, 64).bytes());
}

TEST(NANOAccessors, StringsAreUTF8) {
  platform::log::ScopedCapture capture;
  auto flag = GWLPBFlag::initWithMessageInfo();
  NANOSetString(flag, Flag::name, "gr\xC3\xBCn");
  EXPECT_EQ(NANOGetString(flag, Flag::name), "gr\xC3\xBCn");
  NANOSetString(flag, Flag::name, "bad\xC3");
  EXPECT_EQ(NANOGetString(flag, Flag::name), "gr\xC3\xBCn");
  EXPECT_TRUE(capture.sink().contains("String fields expect UTF-8 text. Message: Flag, field ID: 0"));
  // Bytes from the wire that are not UTF-8 read as no string; they are still carried.
  std::vector<uint8_t> wire = WireBytes().bytesField(1, {0xFF, 0x41}).bytes();
  auto decoded = GWLPBFlag::initWithBuffer(wire);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(NANOHasField(decoded, Flag::name));
  EXPECT_FALSE(NANOGetString(decoded, Flag::name));
  EXPECT_EQ(decoded->protoBuffer(), wire);
}

TEST(NANOAccessors, MessagesAreCopiedInAndOut) {
  using F = GWLPBFilter::Field;
  auto filter = GWLPBFilter::initWithMessageInfo();
  auto number = GWLPBNumberFilter::initWithMessageInfo();
  NANOSetInt32(number, GWLPBNumberFilter::Field::comparison_type, 1);
  NANOSetMessage(filter, F::number_filter, number);
  NANOSetInt32(number, GWLPBNumberFilter::Field::comparison_type, 2);  // the stored copy does not change

  auto copy = NANOGetMessage<GWLPBNumberFilter>(filter, F::number_filter);
  ASSERT_TRUE(copy);
  EXPECT_EQ(NANOGetInt32(copy, GWLPBNumberFilter::Field::comparison_type), 1);
  NANOSetString(copy, GWLPBNumberFilter::Field::comparison_value, "3");
  EXPECT_FALSE(NANOHasField(NANOGetMessage<GWLPBNumberFilter>(filter, F::number_filter),
                            GWLPBNumberFilter::Field::comparison_value));
  NANOSetMessage(filter, F::number_filter, copy);
  EXPECT_EQ(NANOGetString(NANOGetMessage<GWLPBNumberFilter>(filter, F::number_filter),
                          GWLPBNumberFilter::Field::comparison_value),
            "3");

  // Another message's class is refused both ways; the field keeps its value.
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(NANOGetMessage(filter, F::number_filter, &GWLPBStringFilter::type()));
  EXPECT_TRUE(capture.sink().lines().empty());
  NANOSetMessage(filter, F::number_filter, GWLPBStringFilter::initWithMessageInfo());
  EXPECT_EQ(capture.sink().lines(),
            std::vector<std::string>{"<Nano/Failure> Message class doesn't match the field. Message: Filter, field "
                                     "ID: 1, class: GWLPBStringFilter"});
  EXPECT_EQ(NANOGetInt32(NANOGetMessage<GWLPBNumberFilter>(filter, F::number_filter),
                         GWLPBNumberFilter::Field::comparison_type),
            1);

  NANOSetMessage(filter, F::number_filter, nullptr);
  EXPECT_FALSE(NANOHasField(filter, F::number_filter));
  EXPECT_FALSE(NANOGetMessage<GWLPBNumberFilter>(filter, F::number_filter));
}

TEST(NANOAccessors, ListsAreAlwaysPresentAndReplacedWhole) {
  using S = GWLPBStringFilter::Field;
  auto filter = GWLPBStringFilter::initWithMessageInfo();
  EXPECT_TRUE(NANOHasField(filter, S::expression_list));
  EXPECT_EQ(NANOGetArray(filter, S::expression_list), std::vector<NANOValue>{});

  NANOSetArray(filter, S::expression_list, std::vector<NANOValue>{std::string("a"), std::string("")});
  EXPECT_EQ(NANOGetArray(filter, S::expression_list),
            (std::vector<NANOValue>{std::string("a"), std::string("")}));
  for (const auto& empty : {std::optional<std::vector<NANOValue>>{}, std::optional(std::vector<NANOValue>{})}) {
    NANOSetArray(filter, S::expression_list, std::vector<NANOValue>{std::string("a")});
    NANOSetArray(filter, S::expression_list, empty);
    EXPECT_EQ(NANOGetArray(filter, S::expression_list), std::vector<NANOValue>{});
    EXPECT_EQ(filter->protoBuffer(), std::vector<uint8_t>{});  // an empty list is not written
  }
}

TEST(NANOAccessors, ListElementsOfTheWrongKindLeaveTheListEmpty) {
  struct Case {
    const char* what;
    std::shared_ptr<NANOMessageBase> message;
    int32_t index;
    std::vector<NANOValue> values;
    const char* text;
  };
  std::vector<Case> cases = {
      {"string in an int64 list", GWLPBSequenceFilterResultTimestamp::initWithMessageInfo(),
       GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps,
       {int64_t{1}, std::string("2"), int64_t{3}},
       "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: std::string"},
      {"number in a bytes list", PSMMVs::initWithMessageInfo(), PSMMVs::Field::odm2_values,
       {NANOData{1}, int32_t{2}},
       "<ERROR> Invalid object type. Bytes fields expect NSData. Type: int32_t"},
      {"data in a string list", GWLPBStringFilter::initWithMessageInfo(), GWLPBStringFilter::Field::expression_list,
       {std::string("ok"), NANOData{1}},
       "<ERROR> Invalid object type. String fields expect NSString. Type: NANOData"},
      {"number in a message list", GWLPBEventFilter::initWithMessageInfo(), GWLPBEventFilter::Field::filters,
       {std::shared_ptr<NANOMessageBase>(GWLPBFilter::initWithMessageInfo()), double{1}},
       "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: double"},
      {"message of another class", GWLPBEventFilter::initWithMessageInfo(), GWLPBEventFilter::Field::filters,
       {std::shared_ptr<NANOMessageBase>(GWLPBFilter::initWithMessageInfo()),
        std::shared_ptr<NANOMessageBase>(GWLPBStringFilter::initWithMessageInfo())},
       "<ERROR> Invalid object type. Message fields expect GWLPBFilter. Type: GWLPBStringFilter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The first value of each case is of the right kind.
    NANOSetArray(c.message, c.index, std::vector<NANOValue>{c.values.front()});
    ASSERT_EQ(NANOGetArray(c.message, c.index, &GWLPBFilter::type())->size(), 1u);
    platform::log::ScopedCapture capture;
    NANOSetArray(c.message, c.index, c.values);
    EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{c.text});
    EXPECT_EQ(NANOGetArray(c.message, c.index, &GWLPBFilter::type())->size(), 0u);
  }
}

TEST(NANOAccessors, MessageListsAreDeepCopies) {
  using E = GWLPBRuntimeEntity::Field;
  auto entity = GWLPBRuntimeEntity::initWithMessageInfo();
  NANOSetInt32(entity, E::kind, 4);
  auto argument = GWLPBRuntimeEntity::initWithMessageInfo();
  NANOSetInt32(argument, E::kind, 1);
  NANOSetArray(entity, E::value, std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(argument)});
  NANOSetInt32(argument, E::kind, 2);

  // A list that holds the message itself takes a copy of it as it was.
  NANOSetArray(entity, E::value,
               std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(entity), std::shared_ptr<NANOMessageBase>(argument)});
  auto items = NANOGetMessageArray<GWLPBRuntimeEntity>(entity, E::value);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ(NANOGetInt32((*items)[0], E::kind), 4);
  auto inner = NANOGetMessageArray<GWLPBRuntimeEntity>((*items)[0], E::value);
  ASSERT_EQ(inner->size(), 1u);
  EXPECT_EQ(NANOGetInt32((*inner)[0], E::kind), 1);
  EXPECT_EQ(NANOGetInt32((*items)[1], E::kind), 2);

  // Reading with another element class gives no items.
  EXPECT_EQ(NANOGetArray(entity, E::value, &GWLPBProgram::type())->size(), 0u);
}

}  // namespace
