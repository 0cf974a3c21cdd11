// The message template: descriptor kinds, the records it makes, and the
// two-pass decoding and tag-ordered encoding it runs from the tables.
#include <gtest/gtest.h>
#include <pb.h>
#include <pb_common.h>
#include <pb_decode.h>

#include <map>
#include <set>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

struct Kind {
  uint32_t tag;
  uint8_t type;       // nanopb's type byte
  uint32_t dataSize;
  int32_t sizeOffset;  // has flag relative to the member; 0 for callbacks
  uint32_t gapBefore;  // distance from the end of the previous member
  const NANOMessageType* sub;
};

std::vector<Kind> kinds(const NANOMessageType& type) {
  std::vector<uint8_t> scratch(type.structSize + 16, 0);
  pb_field_iter_t iter;
  std::vector<Kind> result;
  if (!pb_field_iter_begin(&iter, type.descriptor, scratch.data())) return result;
  const auto* base = static_cast<const uint8_t*>(iter.message);
  size_t previousEnd = 0;
  do {
    const auto* data = static_cast<const uint8_t*>(iter.pData);
    const auto* size = static_cast<const uint8_t*>(iter.pSize);
    size_t offset = static_cast<size_t>(data - base);
    const NANOMessageType* sub = nullptr;
    for (const NANOMessageType* candidate : WireMessageTypes()) {
      if (iter.submsg_desc && candidate->descriptor == iter.submsg_desc) sub = candidate;
    }
    // No field is a fixed-size array (nanopb 0.4 counts a plain field as one element).
    EXPECT_EQ(iter.array_size, 1) << type.name << " " << iter.tag;
    result.push_back({iter.tag, static_cast<uint8_t>(iter.type), iter.data_size,
                      size ? static_cast<int32_t>(size - data) : 0,
                      static_cast<uint32_t>(offset - previousEnd), sub});
    previousEnd = offset + iter.data_size;
  } while (pb_field_iter_next(&iter));
  return result;
}

TEST(NANOMessageType, AdCampaignInfoAndFilterHaveTheTemplatesDescriptorKinds) {
  const NANOMessageType& campaign = GWLPBAdCampaignInfo::type();
  EXPECT_STREQ(campaign.name, "AdCampaignInfo");
  EXPECT_EQ(std::vector<NANOFieldFlags>(campaign.flags, campaign.flags + campaign.fieldCount),
            (std::vector<NANOFieldFlags>{0x2002, 0x2002, 0x2002, 0x202, 0x2002, 0x2002, 0x2002, 0x202, 0x4008,
                                         0x4008}));
  auto c = kinds(campaign);
  ASSERT_EQ(c.size(), 10u);
  for (int i : {0, 1, 2, 4, 5, 6}) {
    EXPECT_EQ(c[i].type, 0x57);
    EXPECT_EQ(c[i].dataSize, 16u);
    EXPECT_EQ(c[i].sizeOffset, 0);
  }
  for (int i : {3, 7}) {
    EXPECT_EQ(c[i].type, 0x11);
    EXPECT_EQ(c[i].dataSize, 8u);
    EXPECT_EQ(c[i].sizeOffset, -8);
    EXPECT_EQ(c[i].gapBefore, 8u);  // the has flag and its padding
  }
  EXPECT_EQ(c[8].type, 0x68);
  EXPECT_EQ(c[8].sub, &GWLPBDeepLinkVrtParamsEntry::type());
  EXPECT_EQ(c[9].type, 0x68);
  EXPECT_EQ(c[9].sub, &GWLPBMarketReferrerVrtParamsEntry::type());

  const NANOMessageType& filter = GWLPBFilter::type();
  EXPECT_STREQ(filter.name, "Filter");
  EXPECT_EQ(std::vector<NANOFieldFlags>(filter.flags, filter.flags + filter.fieldCount),
            (std::vector<NANOFieldFlags>{0x4002, 0x4002, 0x22, 0x2002}));
  auto f = kinds(filter);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].type, 0x18);
  EXPECT_EQ(f[0].dataSize, 48u);
  EXPECT_EQ(f[0].sub, &GWLPBStringFilter::type());
  EXPECT_EQ(f[1].type, 0x18);
  EXPECT_EQ(f[1].dataSize, 64u);
  EXPECT_EQ(f[1].sub, &GWLPBNumberFilter::type());
  EXPECT_EQ(f[2].type, 0x10);
  EXPECT_EQ(f[3].type, 0x57);
}

