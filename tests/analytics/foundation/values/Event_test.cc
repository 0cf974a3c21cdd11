#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ValuesTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/NANO.h"

namespace {

using foundation_test::kDefaultLimits;
using foundation_test::Report;
using platform::Array;
using platform::Dictionary;
using platform::Object;

class EventTest : public foundation_test::LibraryMonitorTest {};

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }
GWLValue integer(int64_t value) { return GWLValue::initWithInt64(value); }

Array itemsOf(size_t count) {
  Array items;
  for (size_t i = 0; i < count; ++i) items.emplace_back(Dictionary{{"item_id", Object("sku" + std::to_string(i))}});
  return items;
}

std::vector<std::string> namesOf(const GWLParameters& parameters) {
  std::vector<std::string> names;
  for (const auto& entry : parameters) names.push_back(entry.first);
  return names;
}

// The three error parameters, as text for readable failures.
std::string errorsOf(const GWLParameters& parameters) {
  std::string result;
  for (const char* name : {"_err", "_ev", "_el"}) {
    auto found = parameters.find(name);
    result += std::string(name) + "=" + (found == parameters.end() ? "-" : found->second.description()) + " ";
  }
  return result;
}

std::string errors(std::optional<int64_t> code, std::optional<std::string> value = std::nullopt,
                   std::optional<int64_t> length = std::nullopt) {
  return "_err=" + (code ? std::to_string(*code) : "-") + " _ev=" + value.value_or("-") +
         " _el=" + (length ? std::to_string(*length) : "-") + " ";
}

