// E-mail addresses and phone numbers come from the app's callers: any text
// normalises or is refused, never a crash or a hang, and a normalised value
// is its own normal form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto email = ODCNormalizeEmailAddress(text)) {
    if (email->empty() || ODCNormalizeEmailAddress(*email) != email) std::abort();
  }
  if (auto phone = ODCNormalizePhoneNumber(text)) {
    if (phone->size() < 3 || (*phone)[0] != '+' || ODCNormalizePhoneNumber(*phone) != phone) std::abort();
  }
  return 0;
}
