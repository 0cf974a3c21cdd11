#include "platform/text/UnicodeText.h"

#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "platform/text/Utf8.h"

namespace platform::unicode {

namespace {

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

std::optional<std::string> caseMapped(std::string_view text, CaseMapping map) {
  if (!utf8::isValid(text)) return std::nullopt;
  if (text.empty()) return std::string();
  const std::u16string source = utf8::toUtf16(text);
  if (source.size() > static_cast<size_t>(INT32_MAX / 4)) return std::nullopt;
  // Full case mapping grows a string by at most a factor of three (U+0130
  // lower-cases to two units, U+0390 upper-cases to three); one retry covers
  // any miscount.
  std::u16string mapped(source.size() * 3 + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = map(reinterpret_cast<UChar*>(mapped.data()), static_cast<int32_t>(mapped.size()),
                               reinterpret_cast<const UChar*>(source.data()), static_cast<int32_t>(source.size()), "",
                               &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
      mapped.assign(static_cast<size_t>(length) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::nullopt;
    mapped.resize(static_cast<size_t>(length));
    return utf8::fromUtf16(mapped);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> lowercased(std::string_view text) { return caseMapped(text, u_strToLower); }

std::optional<std::string> uppercased(std::string_view text) { return caseMapped(text, u_strToUpper); }

bool isWhitespace(char32_t codePoint) {
  if (codePoint == U'\t') return true;
  return u_charType(static_cast<UChar32>(codePoint)) == U_SPACE_SEPARATOR;
}

}  // namespace platform::unicode
