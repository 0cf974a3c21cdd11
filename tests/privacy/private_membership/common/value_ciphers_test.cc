// The three value ciphers: published vectors decrypting through our classes,
// ciphertext lengths, fresh IVs and nonces, and every refusal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "absl/strings/escaping.h"
#include "privacy/private_membership/common/aes_ctr_256_no_auth.h"
#include "privacy/private_membership/common/aes_ctr_256_with_fixed_iv.h"
#include "privacy/private_membership/common/aes_gcm_256.h"

namespace private_membership {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Bytes(absl::string_view hex) { return absl::HexStringToBytes(hex); }

const std::string kKey(32, '\x42');

template <typename C>
std::unique_ptr<Cipher> Make(const std::string& key = kKey) {
  return std::unique_ptr<Cipher>(std::move(C::Create(key)).value());
}

// NIST SP 800-38A, F.5.5 (CTR-AES256.Encrypt): the IV travels in front of the ciphertext.
TEST(ValueCiphersTest, AesCtr256NoAuthDecryptsNistVector) {
  const std::string key = Bytes("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const std::string counter = Bytes("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  const std::string plaintext = Bytes(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const std::string ciphertext = Bytes(
      "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
      "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6");
  auto cipher = Make<AesCtr256NoAuth>(key);
  EXPECT_EQ(cipher->Decrypt(counter + ciphertext).value(), plaintext);
  // A partial last block decrypts as the prefix of the stream.
  EXPECT_EQ(cipher->Decrypt(counter + ciphertext.substr(0, 21)).value(), plaintext.substr(0, 21));
}

// The fixed-IV cipher is the same stream with a zero counter block.
TEST(ValueCiphersTest, AesCtr256WithFixedIVIsCounterModeFromZero) {
  const std::string key = Bytes("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const std::string message = "forty-one bytes of a value, not a block multiple";
  auto fixed = Make<AesCtr256WithFixedIV>(key);
  auto with_iv = Make<AesCtr256NoAuth>(key);
  const std::string ciphertext = fixed->Encrypt(message).value();
  EXPECT_EQ(with_iv->Decrypt(std::string(16, '\0') + ciphertext).value(), message);
  EXPECT_EQ(fixed->Decrypt(ciphertext).value(), message);
}

// The GCM test vectors of McGrew and Viega, cases 13 to 15 (AES-256, no associated data).
TEST(ValueCiphersTest, AesGcm256DecryptsPublishedVectors) {
  struct Case {
    const char* key;
    const char* nonce;
    const char* plaintext;
    const char* ciphertext_and_tag;
  } cases[] = {
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "",
       "530f8afbc74536b9a963b4f1c4cb738b"},
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
       "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
      {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
       "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
       "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
       "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
       "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad"
       "b094dac5d93471bdec1a502270e3cc6c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plaintext);
    auto cipher = Make<AesGcm256>(Bytes(c.key));
    EXPECT_EQ(cipher->Decrypt(Bytes(c.nonce) + Bytes(c.ciphertext_and_tag)).value(), Bytes(c.plaintext));
  }
}

TEST(ValueCiphersTest, RoundTripsAndCiphertextLengths) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Cipher>()> make;
    size_t overhead;
    bool fresh_per_encryption;
  } cases[] = {
      {"no auth", [] { return Make<AesCtr256NoAuth>(); }, 16, true},
      {"fixed IV", [] { return Make<AesCtr256WithFixedIV>(); }, 0, false},
      {"GCM", [] { return Make<AesGcm256>(); }, 28, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cipher = c.make();
    for (size_t n : {0, 1, 5, 16, 17, 100}) {
      const std::string plaintext(n, static_cast<char>('a' + n % 26));
      const std::string ciphertext = cipher->Encrypt(plaintext).value();
      EXPECT_EQ(ciphertext.size(), n + c.overhead);
      EXPECT_EQ(cipher->Decrypt(ciphertext).value(), plaintext);
    }
    EXPECT_EQ(cipher->Encrypt(absl::string_view()).value().size(), c.overhead);  // null view: empty
    const std::string a = cipher->Encrypt("same value").value();
    const std::string b = cipher->Encrypt("same value").value();
    EXPECT_EQ(a != b, c.fresh_per_encryption);
  }
}

TEST(ValueCiphersTest, ShortAndMinimalCiphertexts) {
  auto no_auth = Make<AesCtr256NoAuth>();
  auto fixed = Make<AesCtr256WithFixedIV>();
  auto gcm = Make<AesGcm256>();

  EXPECT_EQ(no_auth->Decrypt(std::string(16, 'x')).value(), "");
  absl::Status s = no_auth->Decrypt(std::string(15, 'x')).status();
  EXPECT_EQ(s.code(), absl::StatusCode::kInternal);
  EXPECT_EQ(s.message(), "Ciphertext is too short.");

  EXPECT_EQ(fixed->Decrypt("").value(), "");
  for (const Cipher* cipher : {static_cast<const Cipher*>(no_auth.get()), static_cast<const Cipher*>(fixed.get())}) {
    s = cipher->Decrypt(absl::string_view()).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInternal);
    EXPECT_EQ(s.message(), "Invalid null ciphertext.");
  }

  s = gcm->Decrypt(std::string(11, 'x')).status();
  EXPECT_EQ(s.code(), absl::StatusCode::kInvalidArgument);
  EXPECT_EQ(s.message(), "Ciphertext is too short.");
  for (size_t n : {12, 20, 27}) {
    s = gcm->Decrypt(std::string(n, 'x')).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInternal) << n;
    EXPECT_THAT(std::string(s.message()), StartsWith("EVP_AEAD_CTX_open failed:")) << n;
  }
}

TEST(ValueCiphersTest, GcmRefusesAlteredCiphertextsWithTheLibraryText) {
  auto gcm = Make<AesGcm256>();
  const std::string ciphertext = gcm->Encrypt("value").value();
  for (size_t byte : {size_t{0}, size_t{12}, ciphertext.size() - 1}) {  // nonce, body, tag
    std::string altered = ciphertext;
    altered[byte] = static_cast<char>(altered[byte] ^ 0x01);
    absl::Status s = gcm->Decrypt(altered).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInternal);
    // The library's text follows the colon directly.
    EXPECT_THAT(std::string(s.message()), StartsWith("EVP_AEAD_CTX_open failed:error:"));
    EXPECT_THAT(std::string(s.message()), HasSubstr("BAD_DECRYPT"));
  }
  EXPECT_FALSE(Make<AesGcm256>(std::string(32, '\x43'))->Decrypt(ciphertext).ok());
}

