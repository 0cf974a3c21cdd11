#include "analytics/audiences/interpreter/GWLPEvent.h"

#include <cfloat>
#include <cmath>

#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

const std::shared_ptr<platform::Dictionary>& emptyParameters() {
  static const auto* empty = new std::shared_ptr<platform::Dictionary>(std::make_shared<platform::Dictionary>());
  return *empty;
}

platform::Object integerOf(const platform::Object& number) {
  if (number.isInt()) return number;
  return platform::Object(GWLPToInt64(*number.doubleValue()));
}

platform::Object textOf(const platform::Object& number) {
  if (auto integer = number.intValue()) return platform::Object(std::to_string(*integer));
  return platform::Object(GWLPNumberValue::stringFromDouble(*number.doubleValue()));
}

// A boolean counts as the number 0 or 1 when compared.
std::optional<double> comparableNumber(const platform::Object& value) {
  if (auto flag = value.boolValue()) return *flag ? 1.0 : 0.0;
  return value.doubleValue();
}

bool numbersEqual(const platform::Object& left, const platform::Object& right) {
  auto leftInteger = left.intValue();
  auto rightInteger = right.intValue();
  if (leftInteger && rightInteger) return *leftInteger == *rightInteger;
  if (leftInteger || rightInteger) {
    // An integer and a double: equal only when the double is that very integer.
    const int64_t integer = leftInteger ? *leftInteger : *rightInteger;
    auto other = comparableNumber(leftInteger ? right : left);
    if (!other || !std::isfinite(*other) || std::trunc(*other) != *other) return false;
    if (*other < -9223372036854775808.0 || *other >= 9223372036854775808.0) return false;
    return static_cast<int64_t>(*other) == integer;
  }
  auto a = comparableNumber(left);
  auto b = comparableNumber(right);
  return *a == *b || (std::isnan(*a) && std::isnan(*b));
}


bool valuesEqual(const platform::Object& left, const platform::Object& right, int depth) {
  // Deeper than any value the interpreter makes: counted as different.
  if (depth > kGWLPMaxValueDepth) return false;
  if (left.isNumberOrBool() || right.isNumberOrBool()) {
    return left.isNumberOrBool() && right.isNumberOrBool() && numbersEqual(left, right);
  }
  if (left.type() != right.type()) return false;
  if (const platform::Array* leftArray = left.arrayValue()) {
    const platform::Array& rightArray = *right.arrayValue();
    if (leftArray->size() != rightArray.size()) return false;
    for (size_t i = 0; i < leftArray->size(); ++i) {
      if (!valuesEqual((*leftArray)[i], rightArray[i], depth + 1)) return false;
    }
    return true;
  }
  if (const platform::Dictionary* leftDictionary = left.dictionaryValue()) {
    const platform::Dictionary& rightDictionary = *right.dictionaryValue();
    if (leftDictionary->size() != rightDictionary.size()) return false;
    auto other = rightDictionary.begin();
    for (const auto& [key, value] : *leftDictionary) {
      if (other->first != key || !valuesEqual(value, other->second, depth + 1)) return false;
      ++other;
    }
    return true;
  }
  return left == right;
}

}  // namespace

platform::Object GWLPNormalizedParameterValue(const std::string& name, const platform::Object* oldValue,
                                              platform::Object newValue) {
  if (!newValue.isNumber()) return newValue;
  if (name == kGWLPSyntheticParameter || name == kGWLPErrorParameter || name == kGWLPErrorLengthParameter) {
    return integerOf(newValue);
  }
  if (!oldValue) return newValue;
  if (oldValue->isDouble()) return newValue;
  if (oldValue->isInt()) {
    if (!name.empty() && name[0] == '_') return *oldValue;
    return integerOf(newValue);
  }
  if (oldValue->isString()) return textOf(newValue);
  return newValue;
}

bool GWLPNativeValuesEqual(const platform::Object& left, const platform::Object& right) {
  return valuesEqual(left, right, 0);
}

GWLPEvent::GWLPEvent() : parameters_(emptyParameters()) {}

GWLPEvent::GWLPEvent(std::string name, double timestamp, platform::Dictionary parameters)
    : name_(std::move(name)),
      timestamp_(timestamp),
      parameters_(parameters.empty() ? emptyParameters()
                                     : std::make_shared<platform::Dictionary>(std::move(parameters))) {}

GWLPEvent::GWLPEvent(const GWLPEvent& other)
    : name_(other.name_), timestamp_(other.timestamp_), parameters_(other.parameters_) {}

