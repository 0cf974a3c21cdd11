// The conversion layer's fuzz targets feed answers straight to the task
// chain's answer readers; this is the context those tasks share. Its network
// client is never used and its clock never moves, so nothing leaves the
// process and no retry runs.
#pragma once

#include <memory>

#include "ads/conversion_tracking/app_conversion/odm/ODCContext.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCEnvironmentInfo.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HVUNetwork.h"

inline std::shared_ptr<ODCContext> MakeFuzzContext() {
  ODCContext::Collaborators collaborators;
  collaborators.network = std::make_shared<platform::HVUNetwork>();
  collaborators.serialQueue = platform::SerialQueue::create("ODCConversionService");
  collaborators.clock = std::make_shared<platform::ManualClock>();
  collaborators.environmentInfo =
      std::make_shared<ODCEnvironmentInfo>(ODCEnvironmentInfo::Values{"iPhone14,5", "17.0", "en-us", 0});
  auto app = platform::AppEnvironment::create(platform::AppEnvironment::Configuration{});
  return std::make_shared<ODCContext>(std::move(collaborators), *app);
}
