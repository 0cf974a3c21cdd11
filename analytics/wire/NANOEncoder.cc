#include "analytics/wire/NANOEncoder.h"

#include "analytics/wire/NANOLog.h"

using nano_log::print;

namespace {
// The sizes of the sub-messages of the encodes on this thread, kept from one
// encode to the next.
thread_local std::vector<uint32_t> subMessageSizes;
}  // namespace

void NANOEncoder::reportTooDeep(const NANOMessageType& type) {
  print("<ERROR> %s Encoder: nested deeper than %u messages", type.name, type.maxDepth);
}

void NANOEncoder::reportMissingList(const char* message, const char* field) {
  print("<ERROR> %s Encoder: '%s' should have been allocated", message, field);
}

int32_t NANOMessageType::encode(const NANOMessageInfo* info, std::vector<uint8_t>* output) const {
  if (!output) return -1;
  output->clear();
  if (!info || info->type != this || !measureFieldsFn || !writeFieldsFn) return -1;
  std::vector<uint32_t>& sizes = subMessageSizes;
  sizes.clear();
  NANOEncoder encoder(sizes);
  size_t size = 0;
  bool encoded = encoder.measure(*this, *info, 1, &size) && size <= static_cast<size_t>(INT32_MAX);
  if (encoded) {
    output->resize(size + NANOEncoder::kSlack);
    encoded = encoder.write(*this, *info, output->data()) == output->data() + size;
    output->resize(encoded ? size : 0);
  }
  if (sizes.capacity() > 65536) std::vector<uint32_t>().swap(sizes);
  return encoded ? static_cast<int32_t>(size) : -1;
}
