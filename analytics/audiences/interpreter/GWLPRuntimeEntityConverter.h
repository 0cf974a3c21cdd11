// GWLPRuntimeEntityConverter: turns program entities into script values
// (literals and statements, nothing evaluated), and converts between script
// values and native values (platform::Object: text, 64-bit integer, double
// and bool kept distinct, dictionary, array, null for nothing).
//
// Nesting is bounded (entities by kGWLPMaxEntityDepth, native values by
// kGWLPMaxValueDepth, error 19 beyond), and a cyclic script value fails its
// native conversion with error 10 instead of recursing without end.
#pragma once

#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "platform/core/Object.h"

class GWLPMapValue;

class GWLPRuntimeEntityConverter {
 public:
  GWLPRuntimeEntityConverter() = delete;

  // The literal or statement of the entity's kind; error 12 for a kind
  // outside 1 to 4, 14 for a statement without a name.
  static GWLPValueRef runtimeValueFromRuntimeEntity(const GWLPRuntimeEntity& entity,
                                                    platform::Error* error = nullptr);
  // Literals; an absent field gives the empty text, NaN or false.
  static GWLPValueRef stringValueFromRuntimeEntity(const GWLPRuntimeEntity& entity);
  static GWLPValueRef numberValueFromRuntimeEntity(const GWLPRuntimeEntity& entity);
  static GWLPValueRef booleanValueFromRuntimeEntity(const GWLPRuntimeEntity& entity);
  static GWLPValueRef statementValueFromRuntimeEntity(const GWLPRuntimeEntity& entity,
                                                      platform::Error* error = nullptr);

  // Null for nothing; bools as the shared booleans; numbers as doubles; maps
  // and arrays made through the object manager of `scope`. Bytes and dates
  // fail with error 13.
  static GWLPValueRef runtimeValueFromNSObject(const platform::Object& object, const GWLPScopeRef& scope,
                                               platform::Error* error = nullptr);
  // Null gives nothing (a null object), undefined the empty text, maps
  // dictionaries (entries that give nothing left out), arrays arrays (a null
  // element stays null in its place). A text becomes a double when it reads
  // as a finite number, except blank text and integers written with leading
  // zeros ("007"), which stay text. Other values give their number value
  // when it is not NaN, else their text.
  static platform::Object objectFromRuntimeValue(const GWLPRuntimeValue& value, platform::Error* error = nullptr);
  static platform::Dictionary dictionaryFromMapValue(const GWLPMapValue& map, platform::Error* error = nullptr);
};
