// The monitor lines of the audience filters: level, code and message of each.
// An evaluator that logs one of the "will not be evaluated" lines answers no
// result; a validator that logs answers NO. Contexts are given where the line
// is logged.
#pragma once

#include <cstdint>

struct GWLAudienceLogLine {
  int64_t level;
  int64_t code;
  const char* message;
};

// Value against a condition.
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoCondition{
    1, 7000, "Filter has neither a number nor string filter. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogStringNotNumeric{
    3, 7001, "String value is not a numeric value. Audience filter will not be evaluated. Value, filter"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNotWithinDoubleRange{
    3, 7002, "Value is not within double range. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogValueNotString{
    3, 7003, "Value is not a string. Audience filter will not be evaluated"};

// Event filters.
inline constexpr GWLAudienceLogLine kGWLAudienceLogEventFilterNil{
    1, 7004, "Event filter is nil. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogEventNameNil{
    1, 7005, "Event name is nil. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogEventNameMismatch{
    1, 7006, "Event filter name does not match event name. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogAggregatesNameMismatch{
    1, 7007, "Event aggregates name does not match event name. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoParameterName{
    1, 7008, "Event filter does not have parameter name. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogMissingParameter{
    3, 7009, "Event does not have parameter required by filter. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogStringParameterWithoutStringFilter{
    3, 7010,
    "Event param is a string and the filter does not have a string filter. Audience filter will not be evaluated. "
    "Event name, event params, filter"};

// Property filters.
inline constexpr GWLAudienceLogLine kGWLAudienceLogPropertyFilterNil{
    1, 7011, "Property filter is nil. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUserPropertyNil{
    1, 7012, "User property is nil. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogPropertyNameMismatch{
    1, 7013, "User property name does not match property filter name. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogPropertyFilterWithoutFilter{
    1, 7014, "Property filter does not have filter. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUnknownPropertyType{
    1, 7015, "Unknown user property type. Audience filter will not be evaluated. Property Name"};

// Parsing the comparison values of a number condition (decimal evaluation).
inline constexpr GWLAudienceLogLine kGWLAudienceLogParsedUnknownComparisonType{
    1, 8000, "Number filter has unknown comparison type"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoComparisonValue{1, 8001, "Number filter has no comparison value"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogComparisonValueNotNumber{
    1, 8002, "Number filter comparison value is not a number"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoMinAndMax{
    1, 8003, "Number filter does not have both min and max comparison values"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogMinNotNumber{
    1, 8004, "Number filter min comparison value is not a number"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogMaxNotNumber{
    1, 8005, "Number filter max comparison value is not a number"};

// Number condition validation.
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoComparisonType{1, 8006, "Number filter has no comparison type"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUnknownComparisonType{
    1, 8007, "Number filter has unknown comparison type"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogInvalidComparisonValue{
    1, 8008, "Numeric filter does not have a valid comparison value. Filter"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogInvalidMinComparisonValue{
    1, 8009, "Numeric filter does not have a valid min comparison value. Filter"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogInvalidMaxComparisonValue{
    1, 8010, "Numeric filter does not have a valid max comparison value. Filter"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogRealUnknownComparisonType{
    1, 8011, "Number filter has a real unknown comparison type"};

// Double and decimal evaluation.
inline constexpr GWLAudienceLogLine kGWLAudienceLogDoubleComparisonNotValid{
    1, 8012,
    "Number filter is invalid, the comparison filter is not valid. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDoubleUnknownComparisonType{
    1, 8013,
    "Validated double number filter has unknown comparison type. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogComparisonValuesNotValid{
    1, 8015,
    "Parsed decimal number comparison values are not valid. Audience filter will not be evaluated. Filter"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDecimalUnknownComparisonType{
    1, 8016,
    "Validated decimal number for number filter has unknown comparison type. Audience filter will not be "
    "evaluated"};

// String conditions.
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoMatchType{1, 9000, "String filter has no match type"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUnknownMatchType{1, 9001, "String filter has unknown match type"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoExpression{1, 9002, "String filter has no expression"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNoExpressionList{1, 9003, "String filter has no expression list"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUnparsableRegex{1, 9004, "Unable to parse regular expression"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogEvaluationStringNil{
    1, 9005, "Evaluation string is nil. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogStringFilterInvalid{
    1, 9006, "String filter is invalid. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogStringUnknownComparisonType{
    1, 9007, "Validated string filter has unknown comparison type. Audience filter will not be evaluated"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogParsedRegexNil{
    1, 9008, "Parsed regex is nil. Audience filter will not be evaluated"};
// A type-1 match that reached the time or stack limit of the expression.
inline constexpr GWLAudienceLogLine kGWLAudienceLogRegexLimitExceeded{
    1, 9009, "Regular expression exceeded its evaluation limits. Audience filter will not be evaluated"};
