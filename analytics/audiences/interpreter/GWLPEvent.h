// GWLPEvent: the event that editing rules read and change, in native form:
// a name, a time in seconds since 1970 and parameters (text, integer and
// floating-point numbers, arrays of item dictionaries).
//
// Copies are cheap: the parameter map is shared between copies and copied
// only when one of them changes it (into the nodes of the map the event held
// before its last assignment, when it has one). Values are never changed in
// place; setting a parameter replaces its value. Between beginChanges and
// keepChanges or discardChanges the event records what each change replaced
// (once per name), so that one rule's changes can be undone without copying
// the event for every rule.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/core/Object.h"

// The names whose numbers always become integers when a rule sets them.
inline constexpr const char* kGWLPSyntheticParameter = "_syn";
inline constexpr const char* kGWLPErrorParameter = "_err";
inline constexpr const char* kGWLPErrorLengthParameter = "_el";

// The value a rule's number is stored as, given the parameter's name and its
// value so far (`oldValue`, none when the event lacks it):
//   - anything but a number is taken as it is;
//   - "_syn", "_err" and "_el" take the number as an integer;
//   - over a floating-point number the number is taken as it is;
//   - over an integer: an internal name (leading "_") keeps the old value,
//     any other name (the empty one included) takes the number as an integer;
//   - over text the number is stored as its decimal text;
//   - otherwise (no old value, or an array) the number is taken as it is.
// Integers are made by truncation toward zero, saturating at the ends of the
// 64-bit range (NaN gives 0).
platform::Object GWLPNormalizedParameterValue(const std::string& name, const platform::Object* oldValue,
                                              platform::Object newValue);

// Whether two native values are equal: numbers by numeric value (1 equals
// 1.0, NaN equals NaN), texts by text, arrays and dictionaries element by
// element.
bool GWLPNativeValuesEqual(const platform::Object& left, const platform::Object& right);

class GWLPEvent {
 public:
  // An event with an empty name, time 0 and no parameters.
  GWLPEvent();
  GWLPEvent(std::string name, double timestamp, platform::Dictionary parameters = {});
  // Copies carry no recorded changes.
  GWLPEvent(const GWLPEvent& other);
  GWLPEvent& operator=(const GWLPEvent& other);
  GWLPEvent(GWLPEvent&&) noexcept = default;
  GWLPEvent& operator=(GWLPEvent&&) noexcept = default;
  ~GWLPEvent();

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  double timestamp() const { return timestamp_; }
  void setTimestamp(double timestamp) { timestamp_ = timestamp; }

  // Starts recording changes (a recording already under way is kept).
  void beginChanges();
  // Stops recording; the changes stay.
  void keepChanges();
  // Undoes every change since beginChanges and stops recording.
  void discardChanges();

  const platform::Dictionary& parameters() const { return *parameters_; }
  // The parameter's value, or none.
  const platform::Object* parameterForName(const std::string& name) const;
  bool hasParameterName(const std::string& name) const { return parameters_->count(name) != 0; }
  // Null removes the parameter; any other value is stored as
  // GWLPNormalizedParameterValue makes it against the current value.
  void setParameter(platform::Object value, const std::string& name);

  // Equal times (within 2^-52 seconds), names and parameter names, and
  // parameter values equal as native values; a number of this event must
  // meet a number of the same kind (the integer 1 and the double 1.0 differ).
  bool isEqualToEvent(const GWLPEvent& other) const;

 private:
  platform::Dictionary& mutableParameters();

  // What the recorded changes replaced: the name and time, and each changed
  // parameter's first value (none when it was absent). The list is kept
  // between recordings, so that recording allocates nothing once warm; a
  // short list is searched, a long one gets an index of its names.
  struct ParameterChange {
    std::string name;
    std::optional<platform::Object> replaced;
  };
  struct Journal {
    std::string name;
    double timestamp = 0;
    std::vector<ParameterChange> parameters;
    std::unique_ptr<std::unordered_set<std::string>> names;
  };
  // Records the value `name` had before its first change since beginChanges,
  // moving it out of `replaced` (none: `name` was absent). A later change of
  // the same name leaves `replaced` as it is.
  void record(const std::string& name, platform::Object* replaced);
  // Stops recording and lets go of what was recorded.
  void endChanges();

  std::string name_;
  double timestamp_ = 0;
  // Shared with copies until one of them changes it.
  std::shared_ptr<platform::Dictionary> parameters_;
  // Parameters this event owned alone when it was last assigned over, kept
  // for its next change: copying into them reuses their tree nodes instead
  // of allocating new ones (the editing context's output event is assigned
  // every event and changed by most). Never shared; not copied with the event.
  std::shared_ptr<platform::Dictionary> spareParameters_;
  bool recording_ = false;
  Journal journal_;
};