// Every field of every message: the descriptor kind follows from its flags word.
TEST(NANOMessageType, EveryFieldHasTheKindOfItsFlags) {
  using namespace NANOFieldFlag;
  size_t fields = 0, twoPass = 0;
  std::set<std::string> names;
  for (const NANOMessageType* type : WireMessageTypes()) {
    SCOPED_TRACE(type->className);
    EXPECT_TRUE(names.insert(type->name).second);
    twoPass += type->hasArrays;
    auto byTag = kinds(*type);
    ASSERT_EQ(byTag.size(), type->fieldCount);
    std::map<uint32_t, Kind> kindOfTag;
    for (const Kind& kind : byTag) kindOfTag[kind.tag] = kind;
    for (uint32_t i = 0; i < type->fieldCount; ++i) {
      const NANOFieldType& field = type->fields[i];
      ++fields;
      ASSERT_EQ(field.index, static_cast<int32_t>(i));
      ASSERT_EQ(field.flags, type->flags[i]);
      ASSERT_TRUE(kindOfTag.count(field.tag)) << field.name;
      const Kind& kind = kindOfTag[field.tag];
      NANOFieldFlags value = field.flags & TypeMask;
      std::set<uint8_t> expected;
      if (field.flags & Repeated) {
        if (value == String) expected = {0x67};
        else if (value == Bytes) expected = {0x66};
        else if (value == Message) expected = {0x68};
        else if (value == Int64 || value == Int32) expected = {0x61};
        else if (value == UInt64 || value == UInt32) expected = {0x62};
        else if (value == Enum) expected = {0x61, 0x62};
      } else if (value == Bool) {
        expected = {0x10};
      } else if (value == Enum || value == Int32 || value == Int64) {
        expected = value == Enum ? std::set<uint8_t>{0x11, 0x12} : std::set<uint8_t>{0x11};
        EXPECT_EQ(kind.dataSize, value == Int64 ? 8u : 4u) << field.name;
      } else if (value == UInt32 || value == UInt64) {
        expected = {0x12};
      } else if (value == Float) {
        expected = {0x14};
      } else if (value == Double) {
        expected = {0x15};
      } else if (value == String) {
        expected = {0x57};
      } else if (value == Bytes) {
        expected = {0x56};
      } else if (value == Message) {
        expected = {0x18};
        EXPECT_EQ(kind.dataSize, field.message->structSize) << field.name;
      }
      EXPECT_TRUE(expected.count(kind.type)) << field.name << " has type byte " << int(kind.type);
      if (value == Message) {
        EXPECT_EQ(kind.sub, field.message) << field.name;
      }
    }
  }
  EXPECT_EQ(WireMessageTypes().size(), 59u);
  EXPECT_EQ(fields, 283u);
  EXPECT_EQ(twoPass, 32u);
}

