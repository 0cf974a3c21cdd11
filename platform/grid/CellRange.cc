#include "platform/grid/CellRange.h"

namespace platform {
namespace {

constexpr const char* kFromKey = "from";
constexpr const char* kToKey = "to";
constexpr const char* kRowKey = "row";
constexpr const char* kColumnKey = "column";

Object encodeLocation(const Location& location) {
  return Dictionary{{kRowKey, location.row}, {kColumnKey, location.column}};
}

std::optional<int64_t> nonNegativeInteger(const Object* value) {
  if (!value) return std::nullopt;
  std::optional<int64_t> integer = value->intValue();
  if (!integer || *integer < 0) return std::nullopt;
  return integer;
}

std::optional<Location> decodeLocation(const Object* coded) {
  if (!coded || !coded->isDictionary()) return std::nullopt;
  std::optional<int64_t> row = nonNegativeInteger(coded->find(kRowKey));
  std::optional<int64_t> column = nonNegativeInteger(coded->find(kColumnKey));
  if (!row || !column) return std::nullopt;
  return Location{*row, *column};
}

}  // namespace

Object CellRange::encode() const {
  return Dictionary{{kFromKey, encodeLocation(from_)}, {kToKey, encodeLocation(to_)}};
}

std::optional<CellRange> CellRange::decode(const Object& coded) {
  if (!coded.isDictionary()) return std::nullopt;
  std::optional<Location> from = decodeLocation(coded.find(kFromKey));
  std::optional<Location> to = decodeLocation(coded.find(kToKey));
  if (!from || !to) return std::nullopt;
  return CellRange(*from, *to);
}

}  // namespace platform
