#include "analytics/foundation/core/GWLDictionaryQuery.h"

#include <vector>

#include "analytics/foundation/core/GWLStringAdditions.h"
#include "platform/text/PercentEncoding.h"

namespace {
std::string textOf(const platform::Object& value) {
  if (const std::string* text = value.stringValue()) return *text;
  return value.description();
}
}  // namespace

std::string gwl_queryString(const platform::Dictionary& dictionary) {
  // Keys and values are escaped for a query value, so that a "&", "=" or "+"
  // inside one cannot end or split its pair.
  const auto& allowed = platform::percent::AllowedSet::queryValue();
  std::string query;
  for (const auto& [key, value] : dictionary) {
    if (!query.empty()) query += "&";
    query += platform::percent::encode(key, allowed) + "=" + platform::percent::encode(textOf(value), allowed);
  }
  return query;
}

std::map<std::string, std::string> gwl_dictionaryWithHttpArgumentsString(const std::string& arguments) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = arguments.find('&', start);
    parts.push_back(arguments.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::map<std::string, std::string> result;
  // Visited backwards, so that the first occurrence of a key is the one kept.
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (it->empty()) continue;
    size_t equals = it->find('=');
    std::string key = equals == std::string::npos ? *it : it->substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : it->substr(equals + 1);
    result[gwl_stringByUnescapingFromURLArgument(key).value_or("")] =
        gwl_stringByUnescapingFromURLArgument(value).value_or("");
  }
  return result;
}
