// GWLBackwardCompatibilityUtil — switches off an older measurement library
// ("VQRMeasurement") when the process has one, so that two libraries never
// measure the same app.
#pragma once

class GWLBackwardCompatibilityUtil {
 public:
  // Answers whether an older library's shared instance was switched off.
  [[nodiscard]] static bool disableVQRMeasurement();
};
