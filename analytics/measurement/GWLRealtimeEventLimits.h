// GWLRealtimeEventLimits — which events the daily real-time limits apply to.
// Outside debug mode (the caller decides that) every real-time event counts
// against `maxRealtimeEventCountPerDay` except the purchase "_iap", the first
// open "_f", the consent change "_dcu" and the consented first open "_fx";
// "_dcu" has its own daily limit, `maxRealtimeDCUEventCountPerDay`.
//
// Plain functions of the event's name; any thread.
#pragma once

class GWLEvent;

// Whether the event counts against the real-time limit of all events.
bool GWLIsRealtimeLimitedEvent(const GWLEvent& event);
// Whether the event counts against the real-time limit of "_dcu" events.
bool GWLIsDCURealtimeLimitedEvent(const GWLEvent& event);
