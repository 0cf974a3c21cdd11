#include "privacy/private_membership/common/crypto_utils.h"

#include <algorithm>
#include <bit>

#include "absl/strings/str_cat.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/common/aes_ctr_256_no_auth.h"
#include "privacy/private_membership/common/aes_ctr_256_with_fixed_iv.h"
#include "privacy/private_membership/common/aes_gcm_256.h"

namespace private_membership {

absl::StatusOr<std::string> TruncateBits(absl::string_view bytes, int32_t bit_length) {
  if (bit_length < 0 || static_cast<uint64_t>(bit_length) > uint64_t{8} * bytes.size()) {
    return ::blinders::InvalidArgumentError("Truncation bit length out of bounds.");
  }
  if (bit_length == 0) return std::string();
  std::string out(bytes.substr(0, (static_cast<size_t>(bit_length) + 7) / 8));
  const int remainder = bit_length % 8;
  if (remainder != 0) {
    const unsigned mask = ((1u << remainder) - 1u) << (8 - remainder);
    out.back() = static_cast<char>(static_cast<unsigned char>(out.back()) & mask);
  }
  return out;
}

absl::StatusOr<std::string> ComputeBinnedHash(absl::string_view bytes, int32_t num_bins) {
  if (num_bins < 1) return ::blinders::InvalidArgumentError("Number of bins must be greater than 0.");
  const auto bins = static_cast<uint32_t>(num_bins);
  if (!std::has_single_bit(bins)) {
    return ::blinders::InvalidArgumentError("Number of bins that is not a power of 2 isn't supported.");
  }
  const int32_t bits = std::countr_zero(bins);
  return TruncateBits(bytes.substr(0, std::min(bytes.size(), static_cast<size_t>(8) * bits)), bits);
}

std::string ResizeBytes(absl::string_view bytes, size_t length) {
  std::string out(bytes.substr(0, length));
  out.resize(length, '0');
  return out;
}

absl::StatusOr<std::string> DecodeLengthPrefixedBytes(absl::string_view bytes) {
  if (bytes.size() < 4) return ::blinders::InvalidArgumentError("Invalid bytes does not encode length.");
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(bytes[i]);
  const absl::string_view rest = bytes.substr(4);
  if (rest.size() < length) return ::blinders::InvalidArgumentError("Incorrect bytes length.");
  return std::string(rest.substr(0, length));
}

absl::StatusOr<std::unique_ptr<Cipher>> CreateCipher(int32_t encryption_scheme, absl::string_view key) {
  switch (encryption_scheme) {
    case kAesGcm256: {
      auto cipher = AesGcm256::Create(key);
      if (!cipher.ok()) return cipher.status();
      return std::unique_ptr<Cipher>(std::move(*cipher));
    }
    case kAesCtr256NoAuth: {
      auto cipher = AesCtr256NoAuth::Create(key);
      if (!cipher.ok()) return cipher.status();
      return std::unique_ptr<Cipher>(std::move(*cipher));
    }
    case kAesCtr256WithFixedIv: {
      auto cipher = AesCtr256WithFixedIV::Create(key);
      if (!cipher.ok()) return cipher.status();
      return std::unique_ptr<Cipher>(std::move(*cipher));
    }
    default:
      return ::blinders::InvalidArgumentError(absl::StrCat("Unsupported encryption scheme: ", encryption_scheme));
  }
}

}  // namespace private_membership
