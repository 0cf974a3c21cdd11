// The launch options the platform gives the app when it finishes launching:
// the user information of the did-finish-launching notification. A launch by
// an opened URL holds the URL's text under kLaunchOptionsURLKey; a launch that
// continues a user activity holds, under kLaunchOptionsUserActivityDictionaryKey,
// a dictionary whose kLaunchOptionsUserActivityKey entry is the activity in
// its dictionary form (UserActivity.h).
#pragma once

namespace platform {

// Posted once, on the main thread, when the app has finished launching; its
// user information is the launch options.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "ApplicationDidFinishLaunching";

inline constexpr const char* kLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";
inline constexpr const char* kLaunchOptionsUserActivityDictionaryKey =
    "UIApplicationLaunchOptionsUserActivityDictionaryKey";
inline constexpr const char* kLaunchOptionsUserActivityKey = "UIApplicationLaunchOptionsUserActivityKey";

}  // namespace platform