TEST(ValueCiphersTest, KeysOfTheWrongSizeAreRefused) {
  for (size_t n : {0, 16, 31, 33}) {
    SCOPED_TRACE(n);
    const std::string key(n, 'k');
    absl::Status s = AesCtr256NoAuth::Create(key).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInvalidArgument);
    EXPECT_EQ(s.message(), "Key size is invalid.");
    s = AesCtr256WithFixedIV::Create(key).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInvalidArgument);
    EXPECT_EQ(s.message(), "Key size is invalid.");
    s = AesGcm256::Create(key).status();
    EXPECT_EQ(s.code(), absl::StatusCode::kInvalidArgument);
    EXPECT_EQ(s.message(), "AesGcm256::Create : Key size must be 32 bytes.");
  }
}

// One cipher object serves several threads at once.
TEST(ValueCiphersTest, OneObjectServesSeveralThreads) {
  std::vector<std::unique_ptr<Cipher>> ciphers;
  ciphers.push_back(Make<AesCtr256NoAuth>());
  ciphers.push_back(Make<AesCtr256WithFixedIV>());
  ciphers.push_back(Make<AesGcm256>());
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string plaintext(40 + t, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) {
        for (const auto& cipher : ciphers) {
          absl::StatusOr<std::string> ciphertext = cipher->Encrypt(plaintext);
          if (!ciphertext.ok() || cipher->Decrypt(*ciphertext).value_or("") != plaintext) ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace private_membership
