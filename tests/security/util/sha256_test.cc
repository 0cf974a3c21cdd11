#include "security/util/sha256.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "absl/strings/escaping.h"

namespace security {
namespace {

std::string Hex(const std::string& bytes) { return absl::BytesToHexString(bytes); }

struct Fips180Vector {
  std::string message;
  std::string digest_hex;
};

const Fips180Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(SHA256Test, PublishedVectorsInOneUpdate) {
  for (const Fips180Vector& v : kVectors) {
    SHA256 hash;
    hash.Update(v.message.data(), v.message.size());
    EXPECT_EQ(Hex(hash.Digest()), v.digest_hex) << v.message.substr(0, 20);
  }
}

// Pieces that straddle the 64-byte block boundary in different ways, through
// both Update forms.
TEST(SHA256Test, PublishedVectorsSplitAcrossUpdates) {
  for (const Fips180Vector& v : kVectors) {
    for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 1000u}) {
      SHA256 hash;
      bool as_int = false;
      for (size_t at = 0; at < v.message.size(); at += piece) {
        const size_t n = std::min(piece, v.message.size() - at);
        if (as_int) {
          hash.Update(v.message.data() + at, static_cast<int>(n));
        } else {
          hash.Update(v.message.data() + at, n);
        }
        as_int = !as_int;
      }
      EXPECT_EQ(Hex(hash.Digest()), v.digest_hex) << "piece " << piece;
    }
  }
}

TEST(SHA256Test, DigestIsStableAndResetStartsAgain) {
  SHA256 hash;
  hash.Update("abc", 3);
  const std::string first = hash.Digest();
  EXPECT_EQ(hash.Digest(), first);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(hash.RawDigest()), 32), first);
  hash.Reset();
  hash.Update("", size_t{0});
  EXPECT_EQ(Hex(hash.Digest()), kVectors[0].digest_hex);
  hash.Reset();
  hash.Update("abc", size_t{3});
  EXPECT_EQ(hash.Digest(), first);
}

TEST(SHA256Test, CloneAndCopyContinueIndependently) {
  SHA256 hash;
  hash.Update("ab", 2);
  std::unique_ptr<MerkleDamgaard> clone = hash.Clone();
  clone->Update("x", 1);
  hash.Update("c", 1);
  EXPECT_EQ(Hex(hash.Digest()), kVectors[1].digest_hex);
  EXPECT_NE(Hex(clone->Digest()), kVectors[1].digest_hex);

  SHA256 copy;
  copy.Update("unrelated", 9);
  copy.CopyFrom(hash);  // takes the finalised state too
  EXPECT_EQ(Hex(copy.Digest()), kVectors[1].digest_hex);
}

TEST(SHA256Test, Description) {
  SHA256 a;
  SHA256 b;
  EXPECT_EQ(a.Name(), "SHA256");
  EXPECT_EQ(a.DigestSize(), 32);
  EXPECT_EQ(a.SharedDigestSize(), 32);
  EXPECT_EQ(&a.SharedDigestSize(), &b.SharedDigestSize());
}

TEST(SHA256Test, UpdateAfterDigestLogSeverityIsClamped) {
  const int before = UpdateAfterDigestLogSeverity();
  SetUpdateAfterDigestLogSeverity(-4);
  EXPECT_EQ(UpdateAfterDigestLogSeverity(), 0);
  SetUpdateAfterDigestLogSeverity(9);
  EXPECT_EQ(UpdateAfterDigestLogSeverity(), 2);
  SetUpdateAfterDigestLogSeverity(before);
}

class OtherHash : public MerkleDamgaard {
 public:
  void Reset() override {}
  void Update(const void*, int) override {}
  void Update(const void*, size_t) override {}
  const uint8_t* RawDigest() override { return nullptr; }
  int DigestSize() const override { return 0; }
  std::string Digest() override { return ""; }
  const int& SharedDigestSize() const override {
    static const int zero = 0;
    return zero;
  }
  void CopyFrom(const MerkleDamgaard&) override {}
  std::unique_ptr<MerkleDamgaard> Clone() const override { return nullptr; }
  std::string Name() const override { return "other"; }
};

TEST(SHA256DeathTest, FatalChecks) {
  {
    SHA256 hash;
    hash.Digest();
    EXPECT_DEATH(hash.Update("x", 1),
                 "Calling Update on a MerkleDamgaard hash function after finalization \\(a call to Digest\\) is "
                 "undefined\\.(.|\n)*Check failed: !finalized_ This behavior is unsupported except for potential "
                 "legacy implementations\\.");
    EXPECT_DEATH(hash.Clone(), "Check failed: !h_->finalized\\(\\)");
  }
  {
    SHA256 hash;
    hash.Digest();
    EXPECT_DEATH(
        {
          SetUpdateAfterDigestLogSeverity(3);  // the log line itself stops the process
          hash.Update("x", size_t{1});
        },
        "^F.*Calling Update on a MerkleDamgaard hash function after finalization");
  }
  {
    SHA256 hash;
    OtherHash other;
    EXPECT_DEATH(hash.CopyFrom(other),
                 "To down_cast\\(From \\*\\) \\[To = const security::SHA256 ?\\*, From = const "
                 "security::MerkleDamgaard\\]: down_cast failed \\(actual type = security::\\(anonymous "
                 "namespace\\)::OtherHash\\)");
  }
}

}  // namespace
}  // namespace security
