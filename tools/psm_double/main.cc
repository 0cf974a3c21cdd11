// The PSM double: answers the local collection service's private-set-membership
// queries, one frame in on standard input, one frame out on standard output,
// until standard input ends. See analytics/attribution/testing/PSMDouble.h.
//
//   psm_double [--scenario FILE]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "analytics/attribution/testing/PSMDouble.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"

int main(int argc, char** argv) {
  using namespace tabulo::psm_double;
  AttributionScenario scenario;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--scenario") == 0 && i + 1 < argc) {
      std::string message;
      auto read = AttributionScenario::read(argv[++i], &message);
      if (!read) {
        std::fprintf(stderr, "psm_double: %s\n", message.c_str());
        return 2;
      }
      scenario = std::move(*read);
    } else {
      std::fprintf(stderr, "usage: psm_double [--scenario FILE]\n");
      return 2;
    }
  }
  PSMDouble server(scenario);
  while (auto query = ReadFrame(STDIN_FILENO, -1)) {
    if (!WriteFrame(STDOUT_FILENO, server.answer(*query))) return 1;
  }
  return 0;
}
