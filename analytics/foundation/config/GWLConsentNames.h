// Names of the consent types and consent statuses that the downloaded
// configuration and the consent settings share.
//
// The configuration numbers them (type 1 to 4, status 1 and 2); the consent
// settings and everything that stores them use the names.
#pragma once

#include <cstdint>
#include <string>

// The consent types, in their fixed order.
inline constexpr const char* kGWLConsentTypeAdStorage = "ad_storage";
inline constexpr const char* kGWLConsentTypeAnalyticsStorage = "analytics_storage";
inline constexpr const char* kGWLConsentTypeAdUserData = "ad_user_data";
inline constexpr const char* kGWLConsentTypeAdPersonalization = "ad_personalization";

inline constexpr const char* kGWLConsentStatusGranted = "granted";
inline constexpr const char* kGWLConsentStatusDenied = "denied";

// 1 "ad_storage", 2 "analytics_storage", 3 "ad_user_data",
// 4 "ad_personalization"; any other number the empty string.
std::string GWLConsentTypeName(int64_t type);
// 1 "granted", 2 "denied"; any other number the empty string.
std::string GWLConsentStatusName(int64_t status);
