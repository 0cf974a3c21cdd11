// Flags made from plain values and read back, refused arguments, and the sink
// the refusals are reported through.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "WireTestSupport.h"
#include "analytics/wire/GWLPBFlagFunctions.h"
#include "analytics/wire/GWLPBFlagLogSink.h"
#include "analytics/wire/NANO.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

using F = GWLPBFlag::Field;

struct Report {
  int64_t level;
  int64_t code;
  std::string message;
  bool hasContextArgument;
  std::optional<std::string> context;
};

class RecordingSink : public GWLPBFlagLogSink {
 public:
  void logWithLevel(int64_t level, int64_t code, const std::string& message) override {
    reports.push_back({level, code, message, false, std::nullopt});
  }
  void logWithLevel(int64_t level, int64_t code, const std::string& message,
                    const std::optional<std::string>& context) override {
    reports.push_back({level, code, message, true, context});
  }
  std::vector<Report> reports;
};

class GWLPBFlagFunctionsTest : public testing::Test {
 protected:
  void SetUp() override { GWLPBFlagLogSink::install(sink_); }
  void TearDown() override { GWLPBFlagLogSink::install(nullptr); }
  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

// Which value field a plain value lands in, and what comes back from it.
TEST_F(GWLPBFlagFunctionsTest, ValuesGoIntoTheFieldOfTheirKindAndComeBack) {
  struct Case {
    const char* what;
    platform::Object value;
    int32_t field;
    platform::Object readBack;
  };
  std::vector<Case> cases = {
      {"double", 2.5, F::double_value, 2.5},
      {"integer", int64_t{2}, F::int_value, int64_t{2}},
      {"negative integer", int64_t{-9007199254740993}, F::int_value, int64_t{-9007199254740993}},
      {"boolean YES is the integer 1", true, F::int_value, int64_t{1}},
      {"boolean NO is the integer 0", false, F::int_value, int64_t{0}},
      {"text", "on", F::string_value, "on"},
      {"empty text", "", F::string_value, ""},
      {"whole double stays a double", 3.0, F::double_value, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto flag = GWLPBFlagCreate("feature_x", c.value);
    ASSERT_TRUE(flag);
    EXPECT_EQ(NANOGetString(flag, F::name), "feature_x");
    for (int32_t field : {F::int_value, F::string_value, F::double_value, F::bool_value}) {
      EXPECT_EQ(NANOHasField(flag, field), field == c.field) << "field " << field;
    }
    EXPECT_EQ(GWLPBFlagGetValue(flag), c.readBack);
    // The flag survives its wire form unchanged.
    auto decoded = GWLPBFlag::initWithBuffer(*flag->protoBuffer());
    EXPECT_EQ(GWLPBFlagGetValue(decoded), c.readBack);
  }
  EXPECT_TRUE(sink_->reports.empty());
}

TEST_F(GWLPBFlagFunctionsTest, RefusedArgumentsAreReportedAndGiveNoFlag) {
  struct Case {
    const char* what;
    platform::Object name;
    platform::Object value;
    int64_t code;
    const char* message;
    bool hasContextArgument;
    std::optional<std::string> context;
  };
  std::vector<Case> cases = {
      {"missing name", nullptr, int64_t{1}, 850000, "Flag name must not be nil", false, std::nullopt},
      {"number as name", int64_t{7}, int64_t{1}, 850001, "Flag name must be a string", true, "int"},
      {"name that is not UTF-8", std::string("\xff\xfe"), int64_t{1}, 850001, "Flag name must be a string", true,
       "string (invalid UTF-8)"},
      {"date as value", "f", platform::Date{1700000000}, 850002, "Flag value is invalid", true, "date"},
      {"bytes as value", "f", platform::Bytes{1, 2}, 850002, "Flag value is invalid", true, "bytes"},
      {"array as value", "f", platform::Array{int64_t{1}}, 850002, "Flag value is invalid", true, "array"},
      {"missing value", "f", nullptr, 850002, "Flag value is invalid", true, std::nullopt},
      {"text value that is not UTF-8", "f", std::string("a\xc0"), 850002, "Flag value is invalid", true,
       "string (invalid UTF-8)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sink_->reports.clear();
    EXPECT_FALSE(GWLPBFlagCreate(c.name, c.value));
    ASSERT_EQ(sink_->reports.size(), 1u);
    const Report& report = sink_->reports[0];
    EXPECT_EQ(report.level, 1);
    EXPECT_EQ(report.code, c.code);
    EXPECT_EQ(report.message, c.message);
    EXPECT_EQ(report.hasContextArgument, c.hasContextArgument);
    EXPECT_EQ(report.context, c.context);
  }
}

// The first present value field wins, in the order int, double, text, bool.
TEST_F(GWLPBFlagFunctionsTest, ReadingTakesTheFirstPresentValueInFixedOrder) {
  struct Case {
    const char* what;
    std::vector<uint8_t> wire;
    platform::Object value;
  };
  std::vector<Case> cases = {
      {"text and double give the double", WireBytes().stringField(3, "s").tag(4, 1).raw({0, 0, 0, 0, 0, 0, 0xf8, 0x3f}).bytes(),
       1.5},
      {"integer before double", WireBytes().varintField(2, 4).tag(4, 1).raw({0, 0, 0, 0, 0, 0, 0xf8, 0x3f}).bytes(),
       int64_t{4}},
      {"text before bool", WireBytes().varintField(5, 1).stringField(3, "s").bytes(), "s"},
      {"bool alone stays a boolean", WireBytes().varintField(5, 1).bytes(), true},
      {"only a name gives nothing", WireBytes().stringField(1, "n").bytes(), nullptr},
      {"a text that is not UTF-8 gives nothing", WireBytes().stringField(3, "\xff").varintField(5, 1).bytes(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto flag = GWLPBFlag::initWithBuffer(c.wire);
    ASSERT_TRUE(flag);
    EXPECT_EQ(GWLPBFlagGetValue(flag), c.value);
  }
  EXPECT_EQ(GWLPBFlagGetValue(nullptr), platform::Object());
  EXPECT_TRUE(sink_->reports.empty());
}

// Until the experiments client installs its own sink, reports go to the
// system log with their message code.
TEST(GWLPBFlagLogSink, DefaultSinkWritesTheSystemLog) {
  GWLPBFlagLogSink::install(nullptr);
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(GWLPBFlagCreate(nullptr, int64_t{1}));
  EXPECT_FALSE(GWLPBFlagCreate(int64_t{1}, int64_t{1}));
  auto records = capture.sink().records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, platform::LogLevel::Error);
  EXPECT_EQ(records[0].code, "I-ACS850000");
  EXPECT_EQ(records[0].message, "Flag name must not be nil");
  EXPECT_EQ(records[1].code, "I-ACS850001");
  EXPECT_EQ(records[1].message, "Flag name must be a string: int");
}

// The experiments client may install its sink while flags are being made on
// another thread.
TEST(GWLPBFlagLogSink, InstallingWhileReportingIsSafe) {
  struct CountingSink : GWLPBFlagLogSink {
    void logWithLevel(int64_t, int64_t, const std::string&) override { ++count; }
    void logWithLevel(int64_t, int64_t, const std::string&, const std::optional<std::string>&) override { ++count; }
    std::atomic<int> count{0};
  };
  auto first = std::make_shared<CountingSink>();
  auto second = std::make_shared<CountingSink>();
  GWLPBFlagLogSink::install(first);
  std::thread installer([&] {
    for (int i = 0; i < 200; ++i) GWLPBFlagLogSink::install(i % 2 ? first : second);
  });
  for (int i = 0; i < 200; ++i) EXPECT_FALSE(GWLPBFlagCreate("f", platform::Date{}));
  installer.join();
  EXPECT_EQ(first->count + second->count, 200);
  GWLPBFlagLogSink::install(nullptr);
}

}  // namespace