GWLPEvent& GWLPEvent::operator=(const GWLPEvent& other) {
  if (this == &other) return *this;
  name_ = other.name_;
  timestamp_ = other.timestamp_;
  // A small map no copy shares stays as the spare; a large one is let go.
  constexpr size_t kSpareParameters = 64;
  if (parameters_.use_count() == 1 && parameters_->size() <= kSpareParameters) {
    spareParameters_ = std::move(parameters_);
  }
  parameters_ = other.parameters_;
  endChanges();
  return *this;
}

GWLPEvent::~GWLPEvent() = default;

void GWLPEvent::beginChanges() {
  if (recording_) return;
  recording_ = true;
  journal_.name = name_;
  journal_.timestamp = timestamp_;
  journal_.parameters.clear();
}

void GWLPEvent::keepChanges() { endChanges(); }

void GWLPEvent::endChanges() {
  recording_ = false;
  journal_.names.reset();
  // A rule that made many changes leaves no large list behind.
  constexpr size_t kKeptChanges = 64;
  if (journal_.parameters.capacity() > kKeptChanges) {
    journal_.parameters = {};
  } else {
    journal_.parameters.clear();
  }
}

void GWLPEvent::discardChanges() {
  if (!recording_) return;
  name_.swap(journal_.name);
  timestamp_ = journal_.timestamp;
  if (!journal_.parameters.empty()) {
    platform::Dictionary& parameters = mutableParameters();
    for (ParameterChange& change : journal_.parameters) {
      if (change.replaced) {
        parameters.insert_or_assign(change.name, std::move(*change.replaced));
      } else {
        parameters.erase(change.name);
      }
    }
  }
  endChanges();
}

void GWLPEvent::record(const std::string& name, platform::Object* replaced) {
  if (!recording_) return;
  std::vector<ParameterChange>& changes = journal_.parameters;
  constexpr size_t kSearchedChanges = 16;
  if (changes.size() < kSearchedChanges) {
    for (const ParameterChange& change : changes) {
      if (change.name == name) return;
    }
  } else {
    if (!journal_.names) {
      journal_.names = std::make_unique<std::unordered_set<std::string>>();
      for (const ParameterChange& change : changes) journal_.names->insert(change.name);
    }
    if (!journal_.names->insert(name).second) return;
  }
  ParameterChange& change = changes.emplace_back();
  change.name = name;
  if (replaced) change.replaced.emplace(std::move(*replaced));
}

const platform::Object* GWLPEvent::parameterForName(const std::string& name) const {
  auto found = parameters_->find(name);
  return found == parameters_->end() ? nullptr : &found->second;
}

platform::Dictionary& GWLPEvent::mutableParameters() {
  if (parameters_.use_count() == 1) return *parameters_;
  if (spareParameters_) {
    *spareParameters_ = *parameters_;
    parameters_ = std::move(spareParameters_);
  } else {
    parameters_ = std::make_shared<platform::Dictionary>(*parameters_);
  }
  return *parameters_;
}

void GWLPEvent::setParameter(platform::Object value, const std::string& name) {
  if (value.isNull()) {
    // Removing a missing name copies nothing; the lookup is repeated only
    // when the parameters had to be copied first.
    auto found = parameters_->find(name);
    if (found == parameters_->end()) return;
    if (parameters_.use_count() > 1) found = mutableParameters().find(name);
    record(name, &found->second);
    parameters_->erase(found);
    return;
  }
  // One lookup finds the old value (for the normalization) and the slot.
  auto [slot, inserted] = mutableParameters().try_emplace(name);
  if (inserted) {
    record(name, nullptr);
    slot->second = GWLPNormalizedParameterValue(name, nullptr, std::move(value));
    return;
  }
  platform::Object normalized = GWLPNormalizedParameterValue(name, &slot->second, std::move(value));
  record(name, &slot->second);
  slot->second = std::move(normalized);
}

bool GWLPEvent::isEqualToEvent(const GWLPEvent& other) const {
  if (this == &other) return true;
  if (std::fabs(timestamp_ - other.timestamp_) > DBL_EPSILON) return false;
  if (name_ != other.name_) return false;
  if (parameters_ == other.parameters_) return true;
  const platform::Dictionary& mine = *parameters_;
  const platform::Dictionary& theirs = *other.parameters_;
  if (mine.size() != theirs.size()) return false;
  auto their = theirs.begin();
  for (const auto& [name, value] : mine) {
    if (their->first != name) return false;
    const platform::Object& otherValue = their->second;
    if (value.isNumberOrBool() && value.type() != otherValue.type()) return false;
    if (!valuesEqual(value, otherValue, 0)) return false;
    ++their;
  }
  return true;
}
