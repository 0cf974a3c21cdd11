#include "analytics/foundation/values/GWLUserAttribute.h"

#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"

std::shared_ptr<GWLUserAttribute> GWLUserAttribute::initWithOrigin(const std::string& origin, const std::string& name,
                                                                   const GWLValue& value, double lastSetTimestamp) {
  if (!GWLDataTypeValidator::isValidInternalUserAttributeName(name)) return nullptr;
  if (!GWLDataTypeValidator::isValidInternalUserAttributeValue(&value, name)) return nullptr;
  return std::shared_ptr<GWLUserAttribute>(new GWLUserAttribute(origin, name, value, lastSetTimestamp));
}

bool GWLUserAttribute::isPublic() const { return !name_.empty() && name_[0] != '_'; }

std::shared_ptr<GWLPBUserAttribute> GWLUserAttribute::protoUserAttribute() const {
  auto attribute = GWLPBUserAttribute::initWithMessageInfo();
  NANOSetString(attribute, GWLPBUserAttribute::Field::name, name_);
  if (value_.isDouble()) NANOSetDouble(attribute, GWLPBUserAttribute::Field::double_value, value_.doubleValue());
  if (value_.isInt64()) NANOSetInt64(attribute, GWLPBUserAttribute::Field::int_value, value_.int64Value());
  if (const std::string* text = value_.stringValue()) {
    NANOSetString(attribute, GWLPBUserAttribute::Field::string_value, *text);
  }
  NANOSetInt64(attribute, GWLPBUserAttribute::Field::set_timestamp, GWLMillisecondsFromSeconds(lastSetTimestamp_));
  return attribute;
}
