// Server responses are outside input: the mini client processes any response
// into results or an InvalidArgument or Internal status, never a crash.
//
// The input is read as a recipe for a response. Each field is either taken
// from material a real server would send for this client's request (its
// encrypted ids, their server-side encryption, entry keys and encrypted values
// under each scheme) or given as raw bytes, so that mutations reach the
// matching and decryption paths as well as the decoding ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"
#include "privacy/private_membership/testing/server_double.h"

namespace {

using namespace private_membership::blinders;

// Consumes the input front to back; past its end every read gives zeros.
class Recipe {
 public:
  Recipe(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t Int32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return static_cast<int32_t>(v);
  }
  std::string Raw() {
    const size_t n = Byte() % 70;
    std::string out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(Byte()));
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

struct Material {
  std::unique_ptr<PrivateMembershipBlindersMiniClient> client;
  std::vector<QueryId> ids;
  std::vector<std::string> encrypted_ids;  // as the client sent them
  std::vector<std::string> doubly_encrypted_ids;
  std::vector<std::string> lookup_keys;             // full-length entry keys
  std::vector<std::vector<std::string>> values;     // [scheme - 1][id]
};

Material* MakeMaterial() {
  auto* m = new Material;
  m->ids = {{"a", "member@example.com", "s1"}, {"b", "novalue@example.com", "s2"}, {"c", "x", ""}};
  m->client = std::move(PrivateMembershipBlindersMiniClient::Create(m->ids, {8, 2, 0})).value();
  const PrivateMembershipBlindersRequest request = m->client->CreateRequest(1).value();
  testing::ServerDouble server({}, testing::ServerOptions{});
  m->values.resize(3);
  for (size_t i = 0; i < m->ids.size(); ++i) {
    m->encrypted_ids.push_back(request.encrypted_request[i].encrypted_id);
    m->doubly_encrypted_ids.push_back(server.Reencrypt(m->encrypted_ids.back()).value());
    const std::string server_id = server.ServerEncrypt(m->ids[i].non_sensitive_id + m->ids[i].sensitive_id).value();
    m->lookup_keys.push_back(server.EntryKey(server_id).value());
    for (int32_t scheme = 1; scheme <= 3; ++scheme) {
      m->values[scheme - 1].push_back(server.EncryptValue(server_id, "value " + std::to_string(i), scheme).value());
    }
  }
  return m;
}

template <typename T>
const T& Pick(const std::vector<T>& pool, uint8_t selector) {
  return pool[selector % pool.size()];
}

EncryptedBucket MakeBucket(Recipe& r, const Material& m) {
  EncryptedBucket bucket;
  const size_t entries = r.Byte() % 5;
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t how = r.Byte();
    std::string key = (how & 1) ? r.Raw() : Pick(m.lookup_keys, r.Byte());
    if (how & 2) key.resize(r.Byte() % 34);  // a prefix, or longer than the lookup hash
    bucket.encrypted_id.push_back(std::move(key));
    std::string value;
    switch ((how >> 2) & 3) {
      case 0: break;  // a member without a value
      case 1: value = r.Raw(); break;
      default: {
        const std::vector<std::string>& scheme_values = Pick(m.values, r.Byte());
        value = Pick(scheme_values, r.Byte());
        break;
      }
    }
    if ((how & 16) && !value.empty()) {
      const size_t at = r.Byte() % value.size();
      value[at] = static_cast<char>(value[at] ^ (1 + r.Byte() % 255));
    }
    bucket.encrypted_value.push_back(std::move(value));
    if (how & 32) bucket.metadata.push_back({r.Raw(), std::nullopt, std::nullopt});
  }
  // Now and then lists of another length than the ids.
  const uint8_t shape = r.Byte();
  if (shape == 1 && !bucket.encrypted_value.empty()) bucket.encrypted_value.pop_back();
  if (shape == 2) bucket.encrypted_value.emplace_back();
  return bucket;
}

int32_t Bins(Recipe& r) {
  static const int32_t kBins[] = {0, 0, 1, 2, 8, 1024, 1 << 30, -4, 6};
  const uint8_t b = r.Byte();
  return b < 200 ? kBins[b % 9] : r.Int32();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Material* const material = MakeMaterial();
  Recipe r(data, size);
  PrivateMembershipBlindersResponse response;
  const size_t parts = r.Byte() % 4;
  for (size_t p = 0; p < parts; ++p) {
    EncryptedResponse part;
    const size_t ids = r.Byte() % 4;
    for (size_t i = 0; i < ids; ++i) {
      const uint8_t how = r.Byte();
      const uint8_t which = r.Byte();
      part.doubly_encrypted_id.push_back({(how & 1) ? r.Raw() : Pick(material->encrypted_ids, which),
                                          (how & 2) ? r.Raw() : Pick(material->doubly_encrypted_ids, which)});
    }
    part.encrypted_bucket = MakeBucket(r, *material);
    part.binned_encrypted_bucket = MakeBucket(r, *material);
    part.response_metadata.num_bins = Bins(r);
    const uint8_t scheme = r.Byte();
    part.response_metadata.encryption_scheme = scheme < 250 ? 1 + scheme % 3 : r.Int32();
    response.encrypted_response.push_back(std::move(part));
  }

  absl::StatusOr<std::vector<MembershipResult>> results = material->client->ProcessResponse(response);
  if (!results.ok()) {
    const absl::StatusCode code = results.status().code();
    if (code != absl::StatusCode::kInvalidArgument && code != absl::StatusCode::kInternal) std::abort();
    return 0;
  }
  for (const MembershipResult& result : *results) {
    bool known = false;
    for (const QueryId& id : material->ids) known = known || result.query_id == id;
    if (!known) std::abort();
    if (result.values.size() != result.matched_values.size()) std::abort();
    if (result.value != (result.values.empty() ? std::string() : result.values.front())) std::abort();
    if (!result.is_member && !(result.values.empty() && result.metadata.empty())) std::abort();
    for (size_t i = 0; i < result.values.size(); ++i) {
      if (result.values[i] != result.matched_values[i].value) std::abort();
    }
  }
  return 0;
}
