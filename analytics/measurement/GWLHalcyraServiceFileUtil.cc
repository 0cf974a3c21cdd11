#include "analytics/measurement/GWLHalcyraServiceFileUtil.h"

#include <filesystem>
#include <system_error>

#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

std::optional<std::string> GWLHalcyraServiceFileUtil::halcyraServiceInfoPlistPath() {
  auto environment = platform::AppEnvironment::shared();
  return environment ? halcyraServiceInfoPlistPath(*environment) : std::nullopt;
}

std::optional<std::string> GWLHalcyraServiceFileUtil::halcyraServiceInfoPlistPath(
    const platform::AppEnvironment& environment) {
  if (environment.infoDictionaryPath().empty()) return std::nullopt;
  const std::filesystem::path path = std::filesystem::path(environment.infoDictionaryPath()).parent_path() /
                                     (std::string(kGWLHalcyraServiceInfoResource) + "." + kGWLHalcyraServiceInfoType);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  return path.string();
}

std::optional<platform::Dictionary> GWLHalcyraServiceFileUtil::dictionaryFromHalcyraServiceInfoPlist() {
  auto environment = platform::AppEnvironment::shared();
  return environment ? dictionaryFromHalcyraServiceInfoPlist(*environment) : std::nullopt;
}

std::optional<platform::Dictionary> GWLHalcyraServiceFileUtil::dictionaryFromHalcyraServiceInfoPlist(
    const platform::AppEnvironment& environment) {
  auto path = halcyraServiceInfoPlistPath(environment);
  if (!path) return std::nullopt;
  auto object = platform::PropertyList::readFile(*path);
  if (!object || !object->dictionaryValue()) return std::nullopt;
  return *object->dictionaryValue();
}
