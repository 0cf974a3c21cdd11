// GWLLibraryLoad — the library's process-load call.
//
// On the device the platform loads the library's classes before the app's
// main function runs, and some of them act at that moment. Here the host
// makes this call instead, first thing in its main function. What it does:
//   - installs the attribution and audience layers' implementations of the
//     engine's seams (audience evaluation, deep links and campaigns,
//     conversion values, purchases, the ad reporters, on-device conversion
//     measurement with the conversion service's hook-up) and registers the
//     private-set-membership client classes and the on-device conversion
//     service ("ODCConversionService", whose process load date is this call's
//     time) that the on-device measurement finds by name;
//   - notes the load time, which GWLAnalytics takes as its `loadTimestamp`
//     (the first load time of the installation, unless a reset moves it);
//   - makes the engine class observe the app's did-finish-launching
//     notification on the default notification centre;
//   - hooks the view controllers' appearance for the screen-view reporter
//     (unless automatic screen reporting is off);
//   - registers the library with the core framework (CVNApp), whose
//     configure call then starts it.
// Only the first call acts; later ones change nothing. The main thread, as
// the UI layer's appearance signal belongs to it.
#pragma once

#include <memory>
#include <optional>

namespace platform {
class Clock;
}

// `clock` is the load time's clock and the clock of every layer installed here
// (the system clock when null).
void GWLLibraryLoad(const std::shared_ptr<platform::Clock>& clock = nullptr);

// The time of the first GWLLibraryLoad (seconds since 1970); none before it.
std::optional<double> GWLLibraryLoadTimestamp();

// Tests: as if the library had not been loaded yet (the seams back on their
// do-nothing defaults).
void GWLLibraryLoadResetForTesting();
