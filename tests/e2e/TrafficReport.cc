// What a collection service saw during a run of the app, for the browser
// end-to-end run: prints every event of the batches it recorded, one a line
// ("name @timestamp {param: value, ...}"), then runs the privacy check over
// the requests it captured and prints each leak ("privacy: ...").
//
//   e2e_traffic_report <record dir> <capture dir> [--email ADDRESS]... [--phone NUMBER]...
//
// Exit status: 0 when every batch decoded and nothing leaked, 1 otherwise,
// 2 for a bad command line.
#include <cstdio>
#include <string>

#include "e2e/E2EHarness.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <record dir> <capture dir> [--email ADDRESS]... [--phone NUMBER]...\n", argv[0]);
    return 2;
  }
  e2e::PrivateInputs inputs;
  inputs.appID = e2e::kAppID;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc || (option != "--email" && option != "--phone")) {
      std::fprintf(stderr, "unknown or incomplete option: %s\n", option.c_str());
      return 2;
    }
    (option == "--email" ? inputs.emailAddresses : inputs.phoneNumbers).push_back(argv[++i]);
  }
  int status = 0;
  const auto batches = e2e::readRecordedBatches(argv[1]);
  for (const auto& batch : batches) {
    if (!batch.batch) {
      std::printf("undecodable batch: %s\n", batch.file.c_str());
      status = 1;
    }
  }
  std::fputs(e2e::describeEvents(batches).c_str(), stdout);
  for (const auto& leak : e2e::findPrivacyLeaks(e2e::readCapturedRequests(argv[2]), inputs)) {
    std::printf("privacy: %s\n", leak.c_str());
    status = 1;
  }
  return status;
}
