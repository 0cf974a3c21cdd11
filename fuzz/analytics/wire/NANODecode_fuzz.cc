// Decodes outside bytes as any wire message. The first byte picks the message;
// the rest is its encoding. Nothing may crash, and whatever decodes must
// encode, decode again and encode to the same bytes, also through a copy.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoders' error lines are expected here; keep them out of the output.
  static const bool quiet = [] {
    struct Discard : platform::LogSink {
      void write(const platform::LogRecord&) override {}
    };
    platform::log::setSink(std::make_shared<Discard>());
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  auto types = WireMessageTypes();
  const NANOMessageType& type = *types[data[0] % types.size()];
  auto message = NANOMessageBase::initWithBuffer(type, std::span<const uint8_t>(data + 1, size - 1));
  if (!message) return 0;
  auto encoded = message->protoBuffer();
  if (!encoded) std::abort();
  auto again = NANOMessageBase::initWithBuffer(type, *encoded);
  if (!again || again->protoBuffer() != encoded) std::abort();
  auto copy = NANOMessageBase::initWithMessageInfo(type, message->messageInfo());
  if (!copy || copy->protoBuffer() != encoded) std::abort();
  return 0;
}
