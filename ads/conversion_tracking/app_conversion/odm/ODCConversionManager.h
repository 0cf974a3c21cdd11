// ODCConversionManager — the conversion layer's entry point for an app: each
// call goes unchanged to ODCConversionService::sharedInstance(). It offers no
// measurement-info fetch (that one is the measurement engine's). Safe on any
// thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/attribution/ODCConversionServiceProtocol.h"

class ODCConversionManager {
 public:
  static std::shared_ptr<ODCConversionManager> sharedInstance();

  std::string versionString() const;
  void setFirstLaunchTime(std::optional<double> date);
  void fetchAggregateConversionInfoForInteraction(ODCInteractionType interaction,
                                                  ODCConversionServiceProtocol::Completion completion);
};
