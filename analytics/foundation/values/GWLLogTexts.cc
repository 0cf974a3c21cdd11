#include "analytics/foundation/values/GWLLogTexts.h"

#include <algorithm>
#include <strings.h>
#include <vector>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLNameTables.h"

namespace {

constexpr const char* kPublicClassName = "CVNAnalytics";
constexpr const char* kIndentUnit = "    ";

bool showsPublicNames() {
  return GWLLibraryMonitor::monitor()->isDebugModeEnabled() && GWLAEU::classExists(kPublicClassName);
}

std::string withPublicName(std::string_view name, const GWLNameMap& publicToInternal) {
  if (name.empty() || name[0] != '_' || !showsPublicNames()) return std::string(name);
  const std::string* found = nullptr;
  for (const auto& [publicName, internalName] : publicToInternal) {
    if (internalName != name) continue;
    if (!found || (found->starts_with("corvane_") && !publicName.starts_with("corvane_"))) found = &publicName;
  }
  if (!found) return std::string(name);
  return *found + " (" + std::string(name) + ")";
}

std::string errorCodeText(int64_t code) {
  const auto& names = GWLErrorCodeNameMap();
  auto found = names.find(code);
  if (found == names.end()) return std::to_string(code);
  return found->second + " (" + std::to_string(code) + ")";
}

std::string dictionaryText(const std::vector<std::pair<std::string, platform::Object>>& entries,
                           const std::string& indent);

std::string valueText(const std::string& name, const platform::Object& value) {
  if (const platform::Array* array = value.arrayValue()) {
    std::string text = "[\n";
    for (size_t i = 0; i < array->size(); ++i) {
      if (i > 0) text += ",\n";
      const platform::Object& element = (*array)[i];
      if (const platform::Dictionary* item = element.dictionaryValue()) {
        text += dictionaryText({item->begin(), item->end()}, kIndentUnit);
      } else {
        text += element.description();
      }
    }
    return text + "\n" + kIndentUnit + "]";
  }
  if (name == "_err" && value.isInt()) return errorCodeText(*value.intValue());
  if (const std::string* text = value.stringValue()) return *text;
  return value.description();
}

std::string dictionaryText(const std::vector<std::pair<std::string, platform::Object>>& entries,
                           const std::string& indent) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : entries) {
    lines.push_back(indent + kIndentUnit + GWLParameterNameForLog(name) + " = " + valueText(name, value) + ";");
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
  std::string text = indent + "{\n";
  for (const auto& line : lines) text += line + "\n";
  return text + indent + "}";
}

}  // namespace

std::string GWLEventNameForLog(std::string_view name) {
  return withPublicName(name, GWLPublicToInternalEventNameMap());
}

std::string GWLParameterNameForLog(std::string_view name) {
  return withPublicName(name, GWLPublicToInternalParameterNameMap());
}

std::string GWLUserPropertyNameForLog(std::string_view name) {
  if (name.starts_with("_exp_")) return "experiment_id (" + std::string(name) + ")";
  return withPublicName(name, GWLPublicToInternalUserPropertyNameMap());
}

std::string GWLDescriptionForLog(const GWLParameters& parameters) {
  if (!GWLLibraryMonitor::monitor()->isDebugModeEnabled()) {
    return platform::Object(GWLDictionaryFromParameters(parameters)).description();
  }
  std::vector<std::pair<std::string, platform::Object>> entries;
  for (const auto& [name, value] : parameters) entries.emplace_back(name, value.objectValue());
  return dictionaryText(entries, "");
}

std::string GWLDescriptionForLog(const platform::Object& object) {
  const platform::Dictionary* dictionary = object.dictionaryValue();
  if (!dictionary || !GWLLibraryMonitor::monitor()->isDebugModeEnabled()) return object.description();
  return dictionaryText({dictionary->begin(), dictionary->end()}, "");
}
