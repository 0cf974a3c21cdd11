#include "platform/crypto/Digest.h"

#include <openssl/md5.h>
#include <openssl/sha.h>

namespace platform {
namespace {

std::span<const uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Digest::MD5Value Digest::md5(std::span<const uint8_t> data) {
  MD5Value out;
  MD5(data.data(), data.size(), out.data());
  return out;
}

Digest::MD5Value Digest::md5(std::string_view text) { return md5(asBytes(text)); }

Digest::SHA256Value Digest::sha256(std::span<const uint8_t> data) {
  SHA256Value out;
  SHA256(data.data(), data.size(), out.data());
  return out;
}

Digest::SHA256Value Digest::sha256(std::string_view text) { return sha256(asBytes(text)); }

std::string Digest::md5Hex(std::span<const uint8_t> data) { return toHex(md5(data)); }
std::string Digest::md5Hex(std::string_view text) { return toHex(md5(text)); }
std::string Digest::sha256Hex(std::span<const uint8_t> data) { return toHex(sha256(data)); }
std::string Digest::sha256Hex(std::string_view text) { return toHex(sha256(text)); }

std::string Digest::toHex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::optional<std::vector<uint8_t>> Digest::fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = hexValue(hex[i]);
    const int lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace platform
