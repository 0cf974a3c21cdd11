// CVNAAdExposureReporter — the ad exposure reporter under the name sibling
// libraries know it by; it adds nothing. Made with
// GWLAdExposureReporter::create<CVNAAdExposureReporter>().
#pragma once

#include "analytics/attribution/GWLAdExposureReporter.h"

class CVNAAdExposureReporter : public GWLAdExposureReporter {
 private:
  friend class GWLAdExposureReporter;
  using GWLAdExposureReporter::GWLAdExposureReporter;
};
