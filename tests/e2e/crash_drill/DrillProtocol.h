// What the crash drill's driver and its test agree on: the names the driver
// logs under, its command line and the kill points it can be asked for.
//
//   crash_drill_driver --data-dir DIR --service URL --report-fd FD
//                      --first N --round R --seed S [--set-first] [--final]
//
// The driver runs the app's host on DIR, pointed at the collection service
// at URL, and logs "drill_event" events numbered from N (parameter "n") in
// bursts, setting "drill_last" to the burst's first number before it. On FD
// it writes "ready" once the library has started, "drill_last V" as it sets
// that property, and each event's number on a line of its own once the
// event's write is done. With --set-first it first sets "drill_first": the
// test asks for that until a round has reported an event (a property set
// before an event is written before it), and never again. With --final it logs one
// "drill_done" event instead, writes "done" once that is written, and runs
// until SIGTERM.
//
// The variable TABULO_DRILL_KILL="point:k" makes the driver kill itself
// (SIGKILL) at the k-th time it reaches `point` (see the names below).
#pragma once

namespace crash_drill {

inline constexpr const char* kKillVariable = "TABULO_DRILL_KILL";

inline constexpr const char* kEventName = "drill_event";
inline constexpr const char* kNumberParameter = "n";
inline constexpr const char* kDoneEventName = "drill_done";
// Set before each burst to its first number; set to the round at the start
// of each round; set in the first rounds until one reported an event, and
// never again.
inline constexpr const char* kLastProperty = "drill_last";
inline constexpr const char* kRoundProperty = "drill_round";
inline constexpr const char* kFirstProperty = "drill_first";
inline constexpr const char* kFirstValue = "kept";

// Inside an event's transaction, right after its raw-event row is inserted.
inline constexpr const char* kEventRowPoint = "event-row";
// While an event's transaction is being committed: on one of the first
// writes to the write-ahead log, so that the commit is torn.
inline constexpr const char* kEventCommitPoint = "event-commit";
// Inside the bundling transaction, right after the bundle is queued.
inline constexpr const char* kBundlingPoint = "bundling";
// The upload was answered and its bundles are being deleted: inside that
// transaction, before it commits.
inline constexpr const char* kUploadedPoint = "uploaded";
// A short while after the upload read its bundles, while the request is on
// the wire (the test has the service hold its answer).
inline constexpr const char* kInFlightPoint = "in-flight";
// No point: the test kills the driver at a moment of its choosing.
inline constexpr const char* kRandomPoint = "random";

inline constexpr const char* kInjectedPoints[] = {kEventRowPoint, kEventCommitPoint, kBundlingPoint, kUploadedPoint,
                                                  kInFlightPoint};

// How long after reading the bundles the in-flight point strikes, and how
// long the test has the service hold that request.
inline constexpr double kInFlightDelaySeconds = 0.5;
inline constexpr double kServiceHoldSeconds = 3;

}  // namespace crash_drill
