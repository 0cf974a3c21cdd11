// Ciphertexts come back from the server: decrypting any bytes gives either a
// compressed point or an InvalidArgument status, never a crash. The group's
// decoding (its own square root for compressed points) names exactly the
// points BoringSSL's decoder accepts, on P-256 and P-384.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include <openssl/ec.h>
#include <openssl/nid.h>

#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_group.h"
#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"

namespace {

// A point BoringSSL decodes from `bytes` that is on the curve and not at infinity; null otherwise.
bssl::UniquePtr<EC_POINT> DecodedByBoringSsl(const EC_GROUP* group, const std::string& bytes) {
  bssl::UniquePtr<EC_POINT> point(EC_POINT_new(group));
  if (EC_POINT_oct2point(group, point.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                         nullptr) != 1 ||
      EC_POINT_is_on_curve(group, point.get(), nullptr) != 1 || EC_POINT_is_at_infinity(group, point.get()) == 1) {
    return nullptr;
  }
  return point;
}

void CheckDecoding(int curve, const std::string& bytes) {
  static blinders::Context* const context = new blinders::Context();
  static blinders::ECGroup* const p256 =
      new blinders::ECGroup(std::move(blinders::ECGroup::Create(NID_X9_62_prime256v1, context)).value());
  static blinders::ECGroup* const p384 =
      new blinders::ECGroup(std::move(blinders::ECGroup::Create(NID_secp384r1, context)).value());
  const blinders::ECGroup& group = curve == NID_secp384r1 ? *p384 : *p256;
  bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(curve));
  absl::StatusOr<blinders::ECPoint> decoded = group.CreateECPoint(bytes);
  bssl::UniquePtr<EC_POINT> expected = DecodedByBoringSsl(raw.get(), bytes);
  if (decoded.ok() != (expected != nullptr)) std::abort();
  if (!decoded.ok() && decoded.status().code() != absl::StatusCode::kInvalidArgument) std::abort();
  if (decoded.ok() && EC_POINT_cmp(raw.get(), expected.get(), decoded->GetConstPointPtr(), nullptr) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static blinders::ECCommutativeCipher* const cipher =
      std::move(blinders::ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, 0)).value().release();
  const std::string input(reinterpret_cast<const char*>(data), size);
  absl::StatusOr<std::string> plaintext = cipher->Decrypt(input);
  if (plaintext.ok()) {
    if (plaintext->size() != 33) std::abort();
  } else if (plaintext.status().code() != absl::StatusCode::kInvalidArgument) {
    std::abort();
  }
  CheckDecoding(NID_X9_62_prime256v1, input);
  CheckDecoding(NID_secp384r1, input);
  return 0;
}
