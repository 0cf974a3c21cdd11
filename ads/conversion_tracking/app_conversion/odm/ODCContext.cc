#include "ads/conversion_tracking/app_conversion/odm/ODCContext.h"

#include "platform/env/AppEnvironment.h"

ODCContext::ODCContext(Collaborators collaborators, const platform::AppEnvironment& app)
    : collaborators_(std::move(collaborators)), bundleID_(app.bundleIdentifier()), appVersion_(app.version()) {
  if (!collaborators_.environmentInfo) collaborators_.environmentInfo = ODCEnvironmentInfo::sharedInstance();
}

ODCContext::~ODCContext() = default;
