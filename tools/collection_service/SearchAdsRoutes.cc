#include "tools/collection_service/SearchAdsRoutes.h"

#include <httplib.h>

#include <string>

namespace {
constexpr const char* kJSONContentType = "application/json";
}  // namespace

void SearchAdsRoutes::install(httplib::Server& server) {
  server.Post(kSearchAdsAttributionPath, [this](const httplib::Request& request, httplib::Response& response) {
    if (!scenario_) {
      response.status = 404;
      response.set_content("no search-ads scenario\n", "text/plain");
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failuresAnswered_ < scenario_->failStatuses.size()) {
        response.status = scenario_->failStatuses[failuresAnswered_++];
        response.set_content(scenario_->answerBody, kJSONContentType);
        return;
      }
    }
    if (request.body.empty()) {
      response.status = 400;
      response.set_content("no attribution token\n", "text/plain");
      return;
    }
    response.status = 200;
    response.set_content(scenario_->answerBody, kJSONContentType);
  });
}
