#include "platform/crypto/SecureStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "platform/TestTmp.h"
#include "platform/crypto/Digest.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

unsigned modeOf(const fs::path& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

class SecureStoreTest : public ::testing::Test {
 protected:
  tabulo_test::TestTmp tmp;
  fs::path dir = tmp.path() / "Keychain";
  fs::path file = dir / SecureStore::kFileName;
};

TEST_F(SecureStoreTest, StoresReplacesAndRemovesItemsAcrossInstances) {
  Error error;
  SecureStore store(dir);
  EXPECT_FALSE(store.get("svc", "acct", &error));
  EXPECT_EQ(error.code, kSecureStoreErrorItemNotFound);
  EXPECT_TRUE(store.remove("svc", "acct")) << "removing what is not there succeeds";
  EXPECT_FALSE(fs::exists(dir)) << "reading and removing create nothing";

  const Bytes secret = {0x00, 0xff, 0x10, 0x00};
  ASSERT_TRUE(store.set("svc", "acct", secret, &error)) << error.toString();
  ASSERT_TRUE(store.set("svc", "other", Bytes(), &error)) << error.toString();
  ASSERT_TRUE(store.set("svc2", "acct", bytesOf("v1"), &error));
  ASSERT_TRUE(store.set("svc2", "acct", bytesOf("v2"), &error));

  SecureStore reopened(dir);
  EXPECT_EQ(reopened.get("svc", "acct"), secret);
  EXPECT_EQ(reopened.get("svc", "other"), Bytes()) << "an empty item is not an absent one";
  EXPECT_EQ(reopened.get("svc2", "acct"), bytesOf("v2"));
  EXPECT_FALSE(reopened.get("svc", "acct2"));

  EXPECT_TRUE(reopened.remove("svc", "acct"));
  EXPECT_FALSE(store.get("svc", "acct", &error));
  EXPECT_EQ(error.code, kSecureStoreErrorItemNotFound);
  EXPECT_EQ(store.get("svc2", "acct"), bytesOf("v2"));
}

TEST_F(SecureStoreTest, CreatesAPrivateDirectoryAndFileWhateverTheUmask) {
  const mode_t old = ::umask(0);
  const bool stored = SecureStore(dir).set("s", "a", bytesOf("x"));
  ::umask(old);
  ASSERT_TRUE(stored);
  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(file), 0600u);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{SecureStore::kFileName}) << "no temporary file is left behind";
}

TEST_F(SecureStoreTest, RefusesLoosePermissionsAndLinksWithoutTouchingThem) {
  SecureStore store(dir);
  ASSERT_TRUE(store.set("s", "a", bytesOf("secret")));
  const Bytes stored = readFile(file);

  struct Case {
    const char* what;
    std::function<void()> spoil;
    std::function<void()> restore;
  };
  const fs::path elsewhere = tmp.path() / "elsewhere";
  const Case cases[] = {
      {"group-readable file", [&] { ::chmod(file.c_str(), 0640); }, [&] { ::chmod(file.c_str(), 0600); }},
      {"world-writable file", [&] { ::chmod(file.c_str(), 0602); }, [&] { ::chmod(file.c_str(), 0600); }},
      {"group-searchable directory", [&] { ::chmod(dir.c_str(), 0710); }, [&] { ::chmod(dir.c_str(), 0700); }},
      {"world-readable directory", [&] { ::chmod(dir.c_str(), 0755); }, [&] { ::chmod(dir.c_str(), 0700); }},
      {"file is a symbolic link",
       [&] {
         fs::rename(file, elsewhere);
         fs::create_symlink(elsewhere, file);
       },
       [&] {
         fs::remove(file);
         fs::rename(elsewhere, file);
       }},
      {"directory is a symbolic link",
       [&] {
         fs::rename(dir, elsewhere);
         fs::create_directory_symlink(elsewhere, dir);
       },
       [&] {
         fs::remove(dir);
         fs::rename(elsewhere, dir);
       }},
  };
  for (const auto& c : cases) {
    c.spoil();
    Error error;
    EXPECT_FALSE(store.get("s", "a", &error)) << c.what;
    EXPECT_EQ(error.code, kSecureStoreErrorInsecure) << c.what << ": " << error.toString();
    error = Error();
    EXPECT_FALSE(store.set("s", "b", bytesOf("more"), &error)) << c.what;
    EXPECT_EQ(error.code, kSecureStoreErrorInsecure) << c.what;
    EXPECT_FALSE(store.remove("s", "a")) << c.what;
    c.restore();
    EXPECT_EQ(readFile(file), stored) << c.what << ": the store is left as it was";
    EXPECT_EQ(modeOf(file), 0600u) << c.what;
    EXPECT_EQ(modeOf(dir), 0700u) << c.what;
  }
  EXPECT_EQ(store.get("s", "a"), bytesOf("secret"));
}

