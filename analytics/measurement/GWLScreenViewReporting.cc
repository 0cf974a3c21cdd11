#include "analytics/measurement/GWLScreenViewReporting.h"

#include "analytics/measurement/GWLScreenViewReporter.h"

std::shared_ptr<GWLScreenViewReporting> GWLScreenViewReporting::sharedInstance() {
  return GWLScreenViewReporter::sharedInstance();
}
