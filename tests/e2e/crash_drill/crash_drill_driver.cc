// crash_drill_driver — the process the crash drill kills. It composes the
// app as tools/tabulo does (TabuloHost, pointed at a collection service, in
// debug mode so that uploads follow about a second after the last event)
// and logs numbered events through the library's public class, in bursts
// with pauses between them so that bundling and uploads happen while it
// runs. A log-event listener hears of each event once the library has done
// its write (the listeners are told after it, in the order of the calls),
// and the number goes to the report pipe. See DrillProtocol.h for the
// command line and KillPoints.h for the points at which it kills itself.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "e2e/crash_drill/DrillProtocol.h"
#include "e2e/crash_drill/KillPoints.h"
#include "tools/tabulo/TabuloHost.h"

namespace {

using namespace crash_drill;

struct Options {
  std::string dataDirectory;
  std::string service;
  int reportFd = -1;
  int64_t first = 1;
  int64_t round = 0;
  uint64_t seed = 0;
  bool setFirst = false;
  bool final = false;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--final") {
      options.final = true;
    } else if (argument == "--set-first") {
      options.setFirst = true;
    } else if (argument == "--data-dir" && hasValue) {
      options.dataDirectory = argv[++i];
    } else if (argument == "--service" && hasValue) {
      options.service = argv[++i];
    } else if (argument == "--report-fd" && hasValue) {
      options.reportFd = std::atoi(argv[++i]);
    } else if (argument == "--first" && hasValue) {
      options.first = std::atoll(argv[++i]);
    } else if (argument == "--round" && hasValue) {
      options.round = std::atoll(argv[++i]);
    } else if (argument == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else {
      return std::nullopt;
    }
  }
  if (options.dataDirectory.empty() || options.service.empty() || options.reportFd < 0) return std::nullopt;
  return options;
}

// The report pipe, and the highest number reported so far.
class Reporter {
 public:
  explicit Reporter(int fd) : fd_(fd) {}
  void line(const std::string& text) {
    const std::string withNewline = text + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    // The test may have stopped reading; the drill goes on regardless.
    (void)!::write(fd_, withNewline.data(), withNewline.size());
  }
  void number(int64_t n) {
    line(std::to_string(n));
    std::lock_guard<std::mutex> lock(mutex_);
    if (n > highest_) highest_ = n;
    changed_.notify_all();
  }
  // Waits (at most `seconds`) until `n` has been reported.
  bool waitFor(int64_t n, double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return highest_ >= n; });
  }

 private:
  int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t highest_ = 0;
};

void setProperty(const char* name, const std::string& value) {
  CVNAnalytics::setUserPropertyString(platform::Object(value), name);
}

// Bursts of events with pauses between them, until the process is killed.
void logUntilKilled(const Options& options, Reporter& reporter) {
  std::mt19937_64 random(options.seed);
  auto between = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
  if (options.setFirst) setProperty(kFirstProperty, kFirstValue);
  setProperty(kRoundProperty, std::to_string(options.round));
  for (int64_t n = options.first;;) {
    const int64_t burst = between(1, 30);
    // One value a burst, so that a burst's events share their metadata and
    // go into one bundle; the test hears of it before the events.
    reporter.line(std::string(kLastProperty) + " " + std::to_string(n));
    setProperty(kLastProperty, std::to_string(n));
    for (int64_t i = 0; i < burst; ++i, ++n) {
      CVNAnalytics::logEventWithName(kEventName, GWLRawParameters{{kNumberParameter, GWLValue::initWithInt64(n)}});
      std::this_thread::sleep_for(std::chrono::microseconds(between(0, 3000)));
    }
    if (!reporter.waitFor(n - 1, 30)) {
      std::fprintf(stderr, "crash_drill_driver: event %lld was not written within 30 s\n", static_cast<long long>(n - 1));
    }
    // Mostly short pauses; now and then one long enough for an upload.
    std::this_thread::sleep_for(std::chrono::milliseconds(between(0, 1) ? between(0, 300) : between(900, 2500)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: crash_drill_driver --data-dir DIR --service URL --report-fd FD [--first N] [--round R] [--set-first]"
                 " [--seed S] [--final]\n");
    return 2;
  }
  const char* kill = std::getenv(kKillVariable);
  if (!installKillPoint(kill ? kill : "")) return 2;

  GWLLibraryLoad();
  std::vector<std::string> arguments = {"tabulo",       "--data-dir",          options->dataDirectory,
                                        "--collection-service", options->service, "-CVNAnalyticsDebugEnabled"};
  tabulo_host::TabuloHost host({arguments, {}, TABULO_BINARY_DIR "/tools/Info.plist", ""});
  if (auto status = host.open()) return *status;

  // Never destroyed: the library's queues may still tell the listener of an
  // event while the process exits.
  static Reporter& reporter = *new Reporter(options->reportFd);
  (void)CVNAnalytics::addLogEventListener([](const std::shared_ptr<const GWLEvent>& event) {
    if (event->name() == kDoneEventName) return reporter.line("done");
    if (event->name() != kEventName) return;
    const auto found = event->parameters().find(kNumberParameter);
    if (found != event->parameters().end()) reporter.number(found->second.int64Value());
  });

  std::thread logger;
  const int status = host.run([&](tabulo_host::TabuloHost&) {
    reporter.line("ready");
    if (options->final) {
      if (options->setFirst) setProperty(kFirstProperty, kFirstValue);
      CVNAnalytics::logEventWithName(kDoneEventName, std::nullopt);
      return;
    }
    logger = std::thread([&] { logUntilKilled(*options, reporter); });
  });
  // Only a final run ends by itself (on SIGTERM); a logging run is killed.
  if (logger.joinable()) logger.detach();
  return status;
}
