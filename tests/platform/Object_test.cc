#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/Object.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Object, KeepsBoolIntAndDoubleApart) {
  Object t(true), one(1), oneDouble(1.0);
  EXPECT_EQ(t.type(), Object::Type::Bool);
  EXPECT_EQ(one.type(), Object::Type::Int);
  EXPECT_EQ(oneDouble.type(), Object::Type::Double);
  EXPECT_NE(t, one);
  EXPECT_NE(one, oneDouble);
  EXPECT_FALSE(t.intValue());
  EXPECT_FALSE(one.boolValue());
  EXPECT_EQ(one.numberValue(), 1.0);
  EXPECT_FALSE(t.numberValue());
  EXPECT_EQ(Object(int64_t{-5}).intValue(), -5);
  EXPECT_EQ(Object(uint8_t{7}).intValue(), 7);
}

TEST(Object, DictionariesAreSortedAndNested) {
  Object o(Dictionary{{"b", Array{1, "x", nullptr}}, {"a", Dictionary{{"k", 2.5}}}});
  ASSERT_TRUE(o.isDictionary());
  EXPECT_EQ(o.dictionaryValue()->begin()->first, "a");
  ASSERT_NE(o.find("b"), nullptr);
  EXPECT_EQ(o.find("b")->arrayValue()->size(), 3u);
  EXPECT_EQ(o.find("missing"), nullptr);
  EXPECT_EQ(o.description(), R"({"a": {"k": 2.5}, "b": [1, "x", null]})");
}

TEST(Error, SetErrorFillsOnlyWhenAsked) {
  setError(nullptr, Error("d", 1));
  Error e;
  setError(&e, Error("d", 7, "bad"));
  EXPECT_EQ(e.toString(), "d 7: bad");
}

TEST(Log, CapturesRecordsAtOrAboveTheLoggerLevel) {
  log::ScopedCapture capture;
  HVUSetLoggerLevel(4);
  HVUOSLogError("sub", "cat", false, "I-X000001", "error %d", 1);
  HVUOSLogInfo("sub", "cat", false, "", "dropped %s", "info");
  HVUOSLogInfo("sub", "cat", true, "", "forced %s", "info");
  EXPECT_TRUE(HVUIsLoggableLevel(3));
  EXPECT_FALSE(HVUIsLoggableLevel(5));
  EXPECT_EQ(capture.sink().lines(), (std::vector<std::string>{"I-X000001 error 1", "forced info"}));
}

}  // namespace
}  // namespace platform
