// The wire messages against an independent implementation: libprotobuf's own
// classes of the same generated proto2 file. For every message, random
// messages (fixed seed) made on one side are encoded, decoded by the other
// side and encoded again, byte for byte, in both directions.
//
// The random messages stay clear of the differences we keep on purpose; each
// is shown on its own in IntendedDifferences below:
//   1. a singular string or bytes field that occurs twice keeps its first value
//      here, its last in libprotobuf;
//   2. undeclared tags are dropped here, kept and written back by libprotobuf;
//   3. nesting is capped per family here (100 levels, 1000 for programs),
//      at 100 levels for every message in libprotobuf;
//   4. a varint too wide for its unsigned 32-bit or bool field fails the decode
//      here and is cut down by libprotobuf (signed 32-bit fields are cut down on
//      both sides); an item of a 32-bit list is carried whole here and cut to
//      32 bits by libprotobuf.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"
#include "reference/tabulo_wire.pb.h"

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using ReferenceMessage = google::protobuf::Message;
using google::protobuf::Reflection;
using wire_test::WireBytes;

namespace {

constexpr int kMessagesPerType = 40;
// Levels of sub-messages below the random root; lists hold up to kMaxItems.
constexpr int kMaxDepth = 4;
constexpr int kMaxItems = 3;

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  uint64_t bits() { return engine_(); }
  bool coin() { return (bits() & 1) != 0; }
  int below(int n) { return static_cast<int>(bits() % static_cast<uint64_t>(n)); }

  // Integers lean on the edges: zero, one, minus one, the type's limits.
  template <class T>
  T integer() {
    switch (below(6)) {
      case 0: return T{0};
      case 1: return T{1};
      case 2: return static_cast<T>(-1);
      case 3: return std::numeric_limits<T>::min();
      case 4: return std::numeric_limits<T>::max();
      default: return static_cast<T>(bits());
    }
  }
  double real() {
    switch (below(4)) {
      case 0: return 0.0;
      case 1: return -1.5e300;
      case 2: return static_cast<double>(static_cast<int64_t>(bits())) / 1024.0;
      default: {  // any bit pattern, NaNs and infinities included
        double value;
        uint64_t pattern = bits();
        std::memcpy(&value, &pattern, sizeof value);
        return value;
      }
    }
  }
  float single() {
    float value;
    auto pattern = static_cast<uint32_t>(bits());
    if (coin()) return static_cast<float>(below(1000)) / 8.0f;
    std::memcpy(&value, &pattern, sizeof value);
    return value;
  }
  std::string text() {
    static const char* const pieces[] = {"a", "Z", "_e", " ", "é", "€", "😀", "日本", "\t", "0"};
    std::string out;
    for (int n = below(8); n > 0; --n) out += pieces[below(10)];
    return out;
  }
  std::vector<uint8_t> data() {
    std::vector<uint8_t> out(static_cast<size_t>(below(12)));
    for (auto& byte : out) byte = static_cast<uint8_t>(bits());
    return out;
  }

 private:
  std::mt19937_64 engine_;
};

