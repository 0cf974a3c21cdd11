// Encoding and decoding a realistic upload batch (5 bundles of 100 events with
// 10 parameters each, plus the bundles' metadata and user properties) and a
// small message (one event with two parameters, where the cost of each call
// shows), with the wire messages and with libprotobuf's generated classes of
// the same schema. Both sides build the same messages; the program checks
// that they encode them to the same bytes, runs the eight benchmarks and then
// prints, for each message, encoding and decoding, how long the wire messages
// take relative to libprotobuf (a ratio above 1 means slower).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "reference/tabulo_wire.pb.h"

namespace {

constexpr int kBundles = 5;
constexpr int kEventsPerBundle = 100;
constexpr int kParamsPerEvent = 10;
constexpr int kUserAttributes = 6;
constexpr int64_t kStartMillis = 1765370000000;

// One parameter's value: 4 of 10 are texts, 4 integers, 2 doubles.
struct Param {
  std::string name;
  std::string text;
  int64_t integer = 0;
  double real = 0;
  int kind = 0;  // 0 text, 1 integer, 2 double
};

Param paramAt(int event, int index) {
  static const char* const names[] = {"_o",       "_sc",      "_si",   "item_id", "quantity",
                                      "currency", "value",    "_et",   "method",  "engagement_time"};
  Param p;
  p.name = names[index];
  p.kind = index < 4 ? 0 : (index < 8 ? 1 : 2);
  p.text = "value-" + std::to_string(event) + "-" + std::to_string(index);
  p.integer = int64_t{1000} * event + index;
  p.real = event * 1.25 + index / 8.0;
  return p;
}

std::string eventName(int event) {
  static const char* const names[] = {"_e", "_vs", "select_content", "add_to_cart", "_s"};
  return names[event % 5];
}

std::shared_ptr<GWLPBMeasurementBatch> nanoBatch() {
  using B = GWLPBMeasurementBundle::Field;
  using E = GWLPBEvent::Field;
  using P = GWLPBEventParam::Field;
  using U = GWLPBUserAttribute::Field;
  std::vector<NANOValue> bundles;
  for (int b = 0; b < kBundles; ++b) {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    NANOSetInt32(bundle, B::protocol_version, 1);
    NANOSetString(bundle, B::platform, "ios");
    NANOSetString(bundle, B::os_version, "17.4.1");
    NANOSetString(bundle, B::device_model, "iPhone15,2");
    NANOSetString(bundle, B::user_default_language, "en-gb");
    NANOSetInt32(bundle, B::time_zone_offset_minutes, 60);
    NANOSetString(bundle, B::app_id, "1:1234567890:ios:0a1b2c3d4e5f6789");
    NANOSetString(bundle, B::app_version, "2.3.1");
    NANOSetInt64(bundle, B::library_version, 110300);
    NANOSetInt64(bundle, B::uploading_library_version, 110300);
    NANOSetString(bundle, B::vendor_device_id, "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    NANOSetBool(bundle, B::limited_ad_tracking, false);
    NANOSetString(bundle, B::app_instance_id, "0123456789abcdef0123456789abcdef");
    NANOSetInt32(bundle, B::bundle_index, (b + 1) * kEventsPerBundle);
    NANOSetInt32(bundle, B::delivery_index, b + 1);
    NANOSetString(bundle, B::installation_id, "fQ2bX9kP1sR0tU3vW4xY5z");
    NANOSetInt64(bundle, B::config_version, 1765000000);
    NANOSetString(bundle, B::consent_signals, "G111");
    NANOSetBool(bundle, B::dma_region, true);
    NANOSetInt64(bundle, B::upload_timestamp, kStartMillis + 600000);
    NANOSetInt64(bundle, B::start_timestamp, kStartMillis + b * 10000);
    NANOSetInt64(bundle, B::end_timestamp, kStartMillis + b * 10000 + 9999);
    std::vector<NANOValue> attributes;
    for (int a = 0; a < kUserAttributes; ++a) {
      auto attribute = GWLPBUserAttribute::initWithMessageInfo();
      NANOSetInt64(attribute, U::set_timestamp, kStartMillis - a * 1000);
      NANOSetString(attribute, U::name, "property_" + std::to_string(a));
      if (a % 2) {
        NANOSetInt64(attribute, U::int_value, a);
      } else {
        NANOSetString(attribute, U::string_value, "text-" + std::to_string(a));
      }
      attributes.emplace_back(attribute);
    }
    NANOSetArray(bundle, B::user_attributes, attributes);
    std::vector<NANOValue> events;
    for (int e = 0; e < kEventsPerBundle; ++e) {
      int event = b * kEventsPerBundle + e;
      auto message = GWLPBEvent::initWithMessageInfo();
      std::vector<NANOValue> params;
      for (int i = 0; i < kParamsPerEvent; ++i) {
        Param p = paramAt(event, i);
        auto param = GWLPBEventParam::initWithMessageInfo();
        NANOSetString(param, P::name, p.name);
        if (p.kind == 0) NANOSetString(param, P::string_value, p.text);
        if (p.kind == 1) NANOSetInt64(param, P::int_value, p.integer);
        if (p.kind == 2) NANOSetDouble(param, P::double_value, p.real);
        params.emplace_back(param);
      }
      NANOSetArray(message, E::params, params);
      NANOSetString(message, E::name, eventName(event));
      NANOSetInt64(message, E::timestamp, kStartMillis + event * 100);
      if (e > 0) NANOSetInt64(message, E::previous_timestamp, kStartMillis + event * 100 - 100);
      events.emplace_back(message);
    }
    NANOSetArray(bundle, B::events, events);
    bundles.emplace_back(bundle);
  }
  auto batch = GWLPBMeasurementBatch::initWithMessageInfo();
  NANOSetArray(batch, GWLPBMeasurementBatch::Field::bundles, bundles);
  return batch;
}

tabulo::wire::MeasurementBatch referenceBatch() {
  tabulo::wire::MeasurementBatch batch;
  for (int b = 0; b < kBundles; ++b) {
    tabulo::wire::MeasurementBundle* bundle = batch.add_bundles();
    bundle->set_protocol_version(1);
    bundle->set_platform("ios");
    bundle->set_os_version("17.4.1");
    bundle->set_device_model("iPhone15,2");
    bundle->set_user_default_language("en-gb");
    bundle->set_time_zone_offset_minutes(60);
    bundle->set_app_id("1:1234567890:ios:0a1b2c3d4e5f6789");
    bundle->set_app_version("2.3.1");
    bundle->set_library_version(110300);
    bundle->set_uploading_library_version(110300);
    bundle->set_vendor_device_id("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    bundle->set_limited_ad_tracking(false);
    bundle->set_app_instance_id("0123456789abcdef0123456789abcdef");
    bundle->set_bundle_index((b + 1) * kEventsPerBundle);
    bundle->set_delivery_index(b + 1);
    bundle->set_installation_id("fQ2bX9kP1sR0tU3vW4xY5z");
    bundle->set_config_version(1765000000);
    bundle->set_consent_signals("G111");
    bundle->set_dma_region(true);
    bundle->set_upload_timestamp(kStartMillis + 600000);
    bundle->set_start_timestamp(kStartMillis + b * 10000);
    bundle->set_end_timestamp(kStartMillis + b * 10000 + 9999);
    for (int a = 0; a < kUserAttributes; ++a) {
      tabulo::wire::UserAttribute* attribute = bundle->add_user_attributes();
      attribute->set_set_timestamp(kStartMillis - a * 1000);
      attribute->set_name("property_" + std::to_string(a));
      if (a % 2) {
        attribute->set_int_value(a);
      } else {
        attribute->set_string_value("text-" + std::to_string(a));
      }
    }
    for (int e = 0; e < kEventsPerBundle; ++e) {
      int event = b * kEventsPerBundle + e;
      tabulo::wire::Event* message = bundle->add_events();
      for (int i = 0; i < kParamsPerEvent; ++i) {
        Param p = paramAt(event, i);
        tabulo::wire::EventParam* param = message->add_params();
        param->set_name(p.name);
        if (p.kind == 0) param->set_string_value(p.text);
        if (p.kind == 1) param->set_int_value(p.integer);
        if (p.kind == 2) param->set_double_value(p.real);
      }
      message->set_name(eventName(event));
      message->set_timestamp(kStartMillis + event * 100);
      if (e > 0) message->set_previous_timestamp(kStartMillis + event * 100 - 100);
    }
  }
  return batch;
}

// One event with two parameters (a text and an integer), in both forms.
std::shared_ptr<GWLPBEvent> nanoEvent() {
  auto name = GWLPBEventParam::initWithMessageInfo();
  name->setName("item_name");
  name->setStringValue("spreadsheet");
  auto quantity = GWLPBEventParam::initWithMessageInfo();
  quantity->setName("quantity");
  quantity->setIntValue(3);
  auto event = GWLPBEvent::initWithMessageInfo();
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{name, quantity});
  event->setName("add_to_cart");
  event->setTimestamp(kStartMillis);
  event->setPreviousTimestamp(kStartMillis - 100);
  return event;
}

tabulo::wire::Event referenceEvent() {
  tabulo::wire::Event event;
  tabulo::wire::EventParam* name = event.add_params();
  name->set_name("item_name");
  name->set_string_value("spreadsheet");
  tabulo::wire::EventParam* quantity = event.add_params();
  quantity->set_name("quantity");
  quantity->set_int_value(3);
  event.set_name("add_to_cart");
  event.set_timestamp(kStartMillis);
  event.set_previous_timestamp(kStartMillis - 100);
  return event;
}

// The batch and the small event in both forms and their encodings, made once.
struct Batches {
  std::shared_ptr<GWLPBMeasurementBatch> nano = nanoBatch();
  tabulo::wire::MeasurementBatch reference = referenceBatch();
  std::vector<uint8_t> wire;
  std::string referenceWire;
  std::shared_ptr<GWLPBEvent> nanoSmall = nanoEvent();
  tabulo::wire::Event referenceSmall = referenceEvent();
  std::vector<uint8_t> smallWire;
  std::string referenceSmallWire;

  Batches() {
    wire = nano->protoBuffer().value_or(std::vector<uint8_t>{});
    referenceWire = reference.SerializeAsString();
    smallWire = nanoSmall->protoBuffer().value_or(std::vector<uint8_t>{});
    referenceSmallWire = referenceSmall.SerializeAsString();
    if (wire.empty() || std::string(wire.begin(), wire.end()) != referenceWire || smallWire.empty() ||
        std::string(smallWire.begin(), smallWire.end()) != referenceSmallWire) {
      std::fprintf(stderr, "the two sides do not encode alike (%zu and %zu bytes, %zu and %zu bytes)\n", wire.size(),
                   referenceWire.size(), smallWire.size(), referenceSmallWire.size());
      std::abort();
    }
  }
};

const Batches& batches() {
  static const Batches instance;
  return instance;
}

void encodeNano(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    std::optional<std::vector<uint8_t>> wire = b.nano->protoBuffer();
    benchmark::DoNotOptimize(wire);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.wire.size()));
}

