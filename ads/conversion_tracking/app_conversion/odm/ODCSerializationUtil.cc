#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"

#include <cmath>
#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/PSMMVs.h"
#include "analytics/wire/PSMOdmResponseUnencryptedMetadata.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "platform/text/Utf8.h"
#include "security/util/sha256.h"

namespace {

using ads::conversion_tracking::app_conversion::odm::OdmUnencryptedMetadata;

constexpr char kJoinSeparator = ':';

// Builds the document as the parser's own DOM builder does, and keeps the
// parser's error instead of throwing it.
class RecordingDomParser : public nlohmann::detail::json_sax_dom_parser<ODCJSONDictionary> {
 public:
  explicit RecordingDomParser(ODCJSONDictionary& root)
      : nlohmann::detail::json_sax_dom_parser<ODCJSONDictionary>(root, /*allow_exceptions_=*/false) {}

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& exception) {
    error = platform::Error(kODCJSONParserErrorDomain, exception.id, exception.what());
    return false;
  }

  std::optional<platform::Error> error;
};

// Whether every string of `value` is UTF-8 and every number finite.
bool IsWritable(const ODCJSONDictionary& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return platform::utf8::isValid(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::number_float:
      return std::isfinite(value.get<double>());
    case nlohmann::json::value_t::array:
      for (const auto& item : value) {
        if (!IsWritable(item)) return false;
      }
      return true;
    case nlohmann::json::value_t::object:
      for (const auto& [key, item] : value.items()) {
        if (!platform::utf8::isValid(key) || !IsWritable(item)) return false;
      }
      return true;
    case nlohmann::json::value_t::binary:
    case nlohmann::json::value_t::discarded:
      return false;
    default:
      return true;
  }
}

}  // namespace

std::optional<ODCJSONDictionary> ODCJSONDictionaryFromData(std::optional<std::span<const uint8_t>> data,
                                                           platform::Error* error) {
  if (!data) {
    platform::setError(error, ODCMakeError(ODCErrorCodeDataNil, kODCMessageDataNil));
    return std::nullopt;
  }
  ODCJSONDictionary root;
  RecordingDomParser parser(root);
  const bool parsed = ODCJSONDictionary::sax_parse(data->begin(), data->end(), &parser);
  if (!parsed || parser.error || root.is_discarded()) {
    platform::setError(error, parser.error.value_or(platform::Error(kODCJSONParserErrorDomain, 0,
                                                                    "The data could not be read as JSON.")));
    return std::nullopt;
  }
  if (!root.is_object()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeJSONRootNotDictionary, kODCMessageJSONRootNotDictionary));
    return std::nullopt;
  }
  return root;  // moved, not copied: a copy would recurse through the document
}

const std::string* ODCJSONStringMember(const ODCJSONDictionary& dictionary, const char* key) {
  const auto member = dictionary.find(key);
  return member != dictionary.end() && member->is_string() ? &member->get_ref<const std::string&>() : nullptr;
}

std::optional<std::vector<uint8_t>> ODCJSONDataFromDictionary(const std::optional<ODCJSONDictionary>& dictionary) {
  if (!dictionary || !dictionary->is_object() || !IsWritable(*dictionary)) return std::nullopt;
  const std::string text = dictionary->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string ODCMVsFromProcessedResponse(const std::vector<std::string>& values) {
  auto message = PSMMVs::initWithMessageInfo();
  if (!values.empty()) {
    std::vector<NANOValue> items;
    items.reserve(values.size());
    for (const std::string& value : values) items.emplace_back(NANOData(value.begin(), value.end()));
    NANOSetArray(message, PSMMVs::Field::odm2_values, items);
  }
  std::optional<std::vector<uint8_t>> encoded = message->protoBuffer();
  if (!encoded) return {};
  return std::string(encoded->begin(), encoded->end());
}

absl::StatusOr<OdmUnencryptedMetadata> ODCDeserializeUnencryptedMetadata(const std::string& bytes) {
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  auto message = PSMOdmResponseUnencryptedMetadata::initWithBuffer(data);
  if (!message) return ::blinders::InternalError(kODCDeserializeUnencryptedMetadataFailedMessage);
  using Field = PSMOdmResponseUnencryptedMetadata::Field;
  OdmUnencryptedMetadata metadata;
  metadata.order_key = NANOGetInt64(message, Field::ranking_value);
  metadata.kind = NANOGetInt32(message, Field::ranking_kind);
  metadata.preferred = NANOGetInt32(message, Field::ranking_flag);
  return metadata;
}

std::string ODCHashJoinedStrings(std::string_view a, std::string_view b, std::string_view c) {
  std::string joined;
  joined.reserve(a.size() + b.size() + c.size() + 2);
  joined.append(a).push_back(kJoinSeparator);
  joined.append(b).push_back(kJoinSeparator);
  joined.append(c);
  security::SHA256 hash;
  hash.Update(joined.data(), joined.size());
  return hash.Digest();
}
