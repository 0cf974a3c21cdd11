// The app uses only the library's public interface.
#include "analytics/foundation/values/GWLEvent.h"
#include "app/AppAnalytics.h"
#include "platform/core/Object.h"