TEST_F(SecureStoreTest, DamagedFileIsReportedAndNeverOverwritten) {
  SecureStore store(dir);
  ASSERT_TRUE(store.set("s", "a", bytesOf("secret")));
  Bytes damaged = readFile(file);
  damaged[10] ^= 0x40;
  writeFile(file, damaged);

  Error error;
  EXPECT_FALSE(store.get("s", "a", &error));
  EXPECT_EQ(error.code, kSecureStoreErrorCorrupt) << error.toString();
  EXPECT_FALSE(store.set("s", "b", bytesOf("x"), &error));
  EXPECT_EQ(error.code, kSecureStoreErrorCorrupt);
  EXPECT_FALSE(store.remove("s", "a", &error));
  EXPECT_EQ(readFile(file), damaged);
}

TEST_F(SecureStoreTest, AWriteCutOffBeforeItsRenameLeavesTheOldItems) {
  SecureStore store(dir);
  ASSERT_TRUE(store.set("s", "a", bytesOf("old")));
  // What a crash between writing the temporary file and renaming it leaves.
  const fs::path leftover = dir / ".secure-store.tmp-0011223344556677";
  writeFile(leftover, bytesOf("half a fi"));
  ::chmod(leftover.c_str(), 0600);

  EXPECT_EQ(SecureStore(dir).get("s", "a"), bytesOf("old"));
  ASSERT_TRUE(store.set("s", "b", bytesOf("new")));
  EXPECT_FALSE(fs::exists(leftover)) << "the next write clears what a crashed one left";
  EXPECT_EQ(store.get("s", "a"), bytesOf("old"));
  EXPECT_EQ(store.get("s", "b"), bytesOf("new"));
}

TEST_F(SecureStoreTest, ConcurrentWritersThroughSeparateInstancesLoseNothing) {
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([this, w] {
      SecureStore store(dir);
      for (int i = 0; i < 10; ++i) EXPECT_TRUE(store.set("w" + std::to_string(w), std::to_string(i), bytesOf("v")));
    });
  }
  for (auto& t : writers) t.join();
  auto items = SecureStore::decode(readFile(file));
  ASSERT_TRUE(items);
  EXPECT_EQ(items->size(), 40u);
}

// A body with a correct checksum, so that the structure checks are what fails.
Bytes sealed(Bytes body) {
  const auto sum = Digest::sha256(std::span<const uint8_t>(body));
  body.insert(body.end(), sum.begin(), sum.end());
  return body;
}

TEST(SecureStoreFile, DecodeRefusesEveryMalformedFile) {
  const SecureStore::Items items = {{{"a", "x"}, bytesOf("1")}, {{"b", ""}, Bytes()}};
  const Bytes good = SecureStore::encode(items);
  EXPECT_EQ(SecureStore::decode(good), items);
  EXPECT_EQ(SecureStore::decode(SecureStore::encode({})), SecureStore::Items());

  const Bytes body(good.begin(), good.end() - 32);
  const Bytes header = {'T', 'B', 'S', 'S', 1};
  auto withCount = [&](uint8_t count, Bytes rest) {
    Bytes b = header;
    b.insert(b.end(), {0, 0, 0, count});
    b.insert(b.end(), rest.begin(), rest.end());
    return sealed(b);
  };
  const Bytes itemA = {0, 0, 0, 1, 'a', 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes twoA = itemA;
  twoA.insert(twoA.end(), itemA.begin(), itemA.end());
  Bytes badChecksum = good;
  badChecksum.back() ^= 1;
  Bytes version2 = body;
  version2[4] = 2;
  Bytes trailing = body;
  trailing.push_back(0);

  const std::pair<const char*, Bytes> cases[] = {
      {"empty", {}},
      {"wrong magic", sealed({'T', 'B', 'S', 'X', 1, 0, 0, 0, 0})},
      {"checksum", badChecksum},
      {"cut short", Bytes(good.begin(), good.end() - 1)},
      {"unknown version", sealed(version2)},
      {"count beyond the items", withCount(3, itemA)},
      {"huge count", withCount(0xff, {})},
      {"length beyond the end", withCount(1, {0xff, 0xff, 0xff, 0xff, 'a'})},
      {"duplicate keys", withCount(2, twoA)},
      {"trailing bytes", sealed(trailing)},
  };
  for (const auto& [what, file] : cases) {
    Error error;
    EXPECT_EQ(SecureStore::decode(file, &error), std::nullopt) << what;
    EXPECT_EQ(error.code, kSecureStoreErrorCorrupt) << what;
  }
}

}  // namespace
}  // namespace platform
