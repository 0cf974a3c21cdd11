#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "CollectionServiceProcess.h"
#include "LoopbackHTTP.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"

namespace {

using tabulo::test::CollectionServiceProcess;

using Answer = tabulo::test::HTTPAnswer;
using tabulo::test::exchange;

class CollectionServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("TABULO_TEST_TMP");
    root_ = std::filesystem::path(base ? base : "/tmp") /
            ("service-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "record");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::filesystem::path root_;
};

TEST_F(CollectionServiceTest, RecordsDecodedUploadBatchesAndRefusesOthers) {
  CollectionServiceProcess service({"--record", (root_ / "record").string()});
  ASSERT_GT(service.port(), 0);

  auto batch = GWLPBMeasurementBatch::initWithMessageInfo();
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  NANOSetInt32(bundle, GWLPBMeasurementBundle::Field::protocol_version, 1);
  NANOSetArray(batch, GWLPBMeasurementBatch::Field::bundles,
               std::vector<NANOValue>(1, std::shared_ptr<NANOMessageBase>(bundle)));
  auto bytes = batch->protoBuffer();
  ASSERT_TRUE(bytes && !bytes->empty());

  EXPECT_EQ(exchange("POST", service.url("/a"), *bytes).status, 204);
  auto compressed = platform::gzip(*bytes);
  ASSERT_TRUE(compressed);
  EXPECT_EQ(exchange("POST", service.url("/a"), *compressed, {{"Content-Encoding", "gzip"}}).status, 204);
  EXPECT_EQ(exchange("POST", service.url("/a"), {0xff, 0xff, 0xff}).status, 400);

  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(root_ / "record")) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "batch-000001.pb");
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> recorded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(recorded, *bytes) << file;
  }
}

std::vector<uint8_t> oneBatch() {
  auto batch = GWLPBMeasurementBatch::initWithMessageInfo();
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  NANOSetInt32(bundle, GWLPBMeasurementBundle::Field::protocol_version, 1);
  NANOSetArray(batch, GWLPBMeasurementBatch::Field::bundles,
               std::vector<NANOValue>(1, std::shared_ptr<NANOMessageBase>(bundle)));
  return *batch->protoBuffer();
}

std::vector<std::string> recorded(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(CollectionServiceTest, AGzipBodyIsInflatedOnlyUpToTheUploadCap) {
  CollectionServiceProcess service({"--record", (root_ / "record").string()});
  ASSERT_GT(service.port(), 0);
  // 17 MB of zeros: a few kilobytes on the wire.
  auto bomb = platform::gzip(std::vector<uint8_t>(17u << 20, 0));
  ASSERT_TRUE(bomb);
  EXPECT_LT(bomb->size(), 64u << 10);
  EXPECT_EQ(exchange("POST", service.url("/a"), *bomb, {{"Content-Encoding", "gzip"}}).status, 413);
  EXPECT_TRUE(recorded(root_ / "record").empty());
  // The service goes on answering.
  auto compressed = platform::gzip(oneBatch());
  EXPECT_EQ(exchange("POST", service.url("/a"), *compressed, {{"Content-Encoding", "gzip"}}).status, 204);
  EXPECT_EQ(recorded(root_ / "record"), std::vector<std::string>{"batch-000001.pb"});
}

TEST_F(CollectionServiceTest, BatchNumbersGoOnAcrossRunsAndOneServiceRecordsIntoADirectory) {
  const std::string directory = (root_ / "record").string();
  {
    CollectionServiceProcess first({"--record", directory});
    ASSERT_GT(first.port(), 0);
    EXPECT_EQ(exchange("POST", first.url("/a"), oneBatch()).status, 204);
    EXPECT_EQ(exchange("POST", first.url("/a"), oneBatch()).status, 204);
    CollectionServiceProcess second({"--record", directory});
    EXPECT_EQ(second.port(), 0) << "a second service on the same directory is refused";
  }
  CollectionServiceProcess next({"--record", directory});
  ASSERT_GT(next.port(), 0);
  EXPECT_EQ(exchange("POST", next.url("/a"), oneBatch()).status, 204);
  EXPECT_EQ(recorded(root_ / "record"),
            (std::vector<std::string>{"batch-000001.pb", "batch-000002.pb", "batch-000003.pb"}));
}

TEST_F(CollectionServiceTest, RecordsIntoADirectoryItMakesAndRefusesOneItCannot) {
  const auto directory = root_ / "new" / "batches";
  {
    CollectionServiceProcess service({"--record", directory.string()});
    ASSERT_GT(service.port(), 0);
    EXPECT_EQ(exchange("POST", service.url("/a"), oneBatch()).status, 204);
  }
  EXPECT_EQ(recorded(directory), std::vector<std::string>{"batch-000001.pb"});
  std::ofstream(root_ / "a-file") << "not a directory";
  CollectionServiceProcess refused({"--record", (root_ / "a-file" / "batches").string()});
  EXPECT_EQ(refused.port(), 0);
}

TEST_F(CollectionServiceTest, ServesExperimentsCompressedAndFailsOnRequest) {
  std::ofstream(root_ / "experiments.pb", std::ios::binary) << "snapshot";
  CollectionServiceProcess service({"--experiments", (root_ / "experiments.pb").string()});
  ASSERT_GT(service.port(), 0);
  Answer answer = exchange("POST", service.url("/sdk-exp"));
  ASSERT_EQ(answer.status, 200);
  auto inflated = platform::gunzip(answer.body);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(std::string(inflated->begin(), inflated->end()), "snapshot");

  // Failures apply to the next answers only, then the service is itself again.
  EXPECT_EQ(exchange("POST", service.url("/control/fail?status=429&count=2")).status, 204);
  EXPECT_EQ(exchange("POST", service.url("/sdk-exp")).status, 429);
  EXPECT_EQ(exchange("GET", service.url("/config/app/x")).status, 429);
  EXPECT_EQ(exchange("GET", service.url("/config/app/x")).status, 404);
  EXPECT_EQ(exchange("POST", service.url("/control/fail?status=42")).status, 400);
}

TEST_F(CollectionServiceTest, StopsAtItsRequestBound) {
  CollectionServiceProcess service({"--max-requests", "2"});
  ASSERT_GT(service.port(), 0);
  EXPECT_EQ(exchange("GET", service.url("/config/app/x")).status, 404);
  EXPECT_EQ(exchange("GET", service.url("/config/app/x")).status, 404);
  EXPECT_NE(exchange("GET", service.url("/config/app/x")).status, 404);
}

}  // namespace
