#include "WireTestSupport.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <pb_decode.h>

#include "analytics/wire/NANOMessageType.h"

namespace wire_test {

WireBytes& WireBytes::varint(uint64_t value) {
  while (value >= 0x80) {
    bytes_.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  bytes_.push_back(static_cast<uint8_t>(value));
  return *this;
}

WireBytes& WireBytes::bytesField(uint32_t field, const std::vector<uint8_t>& bytes) {
  tag(field, 2).varint(bytes.size());
  return raw(bytes);
}

WireBytes& WireBytes::raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> readHexFixture(const std::string& name) {
  std::ifstream in(std::string(TABULO_SOURCE_DIR) + "/tests/analytics/wire/fixtures/" + name + ".hex");
  std::string hex, line;
  while (std::getline(in, line)) hex += line;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string protocDecode(const std::string& messageName, const std::vector<uint8_t>& bytes) {
  const char* tmp = std::getenv("TABULO_TEST_TMP");
  std::filesystem::path dir = tmp ? tmp : std::filesystem::temp_directory_path().string();
  std::filesystem::create_directories(dir);
  std::filesystem::path input = dir / ("protoc-" + messageName + ".bin");
  std::filesystem::path output = dir / ("protoc-" + messageName + ".txt");
  {
    std::ofstream out(input, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::filesystem::path proto(TABULO_WIRE_PROTO);
  std::string command = std::string(TABULO_PROTOC) + " -I" + proto.parent_path().string() +
                        " --decode=tabulo.wire." + messageName + " " + proto.filename().string() + " < " +
                        input.string() + " > " + output.string() + " 2>&1";
  int status = std::system(command.c_str());
  std::ifstream in(output);
  std::stringstream text;
  text << in.rdbuf();
  if (status != 0) return "protoc failed: " + text.str();
  return text.str();
}

namespace {
std::string escape(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t c : bytes) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char octal[5];
          std::snprintf(octal, sizeof octal, "\\%03o", c);
          out += octal;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

template <typename T>
std::string shortest(T value, int digits, int maxDigits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
  if (static_cast<T>(std::strtod(text, nullptr)) != value) {
    std::snprintf(text, sizeof text, "%.*g", maxDigits, static_cast<double>(value));
  }
  return text;
}

std::string scalar(const NANOFieldType& field, uint64_t cell) {
  using namespace NANOFieldFlag;
  if (field.flags & Bool) return (cell & 0xFF) ? "true" : "false";
  if (field.flags & (Int32 | Enum)) {
    // Enums are int32 or uint32 in the proto file; the table's wire type is not at hand, so
    // print enums as protoc does for both: a signed value stays as it came.
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(cell)));
  }
  if (field.flags & UInt32) return std::to_string(static_cast<uint32_t>(cell));
  if (field.flags & Int64) return std::to_string(static_cast<int64_t>(cell));
  if (field.flags & UInt64) return std::to_string(cell);
  if (field.flags & Float) return shortest(std::bit_cast<float>(static_cast<uint32_t>(cell)), FLT_DIG, 9);
  return shortest(std::bit_cast<double>(cell), DBL_DIG, 17);
}

void print(const NANOMessageInfo& info, int depth, std::string* out);

void printValue(const NANOFieldType& field, const NANOSlot& slot, int depth, std::string* out) {
  std::string indent(static_cast<size_t>(depth) * 2, ' ');
  if (const NANOMessageInfo* record = slot.message()) {
    *out += indent + field.name + " {\n";
    print(*record, depth + 1, out);
    *out += indent + "}\n";
  } else if (const NANOBytes* bytes = slot.bytes()) {
    *out += indent + field.name + ": \"" + escape(std::vector<uint8_t>(bytes->span().begin(), bytes->span().end())) + "\"\n";
  } else if (const uint64_t* cell = slot.cell()) {
    *out += indent + field.name + ": " + scalar(field, *cell) + "\n";
  }
}

void print(const NANOMessageInfo& info, int depth, std::string* out) {
  std::vector<const NANOFieldType*> byTag;
  for (uint32_t i = 0; i < info.type->fieldCount; ++i) byTag.push_back(&info.type->fields[i]);
  std::sort(byTag.begin(), byTag.end(), [](auto* a, auto* b) { return a->tag < b->tag; });
  for (const NANOFieldType* field : byTag) {
    const NANOSlot& slot = info.fields[static_cast<size_t>(field->index)];
    if (const NANOArray* header = slot.array()) {
      for (const NANOSlot& item : header->itemSpan()) printValue(*field, item, depth, out);
    } else {
      printValue(*field, slot, depth, out);
    }
  }
}
}  // namespace

std::string textFormat(const NANOMessageInfo& info) {
  std::string out;
  print(info, 0, &out);
  return out;
}

std::vector<uint8_t> encoded(const NANOMessageInfo& info) {
  std::vector<uint8_t> out;
  if (!info.type || info.type->encode(&info, &out) < 0) out.clear();
  return out;
}

std::vector<uint64_t> zeroedStruct(const NANOMessageType& type) {
  return std::vector<uint64_t>(type.structSize / sizeof(uint64_t) + 1, 0);
}

bool nanopbPass(const NANOMessageType& type, const std::vector<uint8_t>& wire, void* pbStruct) {
  pb_istream_t stream = pb_istream_from_buffer(wire.data(), wire.size());
  return pb_decode(&stream, type.descriptor, pbStruct);
}

}  // namespace wire_test
