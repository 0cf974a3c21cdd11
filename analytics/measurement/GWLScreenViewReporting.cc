#include "analytics/measurement/GWLScreenViewReporting.h"

namespace {

// Tracks nothing: the screen-view reporter is not part of the library yet.
class NoScreenViewReporter : public GWLScreenViewReporting {
 public:
  void trackScreenWithParameters(const GWLRawParameters&, double) override {}
  GWLParameters screenParameters() override { return {}; }
  void setScreenName(const std::optional<std::string>&, const std::optional<std::string>&) override {}
};

}  // namespace

std::shared_ptr<GWLScreenViewReporting> GWLScreenViewReporting::sharedInstance() {
  // Never destroyed: events may still be logged while the process exits.
  static const auto* reporter = new std::shared_ptr<GWLScreenViewReporting>(std::make_shared<NoScreenViewReporter>());
  return *reporter;
}
