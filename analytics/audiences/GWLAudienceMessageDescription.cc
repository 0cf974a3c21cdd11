#include "analytics/audiences/GWLAudienceMessageDescription.h"

#include <cstdio>
#include <string_view>
#include <type_traits>
#include <variant>

#include "analytics/wire/NANO.h"

namespace {

// Audience messages nest four deep (audience, filter, condition, string or
// number condition); anything deeper is not described.
constexpr int kMaxDepth = 6;

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

void appendDouble(std::string& out, double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  out += buffer;
}

void describe(std::string& out, const NANOMessageBase* message, int depth);

void appendItem(std::string& out, const NANOValue& item, int depth) {
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, bool>) {
          out += value ? "true" : "false";
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          appendDouble(out, value);
        } else if constexpr (std::is_integral_v<T>) {
          out += std::to_string(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
          appendQuoted(out, value);
        } else if constexpr (std::is_same_v<T, NANOData>) {
          out += "<" + std::to_string(value.size()) + " bytes>";
        } else {
          describe(out, value.get(), depth + 1);
        }
      },
      item);
}

void describeField(std::string& out, const NANOMessageBase* message, const NANOFieldType& field, int depth) {
  using namespace NANOFieldFlag;
  auto* object = const_cast<NANOMessageBase*>(message);
  const NANOFieldFlags flags = field.flags;
  if (flags & Repeated) {
    auto items = NANOGetArray(object, field.index, field.message);
    if (!items || items->empty()) return;
    out += field.name;
    out += ": [";
    for (size_t i = 0; i < items->size(); ++i) {
      if (i > 0) out += ", ";
      appendItem(out, (*items)[i], depth);
    }
    out += "], ";
    return;
  }
  if (!NANOHasField(object, field.index)) return;
  std::string value;
  if (flags & Bool) {
    value = NANOGetBool(object, field.index) ? "true" : "false";
  } else if (flags & Class32) {
    value = std::to_string(NANOGetInt32(object, field.index));
  } else if (flags & Class64) {
    value = std::to_string(NANOGetInt64(object, field.index));
  } else if (flags & Double) {
    appendDouble(value, NANOGetDouble(object, field.index));
  } else if (flags & String) {
    auto text = NANOGetString(object, field.index);
    if (text) appendQuoted(value, *text);
    else value = "<not UTF-8>";
  } else if (flags & Bytes) {
    auto bytes = NANOGetBytes(object, field.index);
    value = "<" + std::to_string(bytes ? bytes->size() : 0) + " bytes>";
  } else if (flags & Message) {
    auto sub = NANOGetMessage(object, field.index, field.message);
    describe(value, sub.get(), depth + 1);
  } else {
    return;  // float fields have no accessor
  }
  out += field.name;
  out += ": ";
  out += value;
  out += ", ";
}

void describe(std::string& out, const NANOMessageBase* message, int depth) {
  if (!message || !message->messageInfo()) {
    out += "(null)";
    return;
  }
  out += message->messageID();
  if (depth >= kMaxDepth) {
    out += " {...}";
    return;
  }
  out += " {";
  const NANOMessageType& type = message->messageType();
  const size_t before = out.size();
  for (uint32_t i = 0; i < type.fieldCount; ++i) describeField(out, message, type.fields[i], depth);
  if (out.size() > before) out.resize(out.size() - 2);  // the last ", "
  out += "}";
}

}  // namespace

std::string GWLAudienceMessageDescription(const NANOMessageBase* message) {
  std::string out;
  describe(out, message, 0);
  return out;
}
