// The app delegate's open-URL operation, as code other than the platform
// reaches it: the library hands the app a link it found for it (a deferred
// deep link) the way the platform hands it an opened URL.
//
// The host sets the operation at launch, when the app delegate has one; until
// then, or with an empty operation, the app delegate has none. Any thread may
// set it; `openURLInAppDelegate` is called on the main queue and runs the
// operation on the calling thread.
#pragma once

#include <functional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

// Answers whether the delegate handled the URL.
using AppDelegateOpenURL = std::function<bool(const std::string& url, const Dictionary& options)>;

// Sets the app delegate's operation; an empty one: the delegate has none.
void setAppDelegateOpenURL(AppDelegateOpenURL operation);

// Hands the URL and options to the app delegate's operation; NO when the
// delegate has none or did not handle the URL.
bool openURLInAppDelegate(const std::string& url, const Dictionary& options);

}  // namespace platform
