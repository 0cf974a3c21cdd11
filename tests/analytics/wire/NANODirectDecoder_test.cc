// The direct decoder reads well-formed input into the same record as nanopb,
// and leaves everything else to nanopb: a message decodes, fails and reports
// exactly as it does with the nanopb decoder alone.
#include "analytics/wire/NANODirectDecoder.h"

#include <gtest/gtest.h>

#include "NANORecordComparison.h"
#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::sameRecord;
using wire_test::WireBytes;

namespace {

std::vector<uint8_t> nestedParam(int levels) {
  WireBytes inner = WireBytes().stringField(1, "p").varintField(3, 1);
  for (int level = 1; level < levels; ++level) inner = WireBytes().stringField(1, "p").messageField(6, inner);
  return inner.bytes();
}

TEST(NANODirectDecoder, DecodesAsNanopbDoesAndLeavesTheRestToIt) {
  struct Case {
    const char* what;
    const NANOMessageType* type;
    std::vector<uint8_t> bytes;
    bool direct;  // whether the direct decoder takes it
  };
  const NANOMessageType* param = &GWLPBEventParam::type();
  const NANOMessageType* config = &GWLPBMeasurementConfig::type();
  const NANOMessageType* filter = &GWLPBFilter::type();
  const NANOMessageType* flag = &GWLPBFlag::type();
  WireBytes stringFilter = WireBytes().varintField(1, 0xFFFFFFFF).stringField(2, "x").varintField(3, 1);
  std::vector<Case> cases = {
      {"nothing", config, {}, true},
      {"every scalar kind, lists, unknown tags of every wire type", config,
       WireBytes()
           .varintField(1, uint64_t{1} << 63)
           .stringField(2, "app")
           .varintField(3, static_cast<uint64_t>(int64_t{-5}))  // sign-extended to ten bytes
           .varintField(8, 1)
           .varintField(20, 7)
           .varintField(20, (uint64_t{1} << 40) | 3)  // a list item is carried whole
           .varintField(12, 5)
           .tag(13, 1).raw({1, 2, 3, 4, 5, 6, 7, 8})
           .stringField(19, "unknown")
           .tag(100, 5).raw({1, 2, 3, 4})
           .bytes(),
       true},
      {"float, double and nested lists", param,
       WireBytes()
           .stringField(1, "n")
           .tag(4, 5).raw({0x01, 0x00, 0xC0, 0x7F})  // a NaN with a payload
           .tag(5, 1).raw({1, 2, 3, 4, 5, 6, 7, 0xFF})
           .messageField(6, WireBytes().stringField(2, "a"))
           .messageField(6, WireBytes().messageField(6, WireBytes()))
           .bytes(),
       true},
      {"sub-messages, present and empty, and a repeated string", filter,
       WireBytes().messageField(1, stringFilter).messageField(2, WireBytes()).stringField(4, "a").stringField(4, "b")
           .bytes(),
       true},
      {"a bool above 1", flag, WireBytes().varintField(5, 2).bytes(), false},
      {"an int32 beyond 32 bits", config, WireBytes().varintField(3, uint64_t{1} << 40).bytes(), false},
      {"an unsigned enum beyond 32 bits", filter,
       WireBytes().messageField(1, WireBytes().varintField(1, uint64_t{1} << 32)).bytes(), false},
      {"a varint longer than its shortest form", flag, WireBytes().tag(2, 0).raw({0x81, 0x00}).bytes(), false},
      {"a key longer than its shortest form", flag, WireBytes().raw({0x90, 0x00, 0x05}).bytes(), false},
      {"packed and unpacked list items", config,
       WireBytes()
           .varintField(20, 1)
           .bytesField(20, WireBytes().varint(2).varint(uint64_t{1} << 63).varint(3).bytes())
           .varintField(20, 4)
           .bytesField(20, WireBytes().varint(5).bytes())
           .bytes(),
       true},
      {"interleaved lists", &GWLPBMeasurementBundle::type(),
       WireBytes()
           .messageField(2, WireBytes().stringField(2, "a"))
           .messageField(3, WireBytes().stringField(2, "x"))
           .varintField(45, 7)
           .messageField(2, WireBytes().messageField(1, WireBytes().stringField(1, "p")))
           .stringField(64, "r")
           .messageField(3, WireBytes())
           .bytes(),
       true},
      {"an empty packed run", config, WireBytes().bytesField(20, {}).bytes(), false},
      {"a packed run that ends inside a value", config, WireBytes().bytesField(20, {0x01, 0x80}).bytes(), false},
      {"a sub-message that occurs twice", filter,
       WireBytes().messageField(1, WireBytes().stringField(2, "a")).messageField(1, WireBytes().varintField(3, 1))
           .bytes(),
       false},
      {"a string sent as a varint", flag, WireBytes().varintField(1, 7).bytes(), false},
      {"a scalar sent as a string", flag, WireBytes().stringField(2, "7").bytes(), false},
      {"an unknown group", flag, WireBytes().tag(9, 3).tag(9, 4).bytes(), false},
      {"a truncated value", flag, WireBytes().tag(4, 1).raw({1, 2}).bytes(), false},
      {"a length past the end", param, WireBytes().tag(6, 2).varint(5).raw({0x0A}).bytes(), false},
      {"a broken list element", param, WireBytes().messageField(6, WireBytes().tag(3, 0)).bytes(), false},
      {"nesting at the cap", param, nestedParam(100), true},
      {"nesting beyond the cap", param, nestedParam(101), false},
      {"a string over the limit", flag, WireBytes().bytesField(1, std::vector<uint8_t>(NANOMaxDecodedBytes + 1)).bytes(),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const NANOMessageType& type = *c.type;
    auto direct = type.newMessageInfo();
    EXPECT_EQ(NANODecodeDirect(type, c.bytes.data(), c.bytes.size(), direct.get()), c.direct);

    auto nanopb = type.newMessageInfo();
    platform::log::ScopedCapture nanopbLog;
    bool nanopbOK = NANODecodeNanopb(type, c.bytes.data(), c.bytes.size(), nanopb.get());
    std::vector<std::string> nanopbLines = nanopbLog.sink().lines();

    platform::log::ScopedCapture messageLog;
    auto message = NANOMessageBase::initWithBuffer(type, c.bytes);
    EXPECT_EQ(message != nullptr, nanopbOK);
    EXPECT_EQ(messageLog.sink().lines(), nanopbLines);
    if (c.direct) {
      ASSERT_TRUE(nanopbOK);
      EXPECT_TRUE(sameRecord(*direct, *nanopb));
    }
    if (message) {
      EXPECT_TRUE(sameRecord(*message->messageInfo(), *nanopb));
    }
  }
}

// A record that is not fresh goes to nanopb, which keeps what it already holds.
TEST(NANODirectDecoder, OnlyFreshRecordsAreDecodedDirectly) {
  auto record = GWLPBFlag::type().newMessageInfo();
  EXPECT_TRUE(NANOIsFreshRecord(GWLPBFlag::type(), *record));
  NANOSetStringField(&record->fields[GWLPBFlag::Field::name], reinterpret_cast<const uint8_t*>("old"), 3);
  EXPECT_FALSE(NANOIsFreshRecord(GWLPBFlag::type(), *record));
  std::vector<uint8_t> wire = WireBytes().stringField(1, "new").varintField(2, 4).bytes();
  ASSERT_TRUE(GWLPBFlag::type().decode(wire.data(), wire.size(), record.get()));
  const NANOBytes* name = record->fields[GWLPBFlag::Field::name].bytes();
  ASSERT_TRUE(name);
  EXPECT_EQ(name->view(), "old");
  EXPECT_EQ(*record->fields[GWLPBFlag::Field::int_value].cell(), 4u);

  NANOResetRecord(GWLPBFlag::type(), record.get());
  EXPECT_TRUE(NANOIsFreshRecord(GWLPBFlag::type(), *record));
  auto lists = GWLPBMeasurementConfig::type().newMessageInfo();
  lists->fields[GWLPBMeasurementConfig::Field::experiment_ids].array()->count = 1;
  EXPECT_FALSE(NANOIsFreshRecord(GWLPBMeasurementConfig::type(), *lists));
  NANOResetRecord(GWLPBMeasurementConfig::type(), lists.get());
  EXPECT_TRUE(NANOIsFreshRecord(GWLPBMeasurementConfig::type(), *lists));
}

}  // namespace