TEST_F(EventTest, SanitiserTable) {
  struct Row {
    const char* what;
    const char* eventName;
    bool isPublic;
    GWLRawParameters input;
    std::vector<std::string> kept;  // every name of the result
    std::string errors;
    std::function<void(const GWLParameters&)> more = nullptr;
  };
  GWLRawParameters manyPublic{{"_x", Object(1)}};
  std::vector<std::string> firstHundred;
  for (int i = 0; i <= 100; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "p%03d", i);
    manyPublic.emplace(name, Object(i));
    if (i < 100) firstHundred.push_back(name);
  }
  std::vector<std::string> hundredKept = firstHundred;
  hundredKept.insert(hundredKept.begin(), {"_err", "_x"});
  Array withBadElement = itemsOf(5);
  withBadElement[3] = Object("not an item");
  Dictionary crowdedItem{{"price", Object(1.5)}, {"quantity", Object(2)}};
  for (int i = 0; i < 30; ++i) crowdedItem.emplace("c" + std::to_string(10 + i), Object(i));
  const std::string longName(41, 'n');
  const std::string longText(501, 't');
  const std::string longError(600, 'e');

  const Row rows[] = {
      {"reserved prefix on a public event", "tap", true, {{"ha_x", Object(1)}, {"ok", Object(2)}}, {"_err", "_ev", "ok"},
       errors(14, "ha_x")},
      {"reserved prefix on an internal event", "tap", false, {{"ha_x", Object(1)}}, {"ha_x"}, errors(std::nullopt)},
      {"41-character name", "tap", true, {{longName, Object(1)}}, {"_el", "_err", "_ev"},
       errors(3, std::string(40, 'n') + "...", 41)},
      {"public value one character too long", "tap", true, {{"v", Object(longText)}}, {"_el", "_err", "_ev"},
       errors(4, "v", 501)},
      {"empty public value", "tap", true, {{"v", Object("")}}, {"v"}, errors(std::nullopt)},
      {"only the first problem is recorded", "tap", true, {{"1a", Object(1)}, {"b-c", Object(2)}},
       {"_err", "_ev"}, errors(3, "1a")},
      {"name that is not valid UTF-8", "tap", true, {{"a\xFF", Object(1)}}, {"_err", "_ev"},
       errors(3, "a\xEF\xBF\xBD")},
      {"value of an unsupported kind", "tap", true, {{"b", Object(platform::Bytes{1})}, {"ok", Object(1)}}, {"ok"},
       errors(std::nullopt)},
      {"string value that is not valid UTF-8", "tap", true, {{"s", Object("\xC3")}}, {}, errors(std::nullopt)},
      {"250 items on a purchase keep 200", "purchase", true, {{"items", Object(itemsOf(250))}},
       {"_err", "_ev", "items"}, errors(17, "items"),
       [](const GWLParameters& result) { EXPECT_EQ(result.at("items").arrayValue()->size(), 200u); }},
      {"array not named items", "purchase", true, {{"goods", Object(itemsOf(1))}}, {"_err", "_ev"},
       errors(20, "goods")},
      {"array on a custom event", "tap", true, {{"items", Object(itemsOf(1))}}, {"_err", "_ev"}, errors(21, "tap")},
      {"array inside an item", "purchase", true,
       {{"items", Object(Array{Dictionary{{"nested", Object(itemsOf(1))}, {"item_id", Object("a")}}})}},
       {"items"}, errors(std::nullopt),
       [](const GWLParameters& result) {
         const Dictionary& item = *result.at("items").arrayValue()->at(0).dictionaryValue();
         EXPECT_EQ(item, (Dictionary{{"_err", Object(22)}, {"_ev", Object("nested")}, {"item_id", Object("a")}}));
       }},
      {"element that is no dictionary", "purchase", true, {{"items", Object(withBadElement)}},
       {"_err", "_ev", "items"}, errors(4, "items[3]"),
       [](const GWLParameters& result) { EXPECT_EQ(result.at("items").arrayValue()->size(), 4u); }},
      {"101 public parameters", "tap", false, manyPublic, hundredKept, errors(5)},
      {"too many custom item parameters", "purchase", true, {{"items", Object(Array{crowdedItem})}}, {"items"},
       errors(std::nullopt),
       [](const GWLParameters& result) {
         const Dictionary& item = *result.at("items").arrayValue()->at(0).dictionaryValue();
         EXPECT_EQ(item.size(), 2u + 27u + 1u) << "standard parameters stay, 27 custom ones, the error";
         EXPECT_EQ(item.at("_err"), Object(28));
         EXPECT_TRUE(item.count("c36") && !item.count("c37"));
       }},
      {"library error value is cut", "_err", false, {{"_ev", text(longError)}}, {"_el", "_ev"}, "",
       [&](const GWLParameters& result) {
         EXPECT_EQ(*result.at("_ev").stringValue(), std::string(500, 'e') + "...");
         EXPECT_EQ(result.at("_el"), integer(600));
       }},
      {"typed arrays are kept unchecked", "tap", false, {{"items", *GWLValue::initWithArray(itemsOf(1))}},
       {"items"}, errors(std::nullopt)},
  };
  for (const Row& row : rows) {
    auto result = GWLSanitizeEventParameters(row.input, row.eventName, row.isPublic, false, kDefaultLimits);
    ASSERT_TRUE(result) << row.what;
    EXPECT_EQ(namesOf(*result), row.kept) << row.what;
    if (!row.errors.empty()) {
      EXPECT_EQ(errorsOf(*result), row.errors) << row.what;
    }
    if (row.more) row.more(*result);
    reports();
  }
  EXPECT_FALSE(GWLSanitizeEventParameters({}, "tap", true, false, kDefaultLimits));
}

