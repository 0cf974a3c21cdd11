// GWLPBFlagLogSink — where the flag functions (GWLPBFlagFunctions.h) report
// the arguments they refuse.
//
// The flag functions serve the experiments client, whose monitor lives above
// the wire layer; so the wire layer declares this small sink with the shape of
// that monitor's report calls (a level from 0 to 8, a message code, a message
// and an optional context text), and the experiments client installs its own
// sink at start-up. Until then the default sink writes to the system log
// (platform::log) with the code printed as "I-ACS%06lld".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class GWLPBFlagLogSink {
 public:
  virtual ~GWLPBFlagLogSink() = default;

  virtual void logWithLevel(int64_t level, int64_t messageCode, const std::string& message) = 0;
  // `context` is the description of the value concerned (such as the kind of a
  // refused argument); nullopt for a missing value.
  virtual void logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                            const std::optional<std::string>& context) = 0;

  // The sink in use (never null). Safe from any thread.
  static std::shared_ptr<GWLPBFlagLogSink> current();
  // Installs `sink` for the whole process; null restores the system-log sink.
  static void install(std::shared_ptr<GWLPBFlagLogSink> sink);
};

// The default sink: one system-log line per report, at the level the monitor
// would print it with (0-2 error, 3-5 warning, 6 notice, 7-8 debug).
class GWLPBFlagSystemLogSink final : public GWLPBFlagLogSink {
 public:
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message) override;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                    const std::optional<std::string>& context) override;
};