void encodeLibprotobuf(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    std::string wire = b.reference.SerializeAsString();
    benchmark::DoNotOptimize(wire);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.wire.size()));
}

void decodeNano(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    auto batch = GWLPBMeasurementBatch::initWithBuffer(b.wire);
    if (!batch) state.SkipWithError("the batch did not decode");
    benchmark::DoNotOptimize(batch);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.wire.size()));
}

void decodeLibprotobuf(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    tabulo::wire::MeasurementBatch batch;
    if (!batch.ParseFromString(b.referenceWire)) state.SkipWithError("the batch did not decode");
    benchmark::DoNotOptimize(batch);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.wire.size()));
}

void encodeSmallNano(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    std::optional<std::vector<uint8_t>> wire = b.nanoSmall->protoBuffer();
    benchmark::DoNotOptimize(wire);
  }
}

void encodeSmallLibprotobuf(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    std::string wire = b.referenceSmall.SerializeAsString();
    benchmark::DoNotOptimize(wire);
  }
}

void decodeSmallNano(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    auto event = GWLPBEvent::initWithBuffer(b.smallWire);
    if (!event) state.SkipWithError("the event did not decode");
    benchmark::DoNotOptimize(event);
  }
}

void decodeSmallLibprotobuf(benchmark::State& state) {
  const Batches& b = batches();
  for (auto _ : state) {
    tabulo::wire::Event event;
    if (!event.ParseFromString(b.referenceSmallWire)) state.SkipWithError("the event did not decode");
    benchmark::DoNotOptimize(event);
  }
}

