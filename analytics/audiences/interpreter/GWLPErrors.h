// The interpreter's two error domains and their codes, and the small helper
// that every interpreter operation uses to report its first failure.
//
// An interpreter error is a pair of domain and code without a message. An
// operation that fails returns the shared undefined value (or the empty text,
// NaN or false for conversions) and fills the caller's error.
#pragma once

#include <cstdint>

#include "platform/core/Error.h"


inline constexpr const char* kGWLPRuntimeErrorDomain = "com.halcyra.qrx.measurement.brindle.ErrorDomain";
inline constexpr const char* kGWLPEditingErrorDomain = "com.halcyra.qrx.measurement.brindle.editing.ErrorDomain";

// The domain of the regular-expression engine's own errors (a pattern that
// does not compile); the code is the engine's status code and the
// description its name.
inline constexpr const char* kGWLPRegularExpressionErrorDomain = "GWLPRegularExpressionErrorDomain";

// Runtime domain.
enum GWLPRuntimeErrorCode : int64_t {
  kGWLPErrorUndeclaredAssignment = 2,      // assignment to a name no scope declares
  kGWLPErrorNoBooleanValue = 3,            // statements, control values, the hole marker
  kGWLPErrorNoNumberValue = 4,
  kGWLPErrorNoStringValue = 5,
  kGWLPErrorPropertyOfNullOrUndefined = 6, // property write on null or undefined
  kGWLPErrorMethodOfNullOrUndefined = 7,   // method call on null or undefined
  kGWLPErrorReduceOfEmptyArray = 8,
  kGWLPErrorArgumentCount = 9,
  kGWLPErrorArgumentType = 10,             // wrong type, or a control value where a value is needed
  kGWLPErrorInvalidArrayLength = 11,
  kGWLPErrorUnknownEntityKind = 12,
  kGWLPErrorUnsupportedNativeValue = 13,
  kGWLPErrorStatementWithoutName = 14,
  kGWLPErrorModuleNotCreated = 15,
  kGWLPErrorNotIterable = 16,
  kGWLPErrorNoSuchMethod = 17,
  kGWLPErrorInstructionLimit = 18,
  // A run went beyond one of the interpreter's resource bounds: script call
  // depth, evaluation depth, entity nesting, value nesting, the per-array slot
  // cap, the text length cap or the per-run heap budget (see GWLPLimits.h).
  kGWLPErrorResourceLimit = 19,
};

// Editing domain (raised by event editing).
enum GWLPEditingErrorCode : int64_t {
  kGWLPEditingErrorMissingRuleType = 2,
  kGWLPEditingErrorUnknownRuleType = 3,
  kGWLPEditingErrorTooManyRules = 4,
  kGWLPEditingErrorControlValueAtTopLevel = 5,
  kGWLPEditingErrorActivityDataNotObject = 6,
  kGWLPEditingErrorActivityNotFunction = 7,
};

platform::Error GWLPRuntimeError(int64_t code);
platform::Error GWLPEditingError(int64_t code);

// Whether `error` holds a failure (an interpreter error always has a domain).
inline bool GWLPFailed(const platform::Error& error) { return !error.domain.empty(); }
// Whether `error` can take an operation's first failure as it is: given, and
// holding none yet. The evaluation loop writes into such an error directly;
// any other goes through a GWLPErrorOut.
inline bool GWLPIsCleanError(const platform::Error* error) { return error && !GWLPFailed(*error); }

// The error an operation writes its first failure into, so that behaviour
// never depends on whether the caller passed one. A caller's error that is
// still clean is written directly (nothing is built or copied on the way
// back up); only a missing or already failed one gets a local error, handed
// out when the operation ends.
class GWLPErrorOut {
 public:
  explicit GWLPErrorOut(platform::Error* out) : target_(out) {
    if (!target_ || GWLPFailed(*target_)) useLocal(out);
  }
  ~GWLPErrorOut() {
    if (local_) handOut();
  }
  GWLPErrorOut(const GWLPErrorOut&) = delete;
  GWLPErrorOut& operator=(const GWLPErrorOut&) = delete;

  platform::Error* get() { return target_; }
  operator platform::Error*() { return target_; }
  bool failed() const { return GWLPFailed(*target_); }
  // Records `code` of the runtime domain unless a failure is already held.
  void fail(int64_t code) {
    if (!failed()) *target_ = GWLPRuntimeError(code);
  }
  void fail(const platform::Error& error) {
    if (!failed()) *target_ = error;
  }

 private:
  // The rare paths, kept out of line so that the common one stays small.
  void useLocal(platform::Error* out);
  void handOut();

  platform::Error* target_;
  platform::Error* out_ = nullptr;
  // Only for a caller without a clean error: the common case builds none.
  platform::Error* local_ = nullptr;
};
