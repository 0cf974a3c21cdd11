#include "analytics/foundation/config/GWLConsentNames.h"

std::string GWLConsentTypeName(int64_t type) {
  switch (type) {
    case 1: return kGWLConsentTypeAdStorage;
    case 2: return kGWLConsentTypeAnalyticsStorage;
    case 3: return kGWLConsentTypeAdUserData;
    case 4: return kGWLConsentTypeAdPersonalization;
    default: return "";
  }
}

std::string GWLConsentStatusName(int64_t status) {
  switch (status) {
    case 1: return kGWLConsentStatusGranted;
    case 2: return kGWLConsentStatusDenied;
    default: return "";
  }
}