TEST_F(EventTest, SanitiserReportsWhatItDrops) {
  EXPECT_TRUE(GWLSanitizeParameters({{"b", Object(platform::Bytes{1})}}, true, kDefaultLimits));
  GWLRawParameters many;
  for (int i = 0; i < 101; ++i) many.emplace("p" + std::to_string(1000 + i), Object(i));
  EXPECT_TRUE(GWLSanitizeParameters(many, true, kDefaultLimits));
  auto got = reports();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].code, 35001);
  EXPECT_EQ(got[1], (Report{3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type: bytes"}));
  EXPECT_EQ(got[2], (Report{1, 18017, "Event cannot contain more than 100 parameters"}));
}

TEST_F(EventTest, OriginsAndNamesDecideWhetherAnEventIsBuilt) {
  struct Row {
    GWLOptionalText origin;
    bool isPublic;
    GWLOptionalText name;
    bool built;
  };
  const std::string longOrigin(33, 'o');
  const Row rows[] = {
      {"app", true, "tap", true},          {"auto", false, "_f", true},
      {"gtm+kxw", true, "tap", true},      {std::nullopt, false, "tap", false},
      {"", false, "tap", false},           {"+kxw", false, "tap", false},
      {"a-b", false, "tap", false},        {longOrigin, false, "tap", false},
      {"app", true, "first_open", false},  {"app", false, "first_open", true},
      {"app", true, "_tap", false},        {"app", false, "_tap", true},
      {"app", false, std::nullopt, false}, {"app", true, "screen_view", true},
  };
  for (const Row& row : rows) {
    auto event = GWLEvent::initWithOrigin(row.origin, row.isPublic, row.name, 10, 0, Dictionary{}, kDefaultLimits);
    EXPECT_EQ(event != nullptr, row.built) << row.origin.value_or("(nil)") << " " << row.name.value_or("(nil)");
    if (event) {
      EXPECT_EQ(event->parameters().at("_o"), text(std::string(*row.origin)));
    }
  }
}

TEST_F(EventTest, OriginParameterAndTimestamps) {
  auto event = GWLEvent::initWithOrigin("app", true, "tap", 5, 9, Dictionary{{"ok", Object(1)}}, kDefaultLimits);
  ASSERT_TRUE(event);
  EXPECT_EQ(lastSampledKey(), "1W_120500:Event created with previous timestamp after current timestamp");
  EXPECT_EQ(event->previousTimestamp(), 9);
  auto internal = GWLEvent::initWithOrigin("auto", false, "_s", 5, 0, Dictionary{{"_o", Object("fake")}}, kDefaultLimits);
  EXPECT_EQ(internal->parameters().at("_o"), text("auto"));
  // Copies are rebuilt as internal events with their own name.
  auto copy = event->copyWithPreviousTimestamp(1);
  EXPECT_EQ(copy->previousTimestamp(), 1);
  EXPECT_EQ(copy->parameters(), event->parameters());
  auto withParameters = event->copyWithParameters({{"_r", integer(1)}});
  EXPECT_TRUE(withParameters->isRealtime());
}

TEST_F(EventTest, ConversionsNeedANumericValueAndACurrency) {
  struct Row {
    const char* name;
    const char* origin;
    Dictionary parameters;
    bool conversion;
    std::string errors;
    bool keepsValue;
  };
  const Row rows[] = {
      {"in_app_purchase", "app", {{"_c", Object(1)}}, false, errors(18, "value"), false},
      {"in_app_purchase", "app", {{"_c", Object(1)}, {"value", Object(3)}, {"currency", Object("US")}}, false,
       errors(19, "currency"), false},
      {"in_app_purchase", "app", {{"_c", Object(1)}, {"value", Object(3)}, {"currency", Object("EUR")}}, true,
       errors(std::nullopt), true},
      {"in_app_purchase", "auto", {{"_c", Object(1)}}, true, errors(std::nullopt), false},
      {"ad_impression", "app", {{"value", Object("lots")}}, false, errors(18, "value"), false},
      {"tap", "app", {{"value", Object("lots")}}, false, errors(std::nullopt), true},
  };
  for (const Row& row : rows) {
    auto event = GWLEvent::initWithOrigin(row.origin, false, row.name, 1, 0, row.parameters, kDefaultLimits);
    ASSERT_TRUE(event) << row.name;
    EXPECT_EQ(event->isConversion(), row.conversion) << row.name << " " << row.parameters.size();
    EXPECT_EQ(errorsOf(event->parameters()), row.errors) << row.name << " " << row.parameters.size();
    EXPECT_EQ(event->parameters().count("value") == 1, row.keepsValue) << row.name << " " << row.parameters.size();
  }

  auto event = GWLEvent::initWithOrigin("app", false, "purchase", 1, 0,
                                        Dictionary{{"_c", Object(1)}, {"value", Object(2.5)}, {"currency", Object("usd")}}, kDefaultLimits);
  event->setConversion(false);
  EXPECT_FALSE(event->isConversion());
  EXPECT_EQ(event->parameters().at("_err"), integer(10));
  event->setConversion(true);
  EXPECT_TRUE(event->isConversion());
  EXPECT_FALSE(event->parameters().count("_err"));
}

TEST_F(EventTest, FlagsAndExtraParameters) {
  auto event = GWLEvent::initWithOrigin("app", false, "tap", 1, 0, Dictionary{{"_r", Object("yes")}, {"a", Object(1)}}, kDefaultLimits);
  EXPECT_FALSE(event->isRealtime());
  EXPECT_EQ(lastSampledKey(), "1E_120500:Realtime parameter must be an int64. Event name");
  event->setRealtime(true);
  event->setDebug(true);
  EXPECT_TRUE(event->isRealtime() && event->isDebug());
  event->setDebug(false);
  EXPECT_FALSE(event->parameters().count("_dbg"));

  // Existing names win; arrays are refused since no event name is known.
  event->applyParameters({{"a", Object(2)}, {"b", Object(3)}, {"items", Object(itemsOf(1))}}, true);
  EXPECT_EQ(event->parameters().at("a"), integer(1));
  EXPECT_EQ(event->parameters().at("b"), integer(3));
  EXPECT_EQ(errorsOf(event->parameters()), errors(21, "(nil)"));
}

TEST_F(EventTest, LimitsGivenAtBuildingStayWithTheEvent) {
  GWLValueLimits limits;
  limits.maxPublicEventParameterValueLength = 100;
  limits.maxPublicEventParams = 2;
  const std::string long101(101, 'x');
  auto event = GWLEvent::initWithOrigin("app", true, "tap", 1, 0,
                                        Dictionary{{"a", Object(1)}, {"b", Object(2)}, {"c", Object(3)}}, limits);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->limits(), limits);
  EXPECT_FALSE(event->parameters().count("c")) << "two public parameters kept";
  // Later changes apply the same limits: a public value of 101 characters is refused.
  event->applyParameters({{"long", Object(long101)}}, true);
  EXPECT_FALSE(event->parameters().count("long"));
  EXPECT_FALSE(event->addScreenParameters({{"_si", Object(7)}, {"_sc", Object(long101)}}));
  // Copies keep them: still two public parameters at most.
  auto copy = event->copyWithParameters({{"a", Object(1)}, {"b", Object(2)}, {"d", Object(4)}});
  EXPECT_EQ(copy->limits(), limits);
  EXPECT_EQ(GWLCountPublicParameters(copy->parameters()), 2u);
  // The default limits accept what these refuse.
  auto wider = GWLEvent::initWithOrigin("app", true, "tap", 1, 0,
                                        Dictionary{{"long", Object(long101)}, {"c", Object(3)}}, kDefaultLimits);
  EXPECT_TRUE(wider->parameters().count("long") && wider->parameters().count("c"));
  reports();
}

TEST_F(EventTest, ScreenParameters) {
  struct Row {
    const char* what;
    GWLRawParameters screen;
    bool added;
  };
  const Row rows[] = {
      {"all three", {{"_si", Object(7)}, {"_sc", Object("Grid")}, {"_sn", text("Sheet")}}, true},
      {"id only", {{"_si", integer(7)}}, true},
      {"nothing", {}, false},
      {"no id", {{"_sc", Object("Grid")}}, false},
      {"id that is no number", {{"_si", Object("7")}}, false},
      {"class that is no string", {{"_si", Object(7)}, {"_sc", Object(3)}}, false},
      {"empty class", {{"_si", Object(7)}, {"_sc", Object("")}}, false},
      {"name too long", {{"_si", Object(7)}, {"_sn", Object(std::string(501, 'n'))}}, false},
  };
  for (const Row& row : rows) {
    auto event = GWLEvent::initWithOrigin("app", false, "tap", 1, 0, Dictionary{}, kDefaultLimits);
    EXPECT_EQ(event->addScreenParameters(row.screen), row.added) << row.what;
    EXPECT_EQ(GWLHasScreenParameters(event->parameters()), row.added) << row.what;
    if (row.added) {
      EXPECT_FALSE(event->addScreenParameters(row.screen)) << "second time: " << row.what;
    }
  }
  auto got = reports();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1], (Report{3, 16003, "Received invalid screen class: "}));
  EXPECT_EQ(got[3].code, 16004);
}

