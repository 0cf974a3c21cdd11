#include "platform/text/RegularExpression.h"

#include <climits>
#include <string>

#include <unicode/uregex.h>

#include "platform/text/Utf8.h"

namespace platform {

namespace {

struct Closer {
  void operator()(URegularExpression* regex) const { uregex_close(regex); }
};
using Owned = std::unique_ptr<URegularExpression, Closer>;

}  // namespace

std::shared_ptr<const RegularExpression> RegularExpression::create(std::string_view pattern, uint32_t flags,
                                                                   Error* error) {
  if (!utf8::isValid(pattern) || pattern.size() > static_cast<size_t>(INT32_MAX / 2)) {
    setError(error, Error(kRegularExpressionErrorDomain, kRegularExpressionErrorPattern, "pattern is not UTF-8"));
    return nullptr;
  }
  const std::u16string source = utf8::toUtf16(pattern);
  UParseError parseError{};
  UErrorCode status = U_ZERO_ERROR;
  Owned compiled(uregex_open(reinterpret_cast<const UChar*>(source.data()), static_cast<int32_t>(source.size()),
                             flags, &parseError, &status));
  if (U_FAILURE(status) || !compiled) {
    setError(error, Error(kRegularExpressionErrorDomain, kRegularExpressionErrorPattern,
                          std::string("pattern does not compile: ") + u_errorName(status)));
    return nullptr;
  }
  return std::shared_ptr<const RegularExpression>(new RegularExpression(compiled.release()));
}

RegularExpression::~RegularExpression() { uregex_close(compiled_); }

bool RegularExpression::search(std::string_view text, Error* error) const {
  if (!utf8::isValid(text) || text.size() > static_cast<size_t>(INT32_MAX / 2)) {
    setError(error, Error(kRegularExpressionErrorDomain, kRegularExpressionErrorText, "text is not UTF-8"));
    return false;
  }
  // A matcher keeps its text and position, so each search works on a clone.
  UErrorCode status = U_ZERO_ERROR;
  Owned matcher(uregex_clone(compiled_, &status));
  if (U_FAILURE(status) || !matcher) {
    setError(error, Error(kRegularExpressionErrorDomain, kRegularExpressionErrorLimit, u_errorName(status)));
    return false;
  }
  const std::u16string subject = utf8::toUtf16(text);
  uregex_setText(matcher.get(), reinterpret_cast<const UChar*>(subject.data()), static_cast<int32_t>(subject.size()),
                 &status);
  uregex_setTimeLimit(matcher.get(), kRegularExpressionStepLimit, &status);
  uregex_setStackLimit(matcher.get(), kRegularExpressionStackLimitBytes, &status);
  const UBool found = uregex_find(matcher.get(), 0, &status);
  if (U_FAILURE(status)) {
    setError(error, Error(kRegularExpressionErrorDomain, kRegularExpressionErrorLimit,
                          std::string("search stopped: ") + u_errorName(status)));
    return false;
  }
  return found != 0;
}

}  // namespace platform