TEST(NANOMessageType, RecordsStartWithEmptySlotsAndEmptyLists) {
  auto campaign = GWLPBAdCampaignInfo::type().newMessageInfo();
  ASSERT_TRUE(campaign);
  ASSERT_EQ(campaign->fields.size(), 10u);
  EXPECT_STREQ(campaign->name, "AdCampaignInfo");
  for (size_t i = 0; i < 10; ++i) {
    bool list = i == 8 || i == 9;
    EXPECT_EQ(campaign->fields[i].array() != nullptr, list) << i;
    EXPECT_EQ(campaign->fields[i].empty(), !list) << i;
  }
  // A record of another message is not taken.
  auto filter = GWLPBFilter::type().newMessageInfo();
  EXPECT_FALSE(GWLPBAdCampaignInfo::initWithMessageInfo(filter.get()));
  NANOMessageInfo* destination = nullptr;
  EXPECT_FALSE(GWLPBAdCampaignInfoCopyMessageInfo(&destination, filter.get()));
  EXPECT_FALSE(destination);

  platform::log::ScopedCapture capture;
  EXPECT_FALSE(GWLPBAdCampaignInfoDeallocMessageField(campaign.get(), 10));
  EXPECT_EQ(capture.sink().lines(),
            std::vector<std::string>{"<ERROR> AdCampaignInfo: Cannot deallocate field 10: Unknown field"});
  EXPECT_EQ(campaign->fields.size(), 10u);
}

WireBytes deepLinkEntry(const std::string& key, const std::string& value) {
  return WireBytes().stringField(1, key).stringField(2, value);
}

TEST(NANOMessageType, ListsAreCountedThenFilledInWireOrder) {
  std::vector<uint8_t> wire = WireBytes()
                                  .stringField(1, "click")
                                  .varintField(4, 1700000000000)
                                  .messageField(9, deepLinkEntry("vrt_a", "1"))
                                  .messageField(9, deepLinkEntry("vrt_b", "2"))
                                  .messageField(9, deepLinkEntry("vrt_c", ""))
                                  .bytes();
  auto campaign = GWLPBAdCampaignInfo::initWithBuffer(wire);
  ASSERT_TRUE(campaign);
  const NANOArray* entries = campaign->messageInfo()->fields[8].array();
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->count, 3u);
  ASSERT_EQ(entries->itemSpan().size(), 3u);
  for (const NANOSlot& item : entries->itemSpan()) EXPECT_TRUE(item.message());
  auto items = NANOGetMessageArray<GWLPBDeepLinkVrtParamsEntry>(campaign, GWLPBAdCampaignInfo::Field::deep_link_vrt_params);
  ASSERT_EQ(items->size(), 3u);
  EXPECT_EQ(NANOGetString((*items)[0], 0), "vrt_a");
  EXPECT_EQ(NANOGetString((*items)[2], 0), "vrt_c");
  EXPECT_EQ(NANOGetString((*items)[2], 1), "");  // present and empty
  EXPECT_EQ(campaign->protoBuffer(), wire);
}

TEST(NANOMessageType, SubMessagesAreAbsentOrPresentAsOnTheWire) {
  using F = GWLPBFilter::Field;
  auto absent = GWLPBFilter::initWithBuffer(WireBytes().varintField(3, 1).bytes());
  ASSERT_TRUE(absent);
  EXPECT_FALSE(NANOHasField(absent, F::number_filter));
  EXPECT_FALSE(NANOHasField(absent, F::string_filter));
  EXPECT_TRUE(NANOGetBool(absent, F::complement));

  std::vector<uint8_t> wire = WireBytes()
                                  .messageField(1, WireBytes().stringField(4, "a").stringField(4, "b"))
                                  .messageField(2, WireBytes())
                                  .bytes();
  auto present = GWLPBFilter::initWithBuffer(wire);
  ASSERT_TRUE(present);
  EXPECT_TRUE(NANOHasField(present, F::number_filter));
  auto number = NANOGetMessage<GWLPBNumberFilter>(present, F::number_filter);
  ASSERT_TRUE(number);
  EXPECT_FALSE(NANOHasField(number, GWLPBNumberFilter::Field::comparison_type));
  auto strings = NANOGetMessage<GWLPBStringFilter>(present, F::string_filter);
  EXPECT_EQ(NANOGetArray(strings, GWLPBStringFilter::Field::expression_list),
            (std::vector<NANOValue>{std::string("a"), std::string("b")}));
  EXPECT_EQ(present->protoBuffer(), wire);
}

