// Message digests (MD5, SHA-256) through BoringSSL, and hex helpers.
//
// MD5 is here for the identifiers and checksums that are defined with it; it
// is not a security measure. Use SHA-256 for anything new.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Digest {
 public:
  using MD5Value = std::array<uint8_t, 16>;
  using SHA256Value = std::array<uint8_t, 32>;

  static MD5Value md5(std::span<const uint8_t> data);
  static MD5Value md5(std::string_view text);
  static SHA256Value sha256(std::span<const uint8_t> data);
  static SHA256Value sha256(std::string_view text);

  // Lower-case hex of the digest.
  static std::string md5Hex(std::span<const uint8_t> data);
  static std::string md5Hex(std::string_view text);
  static std::string sha256Hex(std::span<const uint8_t> data);
  static std::string sha256Hex(std::string_view text);

  // Lower-case hex, two digits per byte.
  static std::string toHex(std::span<const uint8_t> bytes);
  // The bytes of a hex string (either case); std::nullopt for an odd length or
  // a character that is not a hex digit.
  [[nodiscard]] static std::optional<std::vector<uint8_t>> fromHex(std::string_view hex);
};

}  // namespace platform
