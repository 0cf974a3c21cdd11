#include "platform/crypto/Digest.h"

#include <gtest/gtest.h>

#include "platform/crypto/SecureRandom.h"

namespace platform {
namespace {

TEST(Digest, MD5PublishedVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : vectors) {
    EXPECT_EQ(Digest::md5Hex(text), hex) << text;
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(Digest::toHex(Digest::md5(bytes)), hex) << text;
  }
}

TEST(Digest, SHA256PublishedVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, hex] : vectors) {
    EXPECT_EQ(Digest::sha256Hex(text), hex) << text.substr(0, 20);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(Digest::sha256Hex(bytes), hex);
  }
}

TEST(Digest, HexRoundTripsAndRefusesNonHex) {
  const std::vector<uint8_t> bytes = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(Digest::toHex(bytes), "000fa5ff");
  EXPECT_EQ(Digest::fromHex("000fA5Ff"), bytes);
  EXPECT_EQ(Digest::fromHex(""), std::vector<uint8_t>());
  for (const char* bad : {"0", "abc", "0g", " 0", "0x00"}) EXPECT_EQ(Digest::fromHex(bad), std::nullopt) << bad;
}

TEST(SecureRandom, GivesFreshBytesThroughTheRandomInterface) {
  SecureRandom& secure = SecureRandom::sharedInstance();
  Random& random = secure;
  const auto a = random.bytes(32), b = random.bytes(32);
  EXPECT_NE(a, b);
  EXPECT_NE(a, std::vector<uint8_t>(32, 0));
  EXPECT_TRUE(random.bytes(0).empty());
  EXPECT_NE(random.nextUInt64(), random.nextUInt64());
  for (int i = 0; i < 100; ++i) {
    EXPECT_LT(random.uniform(10), 10u);
    double d = random.nextDouble();
    EXPECT_GE(d, 0.0);
    EXPECT_LT(d, 1.0);
  }
}

}  // namespace
}  // namespace platform