TEST(NANOMessageType, EmptyOrMissingDataIsAnEmptyMessage) {
  for (const NANOMessageType* type : WireMessageTypes()) {
    SCOPED_TRACE(type->className);
    auto none = NANOMessageBase::initWithBuffer(*type);
    auto empty = NANOMessageBase::initWithBuffer(*type, std::span<const uint8_t>());
    ASSERT_TRUE(none);
    ASSERT_TRUE(empty);
    EXPECT_EQ(none->protoBuffer(), std::vector<uint8_t>{});
    for (uint32_t i = 0; i < type->fieldCount; ++i) {
      EXPECT_EQ(NANOHasField(empty, static_cast<int32_t>(i)), (type->flags[i] & NANOFieldFlag::Repeated) != 0);
    }
  }
}

TEST(NANOMessageType, RefusedBytesGiveNoMessageAndSayWhy) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* text;
  };
  std::vector<Case> cases = {
      {"truncated varint", WireBytes().tag(4, 0).raw({0x80, 0x80}).bytes(),
       "<ERROR> AdCampaignInfo decoder failed: end-of-stream"},
      {"wrong wire type for a tag", WireBytes().tag(4, 2).varint(1).raw({7}).bytes(),
       "<ERROR> AdCampaignInfo decoder failed: wrong wire type"},
      {"length past the end", WireBytes().tag(1, 2).varint(9).raw({'a'}).bytes(),
       "<ERROR> AdCampaignInfo decoder failed: parent stream too short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::log::ScopedCapture capture;
    EXPECT_FALSE(GWLPBAdCampaignInfo::initWithBuffer(c.bytes));
    EXPECT_TRUE(capture.sink().contains(c.text)) << testing::PrintToString(capture.sink().lines());
  }
}

TEST(NANOMessageType, UndeclaredTagsAreDropped) {
  // MeasurementConfig declares neither 12, 13 nor 19.
  std::vector<uint8_t> declared = WireBytes().varintField(1, 42).stringField(2, "app").bytes();
  std::vector<uint8_t> wire = WireBytes()
                                  .varintField(1, 42)
                                  .stringField(2, "app")
                                  .varintField(12, 5)
                                  .stringField(13, "dropped")
                                  .messageField(19, WireBytes().varintField(1, 1))
                                  .tag(100, 5)
                                  .raw({1, 2, 3, 4})
                                  .bytes();
  auto config = GWLPBMeasurementConfig::initWithBuffer(wire);
  ASSERT_TRUE(config);
  EXPECT_EQ(NANOGetInt64(config, GWLPBMeasurementConfig::Field::version), 42);
  EXPECT_EQ(config->protoBuffer(), declared);
}

TEST(NANOMessageType, RepeatedValuesKeepTheFirstStringAndReadPackedLists) {
  // A singular string that occurs twice keeps its first value, in one-pass and two-pass messages.
  auto flag = GWLPBFlag::initWithBuffer(WireBytes().stringField(1, "first").stringField(1, "second").bytes());
  EXPECT_EQ(NANOGetString(flag, GWLPBFlag::Field::name), "first");
  auto config = GWLPBMeasurementConfig::initWithBuffer(WireBytes().stringField(2, "a").stringField(2, "b").bytes());
  EXPECT_EQ(NANOGetString(config, GWLPBMeasurementConfig::Field::app_id), "a");

  // A packed list reads as the same items and is written back unpacked.
  WireBytes packed;
  WireBytes run;
  run.varint(1).varint(300).varint(uint64_t{1} << 40);
  packed.bytesField(2, run.bytes());
  auto sequence = GWLPBSequenceFilterResultTimestamp::initWithBuffer(packed.bytes());
  ASSERT_TRUE(sequence);
  auto times = NANOGetArray(sequence, GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps);
  EXPECT_EQ(times, (std::vector<NANOValue>{int64_t{1}, int64_t{300}, int64_t{1} << 40}));
  EXPECT_EQ(sequence->protoBuffer(),
            WireBytes().varintField(2, 1).varintField(2, 300).varintField(2, uint64_t{1} << 40).bytes());
}

