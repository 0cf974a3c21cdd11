// GWLDecimalNumber — an exact decimal number read from text, for comparing
// parameter values with filter bounds without binary rounding ("0.1" is one
// tenth, and prices keep every digit down to millionths and beyond).
//
// A number is a sign, up to 38 significant decimal digits and a power of ten
// (from -128 to 127). Its canonical text has no plus sign and no superfluous
// zeros: "1.5", "-0.5", "7", "1200", "0.000001".
//
// Arithmetic stays exact: `multipliedBy` multiplies by an integer digit by
// digit, and `int64ValueScaledBy` moves the point (to millionths, say) and
// rounds once, so 0.99 x 3 in millionths is 2970000, never a binary
// neighbour of it.
//
// GWLDecimalNumberFromString reads text such as "-.5", "1.50" or "007" and
// answers nullopt with a report (level 2) for anything else:
//   26001 text that is not a plain decimal (no exponent, no blanks, no sign alone),
//   26003 text with more digits than the type keeps (loss of precision).
//
// Threads: an immutable value; any thread may read it.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class GWLDecimalNumber {
 public:
  static constexpr int kMaxDigits = 38;
  static constexpr int kMinExponent = -128;
  static constexpr int kMaxExponent = 127;

  // How a value with a fraction becomes a whole number.
  enum class Rounding {
    kTowardZero,        // the fraction is dropped
    kHalfAwayFromZero,  // to the nearest whole number, halves away from zero
  };

  // Zero.
  GWLDecimalNumber() = default;
  // The integer, exactly.
  static GWLDecimalNumber fromInt64(int64_t value);

  bool isNegative() const { return negative_; }
  bool isZero() const { return digits_.empty(); }
  // The significant digits without leading or trailing zeros (empty for zero)
  // and the power of ten they are scaled by.
  const std::string& digits() const { return digits_; }
  int exponent() const { return exponent_; }

  // The canonical text.
  std::string stringValue() const;
  // The nearest double.
  double doubleValue() const;
  // The absolute value.
  GWLDecimalNumber magnitude() const;

  // The exact product with `factor`; nullopt when it needs more significant
  // digits or a larger power of ten than the type keeps.
  [[nodiscard]] std::optional<GWLDecimalNumber> multipliedBy(int64_t factor) const;
  // The number times 10^`power`, made whole by `rounding`, as a signed 64-bit
  // integer; nullopt when that whole number lies outside int64's range.
  [[nodiscard]] std::optional<int64_t> int64ValueScaledBy(int power, Rounding rounding) const;

  friend std::strong_ordering operator<=>(const GWLDecimalNumber& a, const GWLDecimalNumber& b);
  friend bool operator==(const GWLDecimalNumber& a, const GWLDecimalNumber& b) = default;

  // Reads the digits of text that passed GWLIsDecimalString; nullopt when the
  // number needs more digits or a larger exponent than the type keeps.
  [[nodiscard]] static std::optional<GWLDecimalNumber> parse(std::string_view text);

 private:
  bool negative_ = false;
  std::string digits_;
  int exponent_ = 0;
};

// Whether the text is a plain decimal: an optional sign, then digits with an
// optional trailing point, or digits (possibly none) before a point and at
// least one digit after it. "+5", "5.", ".5", "-0.25" pass; "", ".", "+",
// "1e5", " 1" and "1,5" do not.
bool GWLIsDecimalString(std::string_view text);

// The exact number written in the text, or nullopt (reported, see above).
[[nodiscard]] std::optional<GWLDecimalNumber> GWLDecimalNumberFromString(std::string_view text);

// The amount in millionths of its unit (a price in micros), truncated toward
// zero: exact, never through a double. nullopt when that lies outside int64.
[[nodiscard]] std::optional<int64_t> GWLDecimalNumberToMicros(const GWLDecimalNumber& amount);
