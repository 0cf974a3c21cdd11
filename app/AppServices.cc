#include "app/AppServices.h"

#include "app/FeedbackRequests.h"
#include "app/UserSettings.h"

namespace tabulo {

AppServices AppServices::make(std::shared_ptr<SpreadsheetPersistance> store, std::shared_ptr<UserDefaults> userDefaults,
                              std::shared_ptr<const TabuloIO> io, std::shared_ptr<RelevantActionCounter> counter,
                              std::shared_ptr<platform::UIEnvironment> environment,
                              std::shared_ptr<platform::Application> application) {
  AppServices services;
  services.store = std::move(store);
  services.userDefaults = std::move(userDefaults);
  services.io = std::move(io);
  services.counter = std::move(counter);
  services.isPad = [environment] { return environment && environment->idiom == platform::UserInterfaceIdiom::pad; };
  // Weakly: the application's windows hold the screens that hold these services.
  std::weak_ptr<platform::Application> weakApplication = application;
  services.requestStoreReview = [weakApplication] {
    if (auto application = weakApplication.lock()) requestStoreReviewInFirstWindowScene(*application);
  };
  services.canOpenURL = [environment](const std::string& url) {
    return environment && environment->urlOpener && environment->urlOpener->canOpenURL(url);
  };
  services.openURL = [environment](const std::string& url) {
    if (environment && environment->urlOpener) environment->urlOpener->openURL(url, nullptr);
  };
  return services;
}

AppServices AppServices::standard(std::shared_ptr<platform::UIEnvironment> environment,
                                  std::shared_ptr<platform::Application> application) {
  static const std::shared_ptr<RelevantActionCounter> counter = std::make_shared<RelevantActionCounter>();
  // The shared instances live for the whole process; these pointers do not own them.
  auto store = std::shared_ptr<SpreadsheetPersistance>(&SpreadsheetPersistance::shared(), [](SpreadsheetPersistance*) {});
  auto io = std::shared_ptr<const TabuloIO>(&TabuloIO::shared(), [](const TabuloIO*) {});
  return make(std::move(store), UserSettings::shared().userDefaults, std::move(io), counter, std::move(environment),
              std::move(application));
}

}  // namespace tabulo