TEST(NANOMessageType, DecodedStringsAreLimitedToOneMebibyte) {
  std::vector<uint8_t> largest(NANOMaxDecodedBytes, 'a');
  auto flag = GWLPBFlag::initWithBuffer(WireBytes().bytesField(1, largest).bytes());
  ASSERT_TRUE(flag);
  EXPECT_EQ(NANOGetString(flag, GWLPBFlag::Field::name)->size(), NANOMaxDecodedBytes);

  largest.push_back('a');
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(GWLPBFlag::initWithBuffer(WireBytes().bytesField(1, largest).bytes()));
  EXPECT_TRUE(capture.sink().contains("Unable to process proto stream. Buffer is too big. 1048577 > 1048576"));
}

TEST(NANOMessageType, FieldsGoOutInTagOrder) {
  using B = GWLPBMeasurementBundle::Field;
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  NANOSetInt64(bundle, B::previous_bundle_end_timestamp, 7);    // index 7, tag 7
  NANOSetInt64(bundle, B::previous_bundle_start_timestamp, 26);  // index 6, tag 26
  NANOSetInt64(bundle, B::end_timestamp, 6);                     // index 5, tag 6
  std::vector<uint8_t> wire = WireBytes().varintField(6, 6).varintField(7, 7).varintField(26, 26).bytes();
  EXPECT_EQ(bundle->protoBuffer(), wire);
  auto decoded = GWLPBMeasurementBundle::initWithBuffer(wire);
  EXPECT_EQ(NANOGetInt64(decoded, B::previous_bundle_start_timestamp), 26);

  // Tags 20 and 27 land at indexes 21 and 20.
  auto device = GWLPBMeasurementBundle::initWithBuffer(WireBytes().varintField(20, 1).stringField(27, "v").bytes());
  EXPECT_TRUE(NANOGetBool(device, B::limited_ad_tracking));
  EXPECT_EQ(NANOGetString(device, B::vendor_device_id), "v");
}

// The second pass never writes past the items the first pass counted.
TEST(NANOMessageType, SecondPassStaysWithinTheCountedItems) {
  NANOArray header;
  header.count = 1;
  header.capacity = 1;
  header.items = NANONewItems(1, nullptr);
  header.allocated = true;
  std::vector<uint8_t> values = WireBytes().varint(5).varint(6).bytes();
  pb_istream_t stream = pb_istream_from_buffer(values.data(), values.size());
  void* arg = &header;
  platform::log::ScopedCapture capture;
  EXPECT_TRUE(NANODecodeRepeatedVarint(&stream, nullptr, &arg));
  EXPECT_FALSE(NANODecodeRepeatedVarint(&stream, nullptr, &arg));
  EXPECT_EQ(header.filled, 1u);
  EXPECT_EQ(*header.items[0].cell(), 5u);
  EXPECT_TRUE(capture.sink().contains("more items than the 1 counted"));

  std::vector<uint8_t> text = {'x'};
  pb_istream_t strings = pb_istream_from_buffer(text.data(), text.size());
  EXPECT_FALSE(NANODecodeRepeatedString(&strings, nullptr, &arg));
  NANOEmptyArray(&header);
}

}  // namespace

namespace {
// A 32-bit list item that arrives as a wider varint is carried whole, so the
// message, its copy and its encoding agree.
TEST(NANOMessageType, CopiesEncodeExactlyAsTheirOriginal) {
  std::vector<uint8_t> wire = WireBytes().varintField(20, (uint64_t{1} << 40) | 7).bytes();
  auto config = GWLPBMeasurementConfig::initWithBuffer(wire);
  ASSERT_TRUE(config);
  EXPECT_EQ(NANOGetArray(config, GWLPBMeasurementConfig::Field::experiment_ids),
            std::vector<NANOValue>{uint32_t{7}});
  EXPECT_EQ(config->protoBuffer(), wire);
  EXPECT_EQ(GWLPBMeasurementConfig::initWithMessageInfo(config->messageInfo())->protoBuffer(), wire);
}
}  // namespace
