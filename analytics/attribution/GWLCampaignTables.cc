#include "analytics/attribution/GWLCampaignTables.h"

#include "platform/text/BoundedRegex.h"
#include "platform/text/Utf8.h"

namespace {

// A host is at most 253 bytes and the pattern has no nested repetition: these
// bounds are far above what a match needs.
constexpr platform::RegexLimits kHostPatternLimits{256, 100, 64 * 1024};

}  // namespace

std::optional<std::string> GWLCampaignEventParameterName(std::string_view queryKey) {
  for (const auto& [key, name] : kGWLCampaignParameterRenaming) {
    if (key == queryKey) return std::string(name);
  }
  if (queryKey.substr(0, kGWLVrtParameterPrefix.size()) == kGWLVrtParameterPrefix) return std::string(queryKey);
  return std::nullopt;
}

bool GWLIsSearchEngineHost(std::string_view host) {
  if (host.empty()) return false;
  // Compiled per call: one per opened link with a referrer, and a compiled
  // pattern may be used by one thread at a time.
  auto regex = platform::BoundedRegex::compile(std::string_view(kGWLSearchEngineHostPattern),
                                               {.caseInsensitive = true}, kHostPatternLimits);
  if (!regex) return false;
  auto match = regex->firstMatch(platform::utf8::toUtf16(host));
  return match && match->found;
}
