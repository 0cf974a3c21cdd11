// Decodes outside bytes as any of the wire messages. The first byte picks the
// message; the rest is its encoding. Nothing may crash, and whatever decodes
// must encode, decode again and encode to the same bytes, also through a copy.
// Every field of what decoded is then read back through the accessors, the way
// the library's readers do, down a few levels of sub-messages and lists.
// Whatever the direct decoder takes, nanopb's decoder takes too, into an equal
// record, and a message decodes exactly when nanopb's decoder succeeds.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "analytics/wire/GWLPBFlag.h"
#include "analytics/wire/GWLPBFlagFunctions.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/NANODirectDecoder.h"
#include "analytics/wire/WireMessages.h"
#include "fuzz/QuietLog.h"
#include "tests/analytics/wire/NANORecordComparison.h"

namespace {

using wire_test::sameRecord;

// How many levels of sub-messages the walk reads: each level hands out deep
// copies, so a deeply nested input would otherwise cost depth squared.
constexpr int kWalkDepth = 6;

void walk(const NANOMessageBase& message, int depth) {
  const NANOMessageType& type = message.messageType();
  NANOMessageRef ref(const_cast<NANOMessageBase*>(&message));
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const NANOFieldType& field = type.fields[i];
    auto index = static_cast<int32_t>(i);
    bool present = NANOHasField(ref, index);
    if (field.flags & NANOFieldFlag::Repeated) {
      if (!present) std::abort();  // a repeated field is never absent
      auto items = NANOGetArray(ref, index, field.message);
      if (!items) std::abort();
      if (depth >= kWalkDepth) continue;
      for (const NANOValue& item : *items) {
        if (auto* element = std::get_if<std::shared_ptr<NANOMessageBase>>(&item)) {
          if (!*element) std::abort();
          walk(**element, depth + 1);
        }
      }
    } else if (field.flags & NANOFieldFlag::Bool) {
      (void)NANOGetBool(ref, index);
    } else if (field.flags & NANOFieldFlag::Class32) {
      (void)NANOGetInt32(ref, index);
    } else if (field.flags & NANOFieldFlag::Class64) {
      (void)NANOGetInt64(ref, index);
    } else if (field.flags & NANOFieldFlag::Double) {
      (void)NANOGetDouble(ref, index);
    } else if (field.flags & NANOFieldFlag::String) {
      (void)NANOGetString(ref, index);
    } else if (field.flags & NANOFieldFlag::Bytes) {
      if (NANOGetBytes(ref, index).has_value() != present) std::abort();
    } else if (field.flags & NANOFieldFlag::Message) {
      auto sub = NANOGetMessage(ref, index, field.message);
      if ((sub != nullptr) != present) std::abort();
      if (sub && depth < kWalkDepth) walk(*sub, depth + 1);
    }
  }
  if (&type == &GWLPBFlag::type()) (void)GWLPBFlagGetValue(static_cast<const GWLPBFlag*>(&message));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoders' error lines are expected here; keep them out of the output.
  QuietPlatformLog();
  if (size == 0) return 0;
  auto types = WireMessageTypes();
  const NANOMessageType& type = *types[data[0] % types.size()];
  auto direct = type.newMessageInfo();
  auto nanopb = type.newMessageInfo();
  bool directOK = NANODecodeDirect(type, data + 1, size - 1, direct.get());
  bool nanopbOK = NANODecodeNanopb(type, data + 1, size - 1, nanopb.get());
  if (directOK && (!nanopbOK || !sameRecord(*direct, *nanopb))) std::abort();
  auto message = NANOMessageBase::initWithBuffer(type, std::span<const uint8_t>(data + 1, size - 1));
  if ((message != nullptr) != nanopbOK) std::abort();
  if (!message) return 0;
  if (!sameRecord(*message->messageInfo(), *nanopb)) std::abort();
  auto encoded = message->protoBuffer();
  if (!encoded) std::abort();
  auto again = NANOMessageBase::initWithBuffer(type, *encoded);
  if (!again || again->protoBuffer() != encoded) std::abort();
  auto copy = NANOMessageBase::initWithMessageInfo(type, message->messageInfo());
  if (!copy || copy->protoBuffer() != encoded) std::abort();
  walk(*message, 0);
  return 0;
}
