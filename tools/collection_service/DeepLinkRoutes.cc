#include "tools/collection_service/DeepLinkRoutes.h"

#include <httplib.h>

void DeepLinkRoutes::install(httplib::Server& server) {
  server.Get(kDeferredDeepLinkLookupPath, [this](const httplib::Request&, httplib::Response& response) {
    if (!scenario_ || !scenario_->answerBody) {
      response.status = 204;
      return;
    }
    response.status = 200;
    response.set_content(*scenario_->answerBody, "application/json");
  });
}
