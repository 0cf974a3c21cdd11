// GWLEvent — the library's one event record: who logged it (origin), its name,
// when it happened and when the previous event of that name happened (seconds
// since 1970; 0 when none), and its sanitised parameters.
//
// Every event is built through `initWithOrigin`, which checks origin and name
// and sanitises the parameters (GWLEventParameters.h): an event that gets
// built always carries its origin in "_o", and what was wrong with its
// parameters in "_err", "_ev" and "_el". Whether it was logged as public only
// selects the rules applied while it is built; copies are rebuilt as internal
// events. The value limits the event is built with (the configuration's, from
// the caller) stay with it: its copies and later changes apply the same ones.
// An event is changed (flags, extra and screen parameters) by one thread at a
// time, before it is written.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"

class GWLPBEvent;

// An event as the event-editing interpreter sees it: the public name, the
// time in seconds and the parameters as plain numbers, strings and item
// arrays. The audiences layer wraps it in the interpreter's own event.
struct GWLEditableEvent {
  std::string name;
  double timestamp = 0;
  platform::Dictionary parameters;
};

class GWLEvent {
 public:
  // Null for an invalid origin (an internal name of at most 32 characters,
  // optionally followed by "+kxw") or name (the public rules when `isPublic`,
  // the internal rules always). A timestamp before the previous one is
  // reported (16002) and kept.
  static std::shared_ptr<GWLEvent> initWithOrigin(GWLOptionalText origin, bool isPublic, GWLOptionalText name,
                                                  double timestamp, double previousTimestamp,
                                                  const GWLRawParameters& parameters, const GWLValueLimits& limits);
  static std::shared_ptr<GWLEvent> initWithOrigin(GWLOptionalText origin, bool isPublic, GWLOptionalText name,
                                                  double timestamp, double previousTimestamp,
                                                  const platform::Dictionary& parameters, const GWLValueLimits& limits);
  // The event a wire message describes; null without a string "_o" (15001)
  // or when the initialiser refuses it. Parameters without a name or a value
  // it can read (item arrays among them) are skipped with a report.
  static std::shared_ptr<GWLEvent> initWithEventProto(const GWLPBEvent& proto, const GWLValueLimits& limits);

  std::shared_ptr<GWLEvent> copyWithPreviousTimestamp(double previousTimestamp) const;
  std::shared_ptr<GWLEvent> copyWithParameters(const GWLRawParameters& parameters) const;
  std::shared_ptr<GWLEvent> copy() const;

  const std::string& origin() const { return origin_; }
  const std::string& name() const { return name_; }
  double timestamp() const { return timestamp_; }
  double previousTimestamp() const { return previousTimestamp_; }
  const GWLValueLimits& limits() const { return limits_; }
  const GWLParameters& parameters() const { return parameters_; }
  GWLParameters& parameters() { return parameters_; }

  // A conversion, or "ad_impression" / "_ai": value and currency are checked.
  bool shouldValidateParams() const;
  // "in_app_purchase" / "_iap" logged by the app itself must carry a value.
  bool shouldRequireValueParam() const;
  bool isConversion() const;
  // True: only when value and currency pass, "_c" = 1 and an "_err" 10 goes.
  // False: removes "_c" and records "_err" 10 unless an error is recorded.
  void setConversion(bool conversion);
  // "_r" is int64 1; another type of "_r" is reported (16006).
  bool isRealtime() const;
  void setRealtime(bool realtime);
  bool isDebug() const;
  void setDebug(bool debug);

  // Sanitises extra parameters (no event name is known for them, so arrays
  // are refused) and adds those whose names the event does not have yet.
  void applyParameters(const GWLRawParameters& parameters, bool isPublic);
  // Adds the current screen's "_si" (required, a number) and its "_sc" and
  // "_sn" (strings, checked) unless the event has screen parameters already.
  [[nodiscard]] bool addScreenParameters(const GWLRawParameters& screenParameters);

  // The event for the interpreter: internal names become public ones, and
  // only numbers, strings and item arrays (their items one level deep) are kept.
  GWLEditableEvent editEvent() const;
  // The event back from the interpreter: public names become internal ones,
  // the origin is its "_o" (else "app"), no previous time; null when refused.
  static std::shared_ptr<GWLEvent> eventFromEditEvent(const GWLEditableEvent& edited, const GWLValueLimits& limits);

  // The wire form: name, timestamps in milliseconds (the previous one only
  // when set) and one wire parameter per parameter, items nested one level.
  std::shared_ptr<GWLPBEvent> protoEvent() const;

 private:
  GWLEvent() = default;
  std::string origin_;
  std::string name_;
  double timestamp_ = 0;
  double previousTimestamp_ = 0;
  GWLParameters parameters_;
  GWLValueLimits limits_;
};

// Whether the event is the error event "_err".
bool GWLIsErrorEvent(const GWLEvent& event);
// "_assc", "_assr", or "_iap" with "subscription" equal to int64 1.
bool GWLIsSubscriptionEvent(const GWLEvent& event);
// The elements of all array parameters together; 0 without an event.
size_t GWLArrayParameterElementCount(const GWLEvent* event);
