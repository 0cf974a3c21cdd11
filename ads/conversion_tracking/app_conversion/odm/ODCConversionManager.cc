#include "ads/conversion_tracking/app_conversion/odm/ODCConversionManager.h"

#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionService.h"

std::shared_ptr<ODCConversionManager> ODCConversionManager::sharedInstance() {
  static const auto instance = std::make_shared<ODCConversionManager>();
  return instance;
}

std::string ODCConversionManager::versionString() const {
  return ODCConversionService::sharedInstance()->versionString();
}

void ODCConversionManager::setFirstLaunchTime(std::optional<double> date) {
  ODCConversionService::sharedInstance()->setFirstLaunchTime(date);
}

void ODCConversionManager::fetchAggregateConversionInfoForInteraction(
    ODCInteractionType interaction, ODCConversionServiceProtocol::Completion completion) {
  ODCConversionService::sharedInstance()->fetchAggregateConversionInfoForInteraction(interaction,
                                                                                    std::move(completion));
}