// A random libprotobuf message through its reflection.
void fillReference(ReferenceMessage* message, Random& random, int depth) {
  const Descriptor* descriptor = message->GetDescriptor();
  const Reflection* reflection = message->GetReflection();
  for (int i = 0; i < descriptor->field_count(); ++i) {
    const FieldDescriptor* field = descriptor->field(i);
    bool isMessage = field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
    if (isMessage && depth >= kMaxDepth) continue;
    int count = field->is_repeated() ? random.below(kMaxItems + 1) : (random.coin() ? 1 : 0);
    for (int k = 0; k < count; ++k) {
      bool repeated = field->is_repeated();
      switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32: {
          auto v = random.integer<int32_t>();
          repeated ? reflection->AddInt32(message, field, v) : reflection->SetInt32(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_INT64: {
          auto v = random.integer<int64_t>();
          repeated ? reflection->AddInt64(message, field, v) : reflection->SetInt64(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_UINT32: {
          auto v = random.integer<uint32_t>();
          repeated ? reflection->AddUInt32(message, field, v) : reflection->SetUInt32(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_UINT64: {
          auto v = random.integer<uint64_t>();
          repeated ? reflection->AddUInt64(message, field, v) : reflection->SetUInt64(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_DOUBLE: {
          double v = random.real();
          repeated ? reflection->AddDouble(message, field, v) : reflection->SetDouble(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_FLOAT: {
          float v = random.single();
          repeated ? reflection->AddFloat(message, field, v) : reflection->SetFloat(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_BOOL: {
          bool v = random.coin();
          repeated ? reflection->AddBool(message, field, v) : reflection->SetBool(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_STRING: {
          std::string v;
          if (field->type() == FieldDescriptor::TYPE_BYTES) {
            auto data = random.data();
            v.assign(data.begin(), data.end());
          } else {
            v = random.text();
          }
          repeated ? reflection->AddString(message, field, v) : reflection->SetString(message, field, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_MESSAGE: {
          ReferenceMessage* sub = repeated ? reflection->AddMessage(message, field) : reflection->MutableMessage(message, field);
          fillReference(sub, random, depth + 1);
          break;
        }
        default:
          FAIL() << "unexpected field type in " << field->full_name();
      }
    }
  }
}

// A random wire message, written through the accessors as the library's
// writers do (float fields, which have no accessor, through their store function).
std::shared_ptr<NANOMessageBase> makeNano(const NANOMessageType& type, Random& random, int depth) {
  using namespace NANOFieldFlag;
  auto message = NANOMessageBase::initWithMessageInfo(type);
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const NANOFieldType& field = type.fields[i];
    auto index = static_cast<int32_t>(i);
    bool isMessage = field.flags & Message;
    if (isMessage && depth >= kMaxDepth) continue;
    if (field.flags & Repeated) {
      std::vector<NANOValue> items;
      for (int k = random.below(kMaxItems + 1); k > 0; --k) {
        if (isMessage) {
          items.emplace_back(makeNano(*field.message, random, depth + 1));
        } else if (field.flags & UInt32) {
          items.emplace_back(random.integer<uint32_t>());
        } else if (field.flags & (Int32 | Enum)) {
          items.emplace_back(random.integer<int32_t>());
        } else if (field.flags & Int64) {
          items.emplace_back(random.integer<int64_t>());
        } else if (field.flags & UInt64) {
          items.emplace_back(random.integer<uint64_t>());
        } else if (field.flags & String) {
          items.emplace_back(random.text());
        } else if (field.flags & Bytes) {
          items.emplace_back(random.data());
        } else {
          ADD_FAILURE() << "unexpected list type in " << type.className << "." << field.name;
        }
      }
      NANOSetArray(message, index, items);
      continue;
    }
    if (!random.coin()) continue;
    if (isMessage) {
      NANOSetMessage(message, index, makeNano(*field.message, random, depth + 1));
    } else if (field.flags & Bool) {
      NANOSetBool(message, index, random.coin());
    } else if (field.flags & Class32) {
      NANOSetInt32(message, index, random.integer<int32_t>());
    } else if (field.flags & Class64) {
      NANOSetInt64(message, index, random.integer<int64_t>());
    } else if (field.flags & Double) {
      NANOSetDouble(message, index, random.real());
    } else if (field.flags & Float) {
      NANOSetFloatField(&message->messageInfo()->fields[i], random.single());
    } else if (field.flags & String) {
      NANOSetString(message, index, random.text());
    } else if (field.flags & Bytes) {
      NANOSetBytes(message, index, random.data());
    }
  }
  return message;
}

const ReferenceMessage* prototypeOf(const NANOMessageType& type) {
  const Descriptor* descriptor = google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(
      std::string("tabulo.wire.") + type.name);
  if (!descriptor) return nullptr;
  return google::protobuf::MessageFactory::generated_factory()->GetPrototype(descriptor);
}

std::string asString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::vector<uint8_t> asBytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Every message, and every field of it, is the same message and field to libprotobuf.
TEST(WireReference, EveryMessageHasTheSameFieldsInLibprotobuf) {
  // Links the reference classes into the generated pool.
  ASSERT_TRUE(tabulo::wire::MeasurementBatch::descriptor());
  ASSERT_EQ(WireMessageTypes().size(), 59u);
  for (const NANOMessageType* type : WireMessageTypes()) {
    SCOPED_TRACE(type->className);
    const ReferenceMessage* prototype = prototypeOf(*type);
    ASSERT_TRUE(prototype);
    const Descriptor* descriptor = prototype->GetDescriptor();
    EXPECT_EQ(static_cast<uint32_t>(descriptor->field_count()), type->fieldCount);
    for (uint32_t i = 0; i < type->fieldCount; ++i) {
      const NANOFieldType& field = type->fields[i];
      const FieldDescriptor* reference = descriptor->FindFieldByNumber(static_cast<int>(field.tag));
      ASSERT_TRUE(reference) << field.name;
      EXPECT_EQ(reference->name(), field.name);
      EXPECT_EQ(reference->is_repeated(), (field.flags & NANOFieldFlag::Repeated) != 0) << field.name;
    }
  }
}

TEST(WireReference, LibprotobufMessagesComeBackByteForByte) {
  Random random(20261210);
  for (const NANOMessageType* type : WireMessageTypes()) {
    SCOPED_TRACE(type->className);
    const ReferenceMessage* prototype = prototypeOf(*type);
    ASSERT_TRUE(prototype);
    int nonEmpty = 0;
    for (int n = 0; n < kMessagesPerType; ++n) {
      std::unique_ptr<ReferenceMessage> reference(prototype->New());
      fillReference(reference.get(), random, 0);
      std::string wire = reference->SerializeAsString();
      nonEmpty += !wire.empty();
      auto message = NANOMessageBase::initWithBuffer(*type, asBytes(wire));
      ASSERT_TRUE(message) << reference->ShortDebugString();
      std::optional<std::vector<uint8_t>> encoded = message->protoBuffer();
      ASSERT_TRUE(encoded);
      ASSERT_EQ(asString(*encoded), wire) << reference->ShortDebugString();
    }
    EXPECT_GT(nonEmpty, kMessagesPerType / 2);
  }
}

TEST(WireReference, OurMessagesComeBackByteForByteFromLibprotobuf) {
  Random random(1700000000);
  for (const NANOMessageType* type : WireMessageTypes()) {
    SCOPED_TRACE(type->className);
    const ReferenceMessage* prototype = prototypeOf(*type);
    ASSERT_TRUE(prototype);
    int nonEmpty = 0;
    for (int n = 0; n < kMessagesPerType; ++n) {
      auto message = makeNano(*type, random, 0);
      std::optional<std::vector<uint8_t>> wire = message->protoBuffer();
      ASSERT_TRUE(wire);
      nonEmpty += !wire->empty();
      std::unique_ptr<ReferenceMessage> reference(prototype->New());
      ASSERT_TRUE(reference->ParseFromString(asString(*wire)));
      ASSERT_EQ(reference->SerializeAsString(), asString(*wire)) << reference->ShortDebugString();
      // libprotobuf read every field: nothing is left over as unknown.
      EXPECT_EQ(reference->GetReflection()->GetUnknownFields(*reference).field_count(), 0);
    }
    EXPECT_GT(nonEmpty, kMessagesPerType / 2);
  }
}

// A RuntimeEntity (programs) or EventParam (uploads) nested `levels` deep.
std::vector<uint8_t> nested(uint32_t levels, uint32_t listTag) {
  WireBytes inner;
  for (uint32_t i = 1; i < levels; ++i) inner = WireBytes().messageField(listTag, inner);
  return inner.bytes();
}

TEST(WireReference, IntendedDifferences) {
  platform::log::ScopedCapture quiet;  // the refused decodes below log their reason

  // 1. A singular text that occurs twice: the first value here, the last in libprotobuf.
  std::vector<uint8_t> twice = WireBytes().stringField(1, "first").stringField(1, "second").bytes();
  tabulo::wire::Flag referenceFlag;
  ASSERT_TRUE(referenceFlag.ParseFromString(asString(twice)));
  EXPECT_EQ(referenceFlag.name(), "second");
  EXPECT_EQ(NANOGetString(GWLPBFlag::initWithBuffer(twice), GWLPBFlag::Field::name), "first");

  // 2. Undeclared tags (12 of MeasurementConfig): dropped here, written back by libprotobuf.
  std::vector<uint8_t> unknown = WireBytes().stringField(2, "app").varintField(12, 5).bytes();
  tabulo::wire::MeasurementConfig referenceConfig;
  ASSERT_TRUE(referenceConfig.ParseFromString(asString(unknown)));
  EXPECT_EQ(referenceConfig.SerializeAsString(), asString(unknown));
  EXPECT_EQ(GWLPBMeasurementConfig::initWithBuffer(unknown)->protoBuffer(), WireBytes().stringField(2, "app").bytes());

  // 3. Depth: programs nest up to 1000 levels here, every message up to 100 in libprotobuf.
  std::vector<uint8_t> deepProgram = nested(500, 2);
  tabulo::wire::RuntimeEntity referenceEntity;
  EXPECT_FALSE(referenceEntity.ParseFromString(asString(deepProgram)));
  EXPECT_TRUE(GWLPBRuntimeEntity::initWithBuffer(deepProgram));
  std::vector<uint8_t> deepParam = nested(150, 6);
  tabulo::wire::EventParam referenceParam;
  EXPECT_FALSE(referenceParam.ParseFromString(asString(deepParam)));
  EXPECT_FALSE(GWLPBEventParam::initWithBuffer(deepParam));

  // 4. Varints wider than their field.
  std::vector<uint8_t> wideUInt32 = WireBytes().varintField(2, uint64_t{1} << 40).bytes();  // error_status
  tabulo::wire::SdkResponse referenceResponse;
  ASSERT_TRUE(referenceResponse.ParseFromString(asString(wideUInt32)));
  EXPECT_EQ(referenceResponse.error_status(), 0u);
  EXPECT_FALSE(GWLPBSdkResponse::initWithBuffer(wideUInt32));

  std::vector<uint8_t> wideBool = WireBytes().varintField(5, uint64_t{1} << 40).bytes();  // bool_value
  ASSERT_TRUE(referenceFlag.ParseFromString(asString(wideBool)));
  EXPECT_TRUE(referenceFlag.bool_value());
  EXPECT_FALSE(GWLPBFlag::initWithBuffer(wideBool));

  std::vector<uint8_t> wideItem = WireBytes().varintField(20, (uint64_t{1} << 40) | 7).bytes();  // experiment_ids
  ASSERT_TRUE(referenceConfig.ParseFromString(asString(wideItem)));
  EXPECT_EQ(referenceConfig.SerializeAsString(), asString(WireBytes().varintField(20, 7).bytes()));
  EXPECT_EQ(GWLPBMeasurementConfig::initWithBuffer(wideItem)->protoBuffer(), wideItem);
}

}  // namespace
