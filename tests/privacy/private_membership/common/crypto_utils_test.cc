// Truncation, binning, resizing, the length prefix and the cipher factory.
#include "privacy/private_membership/common/crypto_utils.h"

#include <gtest/gtest.h>

#include <string>

#include "absl/strings/escaping.h"

namespace private_membership {
namespace {

using namespace std::string_literals;

std::string Hex(absl::string_view bytes) { return absl::BytesToHexString(bytes); }

void ExpectInvalid(const absl::Status& status, absl::string_view message) {
  EXPECT_EQ(status.code(), absl::StatusCode::kInvalidArgument);
  EXPECT_EQ(status.message(), message);
}

TEST(CryptoUtilsTest, TruncateBitsKeepsTheLeadingBits) {
  struct Case {
    std::string bytes;
    int bits;
    std::string hex;
  } cases[] = {
      {"\xff\xff", 9, "ff80"}, {"\xff\xff", 16, "ffff"}, {"\xff\xff", 0, ""},
      {"\xab\xcd\xef", 12, "abc0"}, {"\xab\xcd\xef", 1, "80"}, {"\x7f", 1, "00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(TruncateBits(c.bytes, c.bits).value()), c.hex) << c.bits;
  }
  for (int bits : {-1, 17}) ExpectInvalid(TruncateBits("\xff\xff", bits).status(), "Truncation bit length out of bounds.");
  ExpectInvalid(TruncateBits("", 1).status(), "Truncation bit length out of bounds.");
}

TEST(CryptoUtilsTest, BinnedHashIsTheTopLog2BinsBits) {
  const std::string hash = "\xd5\x36\x3e\xd6"s + std::string(28, '\x11');
  EXPECT_EQ(ComputeBinnedHash(hash, 1).value(), "");
  EXPECT_EQ(Hex(ComputeBinnedHash(hash, 2).value()), "80");
  EXPECT_EQ(Hex(ComputeBinnedHash(hash, 1024).value()), "d500");
  EXPECT_EQ(Hex(ComputeBinnedHash(hash, 1 << 30).value()), "d5363ed4");
  for (int bins : {0, -4}) ExpectInvalid(ComputeBinnedHash(hash, bins).status(), "Number of bins must be greater than 0.");
  for (int bins : {3, 6, 12, 1000}) {
    ExpectInvalid(ComputeBinnedHash(hash, bins).status(), "Number of bins that is not a power of 2 isn't supported.");
  }
  // Bytes too short for the bins asked for.
  ExpectInvalid(ComputeBinnedHash("\x01", 512).status(), "Truncation bit length out of bounds.");
}

TEST(CryptoUtilsTest, ResizeBytesCutsOrPadsWithAsciiZero) {
  EXPECT_EQ(ResizeBytes("ab", 4), "ab00");
  EXPECT_EQ(ResizeBytes("abcdef", 4), "abcd");
  EXPECT_EQ(ResizeBytes("", 0), "");
}

TEST(CryptoUtilsTest, DecodeLengthPrefixedBytes) {
  EXPECT_EQ(DecodeLengthPrefixedBytes("\x03\x00\x00\x00" "abcd"s).value(), "abc");
  EXPECT_EQ(DecodeLengthPrefixedBytes("\x00\x00\x00\x00"s).value(), "");
  EXPECT_EQ(DecodeLengthPrefixedBytes("\x02\x00\x00\x00" "\x00\x01"s).value(), "\x00\x01"s);
  // Little-endian: 0x00000100 is 256.
  EXPECT_EQ(DecodeLengthPrefixedBytes("\x00\x01\x00\x00"s + std::string(256, 'v')).value().size(), 256u);
  ExpectInvalid(DecodeLengthPrefixedBytes("\x05\x00\x00\x00" "ab"s).status(), "Incorrect bytes length.");
  ExpectInvalid(DecodeLengthPrefixedBytes("\xff\xff\xff\xff" "ab"s).status(), "Incorrect bytes length.");
  ExpectInvalid(DecodeLengthPrefixedBytes("\x01\x00\x00"s).status(), "Invalid bytes does not encode length.");
}

TEST(CryptoUtilsTest, CreateCipherBySchemeNumber) {
  const std::string key(32, 'k');
  // Scheme 2 adds a 16-byte IV, scheme 3 a nonce and a tag, scheme 1 nothing.
  EXPECT_EQ(CreateCipher(kAesCtr256WithFixedIv, key).value()->Encrypt("abc").value().size(), 3u);
  EXPECT_EQ(CreateCipher(kAesCtr256NoAuth, key).value()->Encrypt("abc").value().size(), 19u);
  EXPECT_EQ(CreateCipher(kAesGcm256, key).value()->Encrypt("abc").value().size(), 31u);
  ExpectInvalid(CreateCipher(0, key).status(), "Unsupported encryption scheme: 0");
  ExpectInvalid(CreateCipher(-1, key).status(), "Unsupported encryption scheme: -1");
  ExpectInvalid(CreateCipher(4, key).status(), "Unsupported encryption scheme: 4");
  ExpectInvalid(CreateCipher(kAesCtr256NoAuth, "short").status(), "Key size is invalid.");
}

}  // namespace
}  // namespace private_membership
