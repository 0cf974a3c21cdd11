// Helpers of the wire tests: hand-built wire bytes, fixtures, protoc's view of
// bytes, and the same view printed from a decoded record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/wire/NANOMessageInfo.h"
#include "analytics/wire/NANOMessageType.h"

namespace wire_test {

// Builds protocol-buffer bytes by hand.
class WireBytes {
 public:
  WireBytes& varint(uint64_t value);
  WireBytes& tag(uint32_t field, uint32_t wireType) { return varint((uint64_t{field} << 3) | wireType); }
  WireBytes& varintField(uint32_t field, uint64_t value) { return tag(field, 0).varint(value); }
  WireBytes& bytesField(uint32_t field, const std::vector<uint8_t>& bytes);
  WireBytes& stringField(uint32_t field, const std::string& text) {
    return bytesField(field, std::vector<uint8_t>(text.begin(), text.end()));
  }
  WireBytes& messageField(uint32_t field, const WireBytes& message) { return bytesField(field, message.bytes()); }
  WireBytes& raw(const std::vector<uint8_t>& bytes);
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> readHexFixture(const std::string& name);
// `protoc --decode` of `bytes` as the message `messageName` of the generated proto2 file.
std::string protocDecode(const std::string& messageName, const std::vector<uint8_t>& bytes);
// A record printed the way protoc prints a decoded message.
std::string textFormat(const NANOMessageInfo& info);

// The encoding of a record (empty when it does not encode).
std::vector<uint8_t> encoded(const NANOMessageInfo& info);
// A zeroed nanopb struct of `type`, in 8-byte words.
std::vector<uint64_t> zeroedStruct(const NANOMessageType& type);
// One pass of nanopb's decoder over `wire` into the struct of `type`.
bool nanopbPass(const NANOMessageType& type, const std::vector<uint8_t>& wire, void* pbStruct);

}  // namespace wire_test
