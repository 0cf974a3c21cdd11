// A separate process for the preferences tests:
//   preferences_helper DIR write   stores a set of values in the app's suite and synchronizes
//   preferences_helper DIR crash   changes "stage" and dies between writing and renaming the file
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"

using namespace platform;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  Error error;
  auto paths = Paths::open(argv[1], &error);
  if (!paths) {
    std::fprintf(stderr, "%s\n", error.toString().c_str());
    return 1;
  }
  PreferencesStore::Configuration config;
  config.directory = paths->preferencesDirectory();
  config.applicationDomain = "com.halcyra.tabulo";
  PreferencesStore::configure(config);
  auto defaults = PreferencesStore::standard();
  const std::string action = argv[2];
  if (action == "write") {
    defaults->setBool(true, "DID_SHOW_INTRO");
    defaults->setInteger(2, "RELEVANT_ACTION_COUNT_VAR3");
    defaults->setDouble(0.25, "ratio");
    if (!defaults->setData(Bytes{'[', ']'}, "Persisted_Files") || !defaults->setObject(Date{1'700'000'000.5}, "when") ||
        !defaults->setString("old", "stage")) {
      return 1;
    }
    return defaults->synchronize(&error) ? 0 : 1;
  }
  if (action == "crash") {
    if (!defaults->setString("new", "stage")) return 1;
    setAtomicWriteHookForTesting([](const std::string&) -> bool { ::_exit(3); });
    (void)defaults->synchronize();  // the hook ends the process inside it
    return 0;  // not reached
  }
  return 2;
}