TEST_F(EventTest, WireFormAndBack) {
  Dictionary item{{"item_id", Object("sku1")}, {"price", Object(9.99)}, {"quantity", Object(2)}};
  auto event = GWLEvent::initWithOrigin("app", true, "purchase", 1.5, 0,
                                        Dictionary{{"currency", Object("EUR")},
                                                   {"value", Object(19.98)},
                                                   {"count", Object(int64_t{1} << 40)},
                                                   {"items", Object(Array{item})}}, kDefaultLimits);
  ASSERT_TRUE(event);
  auto proto = event->protoEvent();
  EXPECT_EQ(NANOGetString(proto, GWLPBEvent::Field::name), "purchase");
  EXPECT_EQ(NANOGetInt64(proto, GWLPBEvent::Field::timestamp), 1500);
  EXPECT_FALSE(NANOHasField(proto, GWLPBEvent::Field::previous_timestamp));
  auto params = *NANOGetMessageArray<GWLPBEventParam>(proto, GWLPBEvent::Field::params);
  ASSERT_EQ(params.size(), 5u);  // _o, count, currency, items, value
  EXPECT_EQ(NANOGetString(params[3], GWLPBEventParam::Field::name), "items");
  auto elements = *NANOGetMessageArray<GWLPBEventParam>(params[3], GWLPBEventParam::Field::param_value);
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_FALSE(NANOHasField(elements[0], GWLPBEventParam::Field::name));
  auto itemParams = *NANOGetMessageArray<GWLPBEventParam>(elements[0], GWLPBEventParam::Field::param_value);
  ASSERT_EQ(itemParams.size(), 3u);
  EXPECT_EQ(NANOGetDouble(itemParams[1], GWLPBEventParam::Field::double_value), 9.99);
  EXPECT_EQ(NANOGetInt64(itemParams[2], GWLPBEventParam::Field::int_value), 2);

  // Through bytes and back: scalars survive exactly, the item array is lost.
  auto bytes = proto->protoBuffer();
  ASSERT_TRUE(bytes);
  auto decoded = GWLPBEvent::initWithBuffer(*bytes);
  ASSERT_TRUE(decoded);
  auto back = GWLEvent::initWithEventProto(*decoded, kDefaultLimits);
  ASSERT_TRUE(back);
  EXPECT_EQ(lastSampledKey(),
            "1W_120500:Unknown event parameter type from converting an event proto into GWLEvent instance. Event "
            "param name");
  EXPECT_EQ(back->origin(), "app");
  EXPECT_EQ(back->name(), "purchase");
  EXPECT_EQ(back->timestamp(), 1.5);
  GWLParameters expected = event->parameters();
  expected.erase("items");
  EXPECT_EQ(back->parameters(), expected);

  auto later = event->copyWithPreviousTimestamp(0.25);
  EXPECT_EQ(NANOGetInt64(later->protoEvent(), GWLPBEvent::Field::previous_timestamp), 250);
}

