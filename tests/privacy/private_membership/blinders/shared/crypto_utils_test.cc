// The salted digests, bucket ids and value decryption of the blinders client.
#include "privacy/private_membership/blinders/shared/crypto_utils.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "absl/strings/escaping.h"
#include "privacy/private_membership/blinders/shared/hashed_bucket_id.h"
#include "privacy/private_membership/common/crypto_utils.h"
#include "privacy/private_membership/testing/server_double.h"

namespace private_membership::blinders {
namespace {

std::string Hex(absl::string_view bytes) { return absl::BytesToHexString(bytes); }

// SHA-256 over each fixed salt followed by "user@example.com", computed independently.
constexpr char kBucketHash[] = "8f1e73e36bf990101ccb59babb86a2316284e8bae28386430c8abec84fbc7d6b";
constexpr char kLookupHash[] = "f4908baa4ed773b580fb7ad84ace62e43bf0a1e80e42067a9f2265857697eca6";
constexpr char kValueKey[] = "d5363ed6a90c18b506d24ae409e4e61c5c38750ff57a356e1e22299cd25f5253";

class BlindersCryptoUtilsTest : public ::testing::Test {
 protected:
  ::blinders::Context context_;
};

TEST_F(BlindersCryptoUtilsTest, SaltedDigests) {
  EXPECT_EQ(Hex(ComputeBucketHash(kSha256, "user@example.com", &context_).value()), kBucketHash);
  EXPECT_EQ(Hex(ComputeBucketHash(kSha256Alternate, "user@example.com", &context_).value()), kBucketHash);
  EXPECT_EQ(Hex(ComputeLookupHash("user@example.com", &context_)), kLookupHash);
  EXPECT_EQ(Hex(DeriveValueKey("user@example.com", &context_).value()), kValueKey);
  // Empty input: the digest of the salt alone.
  EXPECT_EQ(Hex(ComputeLookupHash("", &context_)),
            "6db93de9feaa1ae73d00a87101c3b003f506ecf3560d909ad28fe68781a0e4e4");
  for (int type : {0, 3, 7, -1}) {
    absl::Status s = ComputeBucketHash(type, "x", &context_).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInvalidArgument);
    EXPECT_EQ(s.message(), "Specified an invalid hash type.");
  }
}

TEST_F(BlindersCryptoUtilsTest, HashedBucketIdTable) {
  struct Case {
    int bits;
    int hash_type;
    std::string hex;        // when it succeeds
    std::string error;      // when it fails
  } cases[] = {
      {0, 7, "", ""},  // no hashing, so no check of the hash type
      {1, 7, "", "Specified an invalid hash type."},
      {12, 2, "8f10", ""},
      {16, 1, "8f1e", ""},
      {256, 2, kBucketHash, ""},
      {257, 2, "", "Truncation bit length out of bounds."},
      {-1, 2, "", "Hash prefix length must be non-negative."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    absl::StatusOr<HashedBucketId> id = HashedBucketId::Create("user@example.com", c.bits, c.hash_type, &context_);
    if (c.error.empty()) {
      ASSERT_TRUE(id.ok()) << id.status();
      EXPECT_EQ(*id, (HashedBucketId{absl::HexStringToBytes(c.hex), c.bits, c.hash_type}));
    } else {
      ASSERT_FALSE(id.ok());
      EXPECT_EQ(id.status().code(), absl::StatusCode::kInvalidArgument);
      EXPECT_EQ(id.status().message(), c.error);
    }
  }
  // From a query id: only the non-sensitive id counts.
  const QueryId query{"tag", "user@example.com", "secret"};
  const PrivateMembershipBlindersParameters parameters{12, 2, 0};
  EXPECT_EQ(HashedBucketId::Create(query, parameters, &context_).value(),
            (HashedBucketId{absl::HexStringToBytes("8f10"), 12, 2}));
}

TEST_F(BlindersCryptoUtilsTest, DecryptValueUnderEachScheme) {
  const std::string id = "server-encrypted id";
  const std::string key = DeriveValueKey(id, &context_).value();
  for (int32_t scheme : {kAesCtr256WithFixedIv, kAesCtr256NoAuth, kAesGcm256}) {
    SCOPED_TRACE(scheme);
    auto cipher = CreateCipher(scheme, key).value();
    // Schemes 1 and 3 carry the value behind a length prefix, with trailing padding ignored.
    const std::string plaintext =
        scheme == kAesCtr256NoAuth ? std::string("value") : testing::EncodeLengthPrefixed("value") + "pad";
    const std::string ciphertext = cipher->Encrypt(plaintext).value();
    EXPECT_EQ(DecryptValue(id, ciphertext, scheme, &context_).value(), "value");
    EXPECT_EQ(DecryptValueWithKey(key, ciphertext, scheme).value(), "value");
  }
  // Scheme 2 removes no prefix.
  auto no_auth = CreateCipher(kAesCtr256NoAuth, key).value();
  const std::string prefixed = testing::EncodeLengthPrefixed("value");
  EXPECT_EQ(DecryptValueWithKey(key, no_auth->Encrypt(prefixed).value(), kAesCtr256NoAuth).value(), prefixed);
}

TEST_F(BlindersCryptoUtilsTest, DecryptValueFailures) {
  const std::string key(32, 'k');
  auto fixed = CreateCipher(kAesCtr256WithFixedIv, key).value();
  struct Case {
    std::string key;
    std::string ciphertext;
    int32_t scheme;
    absl::StatusCode code;
    std::string message;
  } cases[] = {
      {key, "abc", 9, absl::StatusCode::kInvalidArgument, "Unsupported encryption scheme: 9"},
      {"short", "abc", kAesCtr256NoAuth, absl::StatusCode::kInvalidArgument, "Key size is invalid."},
      {key, "abc", kAesCtr256NoAuth, absl::StatusCode::kInternal, "Ciphertext is too short."},
      {key, "abc", kAesCtr256WithFixedIv, absl::StatusCode::kInvalidArgument,
       "Invalid bytes does not encode length."},
      {key, fixed->Encrypt(testing::EncodeLengthPrefixed("value").substr(0, 7)).value(), kAesCtr256WithFixedIv,
       absl::StatusCode::kInvalidArgument, "Incorrect bytes length."},
      {key, "abc", kAesGcm256, absl::StatusCode::kInvalidArgument, "Ciphertext is too short."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    absl::Status s = DecryptValueWithKey(c.key, c.ciphertext, c.scheme).status();
    EXPECT_EQ(s.code(), c.code);
    EXPECT_EQ(s.message(), c.message);
  }
}

}  // namespace
}  // namespace private_membership::blinders
