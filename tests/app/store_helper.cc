// A separate process for the store's kill drill:
//   store_helper PLIST   saves one document over and over into the preferences
//                        file PLIST, printing "saved N" after each save that
//                        answered true, until it is killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/PreferencesUserDefaults.h"
#include "app/SpreadsheetPersistance.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto clock = std::make_shared<platform::ManualClock>(tabulo::kReferenceDateOffsetFrom1970);
  auto defaults = std::make_shared<tabulo::PreferencesUserDefaults>(
      platform::PreferencesStore::create("drill", argv[1], platform::Clock::system(), nullptr));
  tabulo::SpreadsheetPersistance store(defaults, clock);
  std::vector<std::vector<std::string>> rows(200, std::vector<std::string>(20, "some cell text"));
  tabulo::SpreadsheetFile kept("Kept", rows, *clock);
  kept.uuid = "0D0D0D0D-0000-4000-8000-000000000001";
  tabulo::SpreadsheetFile edited("Edited", rows, *clock);
  edited.uuid = "0D0D0D0D-0000-4000-8000-000000000002";
  if (store.loadFiles().empty() && !store.saveFiles({kept, edited})) return 1;
  for (long n = 1;; ++n) {
    edited.contents[1][1].text = "save " + std::to_string(n);
    clock->advance(1);
    if (!store.saveFile(edited)) return 1;
    std::printf("saved %ld\n", n);
    std::fflush(stdout);
  }
}