TEST_F(EventTest, WireEventsWithoutAReadableOriginAreRefused) {
  auto withOrigin = [](std::function<void(const std::shared_ptr<GWLPBEventParam>&)> fill) {
    auto proto = GWLPBEvent::initWithMessageInfo();
    NANOSetString(proto, GWLPBEvent::Field::name, "tap");
    auto param = GWLPBEventParam::initWithMessageInfo();
    NANOSetString(param, GWLPBEventParam::Field::name, "_o");
    if (fill) fill(param);
    auto nameless = GWLPBEventParam::initWithMessageInfo();
    NANOSetInt64(nameless, GWLPBEventParam::Field::int_value, 1);
    NANOSetArray(proto, GWLPBEvent::Field::params,
                 std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(nameless), std::shared_ptr<NANOMessageBase>(param)});
    return proto;
  };
  EXPECT_TRUE(GWLEvent::initWithEventProto(
      *withOrigin([](auto& param) { NANOSetString(param, GWLPBEventParam::Field::string_value, "app"); }), kDefaultLimits));
  EXPECT_EQ(lastSampledKey(), "1E_120500:Ignoring parameter. Parameter name is nil. Event name");
  EXPECT_FALSE(GWLEvent::initWithEventProto(
      *withOrigin([](auto& param) { NANOSetInt64(param, GWLPBEventParam::Field::int_value, 3); }), kDefaultLimits));
  EXPECT_EQ(lastSampledKey(),
            "1E_120500:Cannot create an event from event proto. Origin parameter is not a string. Event name");
  // Without "_o" the origin is missing and the event is refused.
  auto bare = GWLPBEvent::initWithMessageInfo();
  NANOSetString(bare, GWLPBEvent::Field::name, "tap");
  EXPECT_FALSE(GWLEvent::initWithEventProto(*bare, kDefaultLimits));
  EXPECT_FALSE(GWLEvent::initWithEventProto(*GWLPBEvent::initWithMessageInfo(), kDefaultLimits));
}

