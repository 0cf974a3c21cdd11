// GWLUserAttribute — one user property: who set it (origin, not checked), its
// public or internal name, its value and when it was last set (seconds since
// 1970). Immutable once made.
#pragma once

#include <memory>
#include <string>

#include "analytics/foundation/values/GWLValue.h"

class GWLPBUserAttribute;

class GWLUserAttribute {
 public:
  // Null unless the name passes the internal user property name rule and the
  // value the internal user property value rule (the validator reports why).
  static std::shared_ptr<GWLUserAttribute> initWithOrigin(const std::string& origin, const std::string& name,
                                                          const GWLValue& value, double lastSetTimestamp);

  const std::string& origin() const { return origin_; }
  const std::string& name() const { return name_; }
  const GWLValue& value() const { return value_; }
  double lastSetTimestamp() const { return lastSetTimestamp_; }
  // A non-empty name that does not begin with "_".
  bool isPublic() const;

  // The wire form: name, the double, int64 or string value (an array value
  // writes none) and the last set time in milliseconds; the origin stays out.
  std::shared_ptr<GWLPBUserAttribute> protoUserAttribute() const;

 private:
  GWLUserAttribute(std::string origin, std::string name, GWLValue value, double lastSetTimestamp)
      : origin_(std::move(origin)), name_(std::move(name)), value_(std::move(value)),
        lastSetTimestamp_(lastSetTimestamp) {}
  std::string origin_;
  std::string name_;
  GWLValue value_;
  double lastSetTimestamp_;
};
