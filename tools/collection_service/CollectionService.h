// CollectionService — a local stand-in for the analytics collection servers,
// for tests and for trying the library by hand. It listens on 127.0.0.1 only.
//
//   POST /a                     an upload batch (gzip content coding accepted,
//                               inflated up to 16 MB, 413 beyond); decoded as a
//                               measurement batch, recorded, 204
//
// With --record DIR each batch is written to DIR as batch-NNNNNN.pb, numbered
// on after the highest number already there; a second service on the same
// directory is refused while the first runs.
//   GET  /config/app/<app id>   <config dir>/<app id>.pb with an entity tag and a
//                               modification date; 304 when If-None-Match or
//                               If-Modified-Since says the caller has it; 404 when absent
//   POST /sdk-exp               the experiments answer file, gzip-compressed; 404 when none
//   POST /adconv/app/psm, POST /muf/psm/groupids
//                               private-set-membership queries, answered by the PSM
//                               double (--psm-double PROGRAM) with the members of the
//                               attribution scenario (--attribution FILE); see AttributionRoutes.h
//   GET /odm/config, POST /odm/psm, POST /odm/validate
//                               the on-device measurement endpoint, from the same
//                               scenario and double; see OdmRoutes.h
//   GET /adconv/app/deeplink    the deferred deep link lookup, from the same scenario;
//                               see DeepLinkRoutes.h
//   POST /skan                  the conversion-value endpoint, from the same scenario;
//                               see SkanRoutes.h
//
// With --capture DIR every request is also written to DIR (see RequestCapture.h).
//
// Failures on request, for the next `count` answers of the paths above:
//   POST /control/fail?status=503&count=1   answer with that status
//   POST /control/slow?seconds=2&count=1    wait that long (at most 30 s) first
//   POST /control/drop?count=1              send the header, then close the connection
//   POST /control/reset                     no more failures
//
// The service stops by itself after `maxSeconds` or `maxRequests`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct CollectionServiceOptions {
  int port = 0;  // 0: a free port
  std::optional<std::filesystem::path> recordDirectory;
  std::optional<std::filesystem::path> configDirectory;
  std::optional<std::filesystem::path> experimentsFile;
  std::optional<std::filesystem::path> certificateFile;
  std::optional<std::filesystem::path> keyFile;
  std::optional<std::filesystem::path> psmDoubleProgram;
  std::optional<std::filesystem::path> attributionFile;
  std::optional<std::filesystem::path> captureDirectory;
  double maxSeconds = 600;
  uint64_t maxRequests = 100000;

  // Reads the command line; nullopt and a message on a bad one.
  static std::optional<CollectionServiceOptions> parse(int argc, char** argv, std::string* message);
};

class CollectionService {
 public:
  explicit CollectionService(CollectionServiceOptions options);
  ~CollectionService();

  // Binds to 127.0.0.1; answers the port, or -1 with a message.
  int bind(std::string* message);
  // Serves until stopped, or the time or request bound is reached.
  void run();
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};
