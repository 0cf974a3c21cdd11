// The tables of campaign attribution: which query keys of an opened link are
// campaign parameters and under which event parameter names they are logged,
// which keys make a link a campaign, which click identifiers need the
// advertising-identifier consent, and the host names the deep links compare
// with or talk to.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Query key of an opened link -> parameter name of the campaign event.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kGWLCampaignParameterRenaming = {{
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"vclid", "vclid"},
    {"vrt_source", "vrt_source"},
    {"hclid", "hclid"},
    {"hbraid", "hbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"srsltid", "srsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
    {"sfmc_id", "sfmc_id"},
}};

// Keys beginning with this stay under their own name, and one of them alone
// makes a link a campaign.
inline constexpr std::string_view kGWLVrtParameterPrefix = "vrt_";

// A link is a campaign when one of these has a non-empty value (or a key
// begins with kGWLVrtParameterPrefix).
inline constexpr std::array<std::string_view, 9> kGWLRequiredCampaignKeys = {
    "utm_campaign", "hclid", "utm_medium", "utm_source", "hbraid", "utm_id", "vclid", "srsltid", "sfmc_id",
};

// Click identifiers kept only while the advertising identifier may be used
// ("hbraid" needs no such consent).
inline constexpr std::array<std::string_view, 3> kGWLClickIDsNeedingAdIdentifierConsent = {"hclid", "vclid", "srsltid"};

// The event parameter name of a campaign query key: the renaming table's,
// the key itself for a "vrt_" key, none for every other key.
std::optional<std::string> GWLCampaignEventParameterName(std::string_view queryKey);

// The search site of the library's maker, with or without "www." and with a
// country domain ("halcyra.com", "www.halcyra.co.uk", "halcyra.de"): a
// referrer on it marks the campaign's origin "hs". Matched against the whole
// host, ignoring case.
inline constexpr const char* kGWLSearchEngineHostPattern = R"(^(www\.)?halcyra(\.com|(\.com?)?\.[a-z]{2})$)";

// Whether `host` is on the maker's search site.
bool GWLIsSearchEngineHost(std::string_view host);
