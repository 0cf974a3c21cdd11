// ODCConversionServiceProtocol — how the measurement engine (and an app)
// reaches the on-device conversion service without linking to it, and the
// class the engine finds it through.
//
// The service answers two questions about this installation: the measurement
// info (what the engine stores as its conversion value) and the aggregate
// conversion info. Each fetch returns at once; its completion is called
// exactly once, later, on a queue of the service's choosing (never the
// caller's), with the stored string or nothing and the error of the run that
// just ended or nothing.
//
// The service's class is registered under "ODCConversionService" in
// GWLClassRegistry<ODCConversionServiceClass>; an app without the conversion
// layer has no such class. Safe on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"

using ODCInteractionType = int64_t;
// The one interaction the service answers for: the app's installation.
inline constexpr ODCInteractionType ODCInteractionTypeInstallation = 0;

inline constexpr const char* kODCConversionServiceClassName = "ODCConversionService";

class ODCConversionServiceProtocol {
 public:
  using Completion = std::function<void(std::optional<std::string> value, std::optional<platform::Error> error)>;

  virtual ~ODCConversionServiceProtocol() = default;

  // The app's first launch, seconds since 1970; nothing is ignored.
  virtual void setFirstLaunchTime(std::optional<double> date) = 0;
  virtual void fetchAggregateConversionInfoForInteraction(ODCInteractionType interaction, Completion completion) = 0;
  virtual void fetchMeasurementInfoForInteraction(ODCInteractionType interaction, Completion completion) = 0;
  virtual std::string versionString() const = 0;
  virtual int64_t versionNumber() const = 0;
};

// The service's class as the engine finds it by name.
class ODCConversionServiceClass {
 public:
  virtual ~ODCConversionServiceClass() = default;
  // Whether the class offers a shared instance at all.
  virtual bool respondsToSharedInstance() const { return true; }
  // The class's one instance when it conforms to the protocol; null when it
  // does not (or there is none).
  virtual std::shared_ptr<ODCConversionServiceProtocol> sharedInstance() const = 0;
};
