// tabulo — the app's entry point: a thin main over the host (TabuloHost.h).
//
// Opens the data directory (refusing one that another Tabulo process holds),
// loads the app's preferences, says where the data lives, launches the app
// with the analytics library (pointed at --collection-service when given),
// serves its screens to a browser on 127.0.0.1 (the address to open is
// printed) and runs the main loop until SIGINT or SIGTERM; the shutdown lets
// the library finish and writes the preferences, the document store among
// them. A file named among the arguments is handed to the app as a "file:"
// URL, as another app would hand it over. `--once` shuts down right after
// start-up.
#include "analytics/measurement/GWLLibraryLoad.h"
#include "platform/env/AppEnvironment.h"
#include "tools/tabulo/TabuloHost.h"

int main(int argc, char** argv) {
  // The analytics library's load step runs before anything else, as class
  // loading would on the device: it notes the installation's load time,
  // installs the attribution and audience layers behind the engine, observes
  // did-finish-launching, hooks the screens' appearance and registers the
  // library with the core framework.
  GWLLibraryLoad();
  tabulo_host::TabuloHost host({platform::AppEnvironment::processArguments(argc, argv),
                                platform::AppEnvironment::processEnvironment(), TABULO_INFO_PLIST_PATH,
                                TABULO_WEB_PAGE_DIRECTORY});
  if (auto status = host.open()) return *status;
  return host.run();
}