// Prints the usual table, then the ratios of the wire messages' times to
// libprotobuf's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      // The fastest repetition of each, by real and by CPU time.
      Times times{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      auto [it, inserted] = times_.emplace(run.benchmark_name(), times);
      if (!inserted) {
        it->second.real = std::min(it->second.real, times.real);
        it->second.cpu = std::min(it->second.cpu, times.cpu);
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nupload batch: %d bundles x %d events x %d parameters, %zu bytes; small message: one event with "
                "two parameters, %zu bytes\n",
                kBundles, kEventsPerBundle, kParamsPerEvent, batches().wire.size(), batches().smallWire.size());
    for (const char* operation : {"encode", "decode", "encode-small", "decode-small"}) {
      auto nano = times_.find(std::string(operation) + "/nano");
      auto reference = times_.find(std::string(operation) + "/libprotobuf");
      if (nano == times_.end() || reference == times_.end()) continue;
      if (reference->second.real <= 0 || reference->second.cpu <= 0) continue;
      std::printf("%s: wire messages / libprotobuf = %.2f (real time), %.2f (CPU time)\n", operation,
                  nano->second.real / reference->second.real, nano->second.cpu / reference->second.cpu);
    }
    std::fflush(stdout);
  }

 private:
  struct Times {
    double real;
    double cpu;
  };
  std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
  batches();
  benchmark::RegisterBenchmark("encode/nano", encodeNano)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("encode/libprotobuf", encodeLibprotobuf)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("decode/nano", decodeNano)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("decode/libprotobuf", decodeLibprotobuf)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("encode-small/nano", encodeSmallNano);
  benchmark::RegisterBenchmark("encode-small/libprotobuf", encodeSmallLibprotobuf);
  benchmark::RegisterBenchmark("decode-small/nano", decodeSmallNano);
  benchmark::RegisterBenchmark("decode-small/libprotobuf", decodeSmallLibprotobuf);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
