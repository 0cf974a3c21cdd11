// GWLAudienceMessageDescription — the text form of an audience or filter
// message for log contexts: its message name and every present field by name,
// sub-messages nested, for example
//
//   Filter {string_filter: StringFilter {match_type: 1, expression: "a+"}, complement: true}
//
// Lists show their items; bytes show their count. Nesting deeper than a few
// levels is cut short with "...". A null message reads "(null)".
#pragma once

#include <string>

class NANOMessageBase;

std::string GWLAudienceMessageDescription(const NANOMessageBase* message);
