#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <openssl/nid.h>

#include "privacy/blinders/cpp/crypto/test_util.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_group.h"

namespace blinders {
namespace {

using namespace std::string_literals;
using ::testing::StartsWith;

std::unique_ptr<ECCommutativeCipher> NewCipher(int hash_type = ECCommutativeCipher::HASH_SHA256,
                                               int curve_id = NID_X9_62_prime256v1) {
  return std::move(ECCommutativeCipher::CreateWithNewKey(curve_id, hash_type)).value();
}

TEST(ECCommutativeCipherTest, CreationErrors) {
  struct Case {
    int curve_id;
    int hash_type;
    std::string message_prefix;
  } cases[] = {
      {NID_X9_62_prime256v1, 4, "Invalid hash type."},
      {NID_X9_62_prime256v1, -1, "Invalid hash type."},
      {0, 0, "ECGroup::CreateGroup() - Could not create group. "},
      {0, 9, "ECGroup::CreateGroup() - Could not create group. "},  // the curve is reported first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.curve_id) + "/" + std::to_string(c.hash_type));
    auto cipher = ECCommutativeCipher::CreateWithNewKey(c.curve_id, c.hash_type);
    ASSERT_FALSE(cipher.ok());
    EXPECT_EQ(cipher.status().code(), absl::StatusCode::kInvalidArgument);
    EXPECT_THAT(std::string(cipher.status().message()), StartsWith(c.message_prefix));
  }
}

TEST(ECCommutativeCipherTest, EncryptIsDeterministicPerKey) {
  auto a = NewCipher();
  auto b = NewCipher();
  for (const std::string& m : {""s, "user@example.com"s, "\x00\xff"s}) {
    std::string c1 = a->Encrypt(m).value();
    EXPECT_EQ(c1.size(), 33u);
    EXPECT_EQ(a->Encrypt(m).value(), c1);
    EXPECT_NE(b->Encrypt(m).value(), c1);
  }
}

// For every hash type and random keys and messages: decryption removes exactly
// this cipher's layer, in whatever order the layers were applied.
TEST(ECCommutativeCipherTest, CommutativityAndInverse) {
  Context ctx;
  for (int hash_type = 0; hash_type < 4; ++hash_type) {
    SCOPED_TRACE(hash_type);
    for (int round = 0; round < 4; ++round) {
      auto client = NewCipher(hash_type);
      auto server = NewCipher(hash_type);
      const std::string m = ctx.RandomBytes(1 + round * 7);
      const std::string h = client->HashToTheCurve(m).value().ToBytesCompressed().value();
      if (hash_type != ECCommutativeCipher::HASH_SSWU_RO) {
        EXPECT_EQ(h[0], '\x02');  // the even root
      }

      // Inverse: Decrypt(Encrypt(m)) is H(m).
      EXPECT_EQ(client->Decrypt(client->Encrypt(m).value()).value(), h);

      // Layers commute: removing the server's layer from k_c^-1 * k_s * H(m)
      // leaves k_c^-1 * H(m), as if the server's layer had never been there.
      std::string mixed = client->Decrypt(server->Encrypt(m).value()).value();
      EXPECT_EQ(server->Decrypt(mixed).value(), client->Decrypt(h).value());
    }
  }
}

// A cipher with key k turns the encoding of k * s * Q back into s * Q, for any
// point Q and scalar s: the server's layer stays.
TEST(ECCommutativeCipherTest, DecryptLeavesTheServerLayer) {
  Context ctx;
  ECGroup group = std::move(ECGroup::Create(NID_X9_62_prime256v1, &ctx)).value();
  for (int round = 0; round < 5; ++round) {
    auto client = NewCipher();
    const std::string m = ctx.RandomBytes(12);
    BigNum s = group.DrawPrivateKey();
    ECPoint encrypted = group.CreateECPoint(client->Encrypt(m).value()).value();  // k * H(m)
    std::string server_layer = encrypted.Mul(s).value().ToBytesCompressed().value();  // s * k * H(m)
    std::string expected = group.HashToCurveSha256(m).value().Mul(s).value().ToBytesCompressed().value();
    EXPECT_EQ(client->Decrypt(server_layer).value(), expected);
  }
}

TEST(ECCommutativeCipherTest, DecryptAcceptsUncompressedAndRefusesInvalid) {
  Context ctx;
  ECGroup group = std::move(ECGroup::Create(NID_X9_62_prime256v1, &ctx)).value();
  auto cipher = NewCipher();
  const std::string c = cipher->Encrypt("abc").value();
  ECPoint point = group.CreateECPoint(c).value();
  std::string uncompressed(65, '\0');
  bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
  ASSERT_EQ(EC_POINT_point2oct(raw.get(), point.GetConstPointPtr(), POINT_CONVERSION_UNCOMPRESSED,
                               reinterpret_cast<uint8_t*>(uncompressed.data()), uncompressed.size(), nullptr),
            65u);
  EXPECT_EQ(cipher->Decrypt(uncompressed).value(), cipher->Decrypt(c).value());
  EXPECT_EQ(cipher->Decrypt(c).value().size(), 33u);

  for (const std::string& bad : {"\x05"s + std::string(32, '\x01'), ""s, c.substr(1)}) {
    auto result = cipher->Decrypt(bad);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.status().code(), absl::StatusCode::kInvalidArgument);
    EXPECT_THAT(std::string(result.status().message()), StartsWith("ECGroup::CreateECPoint(string) - Could not decode point."));
  }
}

TEST(ECCommutativeCipherTest, WorksOnP384) {
  for (int hash_type = 0; hash_type < 4; ++hash_type) {
    auto cipher = NewCipher(hash_type, NID_secp384r1);
    std::string c = cipher->Encrypt("abc").value();
    EXPECT_EQ(c.size(), 49u);
    EXPECT_EQ(cipher->Decrypt(c).value(), cipher->HashToTheCurve("abc").value().ToBytesCompressed().value());
  }
}

}  // namespace
}  // namespace blinders