TEST_F(EventTest, NameAndParameterHelpers) {
  EXPECT_TRUE(GWLIsPublicName("tap"));
  EXPECT_FALSE(GWLIsPublicName("_tap"));
  EXPECT_FALSE(GWLIsPublicName(""));
  EXPECT_EQ(lastSampledKey(), "1E_120500:Cannot check the name. Name is empty");
  GWLParameters parameters{{"_sn", text("a")}, {"vrt_x", integer(1)}, {"x", integer(2)}};
  EXPECT_EQ(namesOf(GWLScreenParametersFromParameters(parameters)), (std::vector<std::string>{"_sn"}));
  EXPECT_EQ(namesOf(GWLRemoveVrtPrefixedParameters(parameters)), (std::vector<std::string>{"_sn", "x"}));
  auto event = GWLEvent::initWithOrigin("auto", false, "_iap", 1, 0, Dictionary{{"subscription", Object(1)}}, kDefaultLimits);
  EXPECT_TRUE(GWLIsSubscriptionEvent(*event));
  EXPECT_FALSE(GWLIsErrorEvent(*event));
  EXPECT_EQ(GWLArrayParameterElementCount(nullptr), 0u);
  auto purchase = GWLEvent::initWithOrigin("app", true, "purchase", 1, 0, Dictionary{{"items", Object(itemsOf(3))}}, kDefaultLimits);
  EXPECT_EQ(GWLArrayParameterElementCount(purchase.get()), 3u);
}

}  // namespace

namespace {

class ErrorEventTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    GWLSetInternalEventLogger([this](const std::string& origin, const std::string& name, const GWLParameters& p) {
      logged.push_back({origin, name, p});
    });
  }
  void TearDown() override {
    GWLSetInternalEventLogger(nullptr);
    LibraryMonitorTest::TearDown();
  }
  struct Logged {
    std::string origin;
    std::string name;
    GWLParameters parameters;
  };
  std::vector<Logged> logged;
};

TEST_F(ErrorEventTest, ErrorEventsCarryCodeNameAndLength) {
  GWLLogErrorEvent(0);
  GWLLogErrorEventWithName(0, "x", 40, std::nullopt);
  EXPECT_TRUE(logged.empty());
  GWLLogErrorEvent(13);
  GWLLogErrorEventWithName(2, std::string(45, 'n'), 40, std::nullopt);
  GWLLogErrorEventWithName(7, "prop", 24, "short");
  GWLLogErrorEventWithName(6, "prop", 3, "long value");
  GWLLogErrorEventWithName(6, "prop", 24, "short");
  ASSERT_EQ(logged.size(), 5u);
  EXPECT_EQ(logged[0].origin, "auto");
  EXPECT_EQ(logged[0].name, "_err");
  EXPECT_EQ(errorsOf(logged[0].parameters), errors(13));
  EXPECT_EQ(errorsOf(logged[1].parameters), errors(2, std::string(40, 'n') + "..."));
  EXPECT_EQ(errorsOf(logged[2].parameters), errors(7, "prop", 5));
  EXPECT_EQ(errorsOf(logged[3].parameters), errors(6, "pro...", 10));
  EXPECT_EQ(errorsOf(logged[4].parameters), errors(6, "prop"));
}

}  // namespace

namespace {

class EditableEventTest : public foundation_test::LibraryMonitorTest {};

TEST_F(EditableEventTest, InterpreterSeesPublicNamesAndPlainValues) {
  Dictionary item{{"item_id", Object("a")}, {"price", Object(2.5)}};
  auto event = GWLEvent::initWithOrigin("auto", false, "_s", 7, 3,
                                        GWLRawParameters{{"n", Object(1)},
                                                         {"items", *GWLValue::initWithArray(Array{
                                                                       Dictionary{{"item_id", Object("a")},
                                                                                  {"price", Object(2.5)},
                                                                                  {"deep", Object(itemsOf(1))}},
                                                                       Object("stray")})}}, kDefaultLimits);
  GWLEditableEvent edited = event->editEvent();
  EXPECT_EQ(edited.name, "session_start");
  EXPECT_EQ(edited.timestamp, 7);
  EXPECT_EQ(edited.parameters, (Dictionary{{"_o", Object("auto")}, {"items", Object(Array{item})}, {"n", Object(1)}}));

  auto back = GWLEvent::eventFromEditEvent(edited, kDefaultLimits);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name(), "_s");
  EXPECT_EQ(back->origin(), "auto");
  EXPECT_EQ(back->previousTimestamp(), 0);
  edited.parameters.erase("_o");
  edited.name = "custom";
  auto custom = GWLEvent::eventFromEditEvent(edited, kDefaultLimits);
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->origin(), "app");
  EXPECT_EQ(custom->name(), "custom");
}

}  // namespace
