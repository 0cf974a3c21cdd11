// String conditions of audience filters (GWLPBStringFilter): whether a
// condition is well formed, and whether a text meets it.
//
// Match types: 1 the regular expression is found anywhere in the text, 2
// begins with, 3 ends with, 4 contains, 5 equals the expression, 6 equals a
// member of expression_list; 0 is invalid and any other type never matches.
// Without the case-sensitive flag (absent or NO), type 1 compiles with the
// case-insensitive option and types 2 to 6 compare the simple case folds of
// the two texts character by character; a simple fold keeps a character's
// UTF-16 length, so positions and lengths are those of the original texts.
// An empty expression begins, ends and is contained in every text, and
// equals only the empty text.
//
// Answers: YES, NO, or nullopt for no result (the filter could not be
// evaluated; a line of the filters' log table says why).
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "platform/text/BoundedRegex.h"

class GWLPBStringFilter;

// String match types (GWLPBStringFilter match_type).
enum GWLAudienceStringMatchType : int32_t {
  kGWLAudienceStringMatchUnknown = 0,
  kGWLAudienceStringMatchRegex = 1,
  kGWLAudienceStringMatchBeginsWith = 2,
  kGWLAudienceStringMatchEndsWith = 3,
  kGWLAudienceStringMatchContains = 4,
  kGWLAudienceStringMatchExact = 5,
  kGWLAudienceStringMatchInList = 6,
};

// Whether the condition is well formed: a match type (9000) other than 0
// (9001); for type 6 a non-empty list (9003), for the others an expression
// (9002); for type 1 an expression that compiles within the regular
// expression limits (9004, with the error). The compiled expression of a
// valid type-1 condition goes to `compiled` when given.
bool GWLAudienceValidateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                     std::optional<platform::BoundedRegex>* compiled,
                                     const GWLAudienceFilterEnvironment& environment);
bool GWLAudienceValidateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                     std::optional<platform::BoundedRegex>* compiled = nullptr);

bool GWLAudienceIsValidStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                    const GWLAudienceFilterEnvironment& environment);
bool GWLAudienceIsValidStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter);

// Whether `text` meets the condition. No result for a missing text (9005), an
// invalid condition (9006), or a type-1 match that reached the expression's
// limits (9009).
std::optional<bool> GWLAudienceEvaluateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                                    std::optional<std::string_view> text,
                                                    const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                                    std::optional<std::string_view> text);
