// The local collection service: prints the port it listens on, then serves
// until it is stopped or reaches its bounds, printing one line for each batch
// it accepts (its file name, its bundle count and its event names), so that a
// person sees events arrive. See CollectionService.h.
#include <csignal>
#include <cstdio>
#include <string>

#include "tools/collection_service/CollectionService.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string message;
  auto options = CollectionServiceOptions::parse(argc, argv, &message);
  if (!options) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 2;
  }
  CollectionService service(*options);
  int port = service.bind(&message);
  if (port < 0) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  std::printf("%d\n", port);
  std::fflush(stdout);
  service.run();
  return 0;
}
