// A process that writes raw events into the measurement database of a data
// directory, one event per transaction, for the crash drill: after each
// commit it prints the event's number on a line of its own, and it writes
// until it is killed.
//
//   foundation_database_writer <data directory>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "platform/storage/Paths.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  platform::Paths::setCurrent(platform::Paths::open(argv[1]));
  platform::Error error;
  auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, &error);
  if (!database) {
    std::fprintf(stderr, "cannot open the database: %s\n", error.toString().c_str());
    return 1;
  }
  for (int64_t n = 1;; ++n) {
    auto event = GWLEvent::initWithOrigin("app", true, "level_up", 1'700'000'000.0 + static_cast<double>(n), 0,
                                          platform::Dictionary{{"n", n}, {"label", std::string(200, 'x')}}, GWLValueLimits{});
    if (!event) return 1;
    const bool committed =
        database->performTransaction([&] { return database->insertRawEvent(event, 42, false, nullptr); });
    if (!committed) {
      std::fprintf(stderr, "event %lld was not committed\n", static_cast<long long>(n));
      return 1;
    }
    const std::string line = std::to_string(n) + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  }
}
