// The app's bundle identifier when nothing names another: the app environment
// falls back to it without an Info dictionary, and the preferences name the
// app's own suite after it when they are not told the app's identifier.
#pragma once

namespace platform {

inline constexpr const char* kDefaultBundleIdentifier = "com.halcyra.tabulo";

}  // namespace platform
