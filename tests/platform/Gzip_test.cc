#include "platform/compression/Gzip.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "TestTmp.h"
#include "platform/util/Random.h"

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Text that compresses well, followed by noise that does not.
Bytes sample(size_t textRepeats, size_t noise) {
  Bytes out;
  for (size_t i = 0; i < textRepeats; ++i) {
    std::string line = "row " + std::to_string(i) + ",alpha,beta,gamma\n";
    out.insert(out.end(), line.begin(), line.end());
  }
  SeededRandom r(9);
  Bytes tail = r.bytes(noise);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

Bytes gz(const Bytes& data) {
  auto out = gzip(data);
  EXPECT_TRUE(out.has_value());
  return out.value_or(Bytes());
}

void writeFile(const std::filesystem::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int run(const std::string& command) { return std::system(command.c_str()); }

TEST(Gzip, RoundTrips) {
  for (const Bytes& data : {Bytes(), bytesOf("a"), sample(20000, 0), sample(10, 200000)}) {
    Error error;
    auto inflated = gunzip(gz(data), &error);
    ASSERT_TRUE(inflated) << error.toString();
    EXPECT_EQ(*inflated, data);
  }
}

TEST(Gzip, OurOutputIsReadByTheGzipProgramAndTheirsByUs) {
  tabulo_test::TestTmp tmp;
  const Bytes data = sample(5000, 3000);

  writeFile(tmp.path() / "ours.gz", gz(data));
  ASSERT_EQ(run("gzip -d " + (tmp.path() / "ours.gz").string()), 0);
  EXPECT_EQ(readFile(tmp.path() / "ours"), data);

  writeFile(tmp.path() / "theirs", data);
  ASSERT_EQ(run("gzip -9 -n -c " + (tmp.path() / "theirs").string() + " > " + (tmp.path() / "theirs.gz").string()), 0);
  // With the file name and time kept in the header too.
  ASSERT_EQ(run("gzip -N -c " + (tmp.path() / "theirs").string() + " > " + (tmp.path() / "named.gz").string()), 0);
  for (const char* name : {"theirs.gz", "named.gz"}) {
    Error error;
    auto inflated = hvu_dataByInflatingGzippedData(readFile(tmp.path() / name), &error);
    ASSERT_TRUE(inflated) << name << ": " << error.toString();
    EXPECT_EQ(*inflated, data) << name;
  }
}

TEST(Gzip, ConcatenatedMembersAreJoinedAsGzipDoes) {
  Bytes both = gz(bytesOf("first,"));
  Bytes second = gz(bytesOf("second"));
  both.insert(both.end(), second.begin(), second.end());
  auto inflated = gunzip(both);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, bytesOf("first,second"));
}

TEST(Gzip, BadInputsFailWithTheirReason) {
  const Bytes good = gz(sample(200, 100));
  struct Case {
    const char* name;
    Bytes input;
    GzipErrorCode code;
  };
  std::vector<Case> cases = {
      {"empty", {}, kGzipErrorTruncated},
      {"magic only", {0x1f, 0x8b}, kGzipErrorTruncated},
      {"not gzip", bytesOf("plain text, not compressed"), kGzipErrorCorrupt},
      {"zlib stream", {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, kGzipErrorCorrupt},
  };
  for (size_t cut : {size_t{10}, good.size() / 2, good.size() - 8, good.size() - 1}) {
    cases.push_back({"truncated", Bytes(good.begin(), good.begin() + cut), kGzipErrorTruncated});
  }
  Bytes badMethod = good;
  badMethod[2] = 7;  // compression method other than deflate
  cases.push_back({"bad method", badMethod, kGzipErrorCorrupt});
  Bytes badCrc = good;
  badCrc[good.size() - 6] ^= 0x01;
  cases.push_back({"bad CRC", badCrc, kGzipErrorCorrupt});
  Bytes badLength = good;
  badLength[good.size() - 3] ^= 0x01;
  cases.push_back({"bad length", badLength, kGzipErrorCorrupt});
  Bytes trailing = good;
  trailing.insert(trailing.end(), {'x', 'y'});
  cases.push_back({"trailing garbage", trailing, kGzipErrorTrailingData});
  Bytes trailingByte = good;
  trailingByte.push_back(0x1f);
  cases.push_back({"one trailing byte", trailingByte, kGzipErrorTrailingData});
  Bytes halfSecondMember = good;
  halfSecondMember.insert(halfSecondMember.end(), good.begin(), good.begin() + 12);
  cases.push_back({"second member cut short", halfSecondMember, kGzipErrorTruncated});

  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(gunzip(c.input, &error)) << c.name;
    EXPECT_EQ(error.domain, kGzipErrorDomain) << c.name;
    EXPECT_EQ(error.code, c.code) << c.name << ": " << error.toString();
    Error hvuError;
    EXPECT_FALSE(hvu_dataByInflatingGzippedData(c.input, &hvuError)) << c.name;
    EXPECT_EQ(hvuError, error) << c.name;
  }
}

TEST(Gzip, InflatedSizeIsCapped) {
  const Bytes data(1000, 'z');
  const Bytes packed = gz(data);
  EXPECT_TRUE(gunzip(packed, 1000));
  Error error;
  EXPECT_FALSE(gunzip(packed, 999, &error));
  EXPECT_EQ(error.code, kGzipErrorTooLarge);
  EXPECT_FALSE(gunzip(packed, size_t{0}));

  // The default cap holds across members: 65 members of 1 MiB of zeros each
  // (a few kilobytes on the wire) go over 64 MiB.
  const Bytes member = gz(Bytes(size_t{1} << 20, 0));
  Bytes bomb;
  for (int i = 0; i < 65; ++i) bomb.insert(bomb.end(), member.begin(), member.end());
  ASSERT_LT(bomb.size(), 100000u);
  EXPECT_FALSE(hvu_dataByInflatingGzippedData(bomb, &error));
  EXPECT_EQ(error.code, kGzipErrorTooLarge);
  bomb.resize(member.size() * 64);
  auto atCap = hvu_dataByInflatingGzippedData(bomb);
  ASSERT_TRUE(atCap);
  EXPECT_EQ(atCap->size(), kGzipDefaultMaxInflatedSize);
}

TEST(Gzip, UtilityFormCompresses) {
  auto packed = hvu_dataByGzippingData(bytesOf("payload"));
  ASSERT_TRUE(packed);
  ASSERT_GE(packed->size(), 18u);
  EXPECT_EQ((*packed)[0], 0x1f);
  EXPECT_EQ((*packed)[1], 0x8b);
  EXPECT_EQ(gunzip(*packed), bytesOf("payload"));
}

}  // namespace
}  // namespace platform
