// security::MerkleDamgaard: the abstract interface of an incremental hash
// (feed bytes with Update, finish with Digest), implemented by security::SHA256.
//
// An object starts fresh, takes any number of updates and is finalised by its
// first RawDigest or Digest; from then on it answers with the same digest, and
// a further Update stops the process (after a log line whose severity is
// SetUpdateAfterDigestLogSeverity's). Reset returns it to the fresh state.
// One object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace security {

class MerkleDamgaard {
 public:
  virtual ~MerkleDamgaard() = default;

  // Back to the fresh, unfinalised state.
  virtual void Reset() = 0;
  // Feeds `length` bytes (not negative).
  virtual void Update(const void* data, int length) = 0;
  // Feeds `length` bytes, in pieces of at most 2^30 bytes.
  virtual void Update(const void* data, size_t length) = 0;
  // The digest (DigestSize() bytes), finalising on the first call.
  virtual const uint8_t* RawDigest() = 0;
  virtual int DigestSize() const = 0;
  // RawDigest as a byte string.
  virtual std::string Digest() = 0;
  // A process-wide integer holding DigestSize(), made once and never freed.
  virtual const int& SharedDigestSize() const = 0;
  // Takes over the state of `other`, which must be of the same class (the
  // process stops otherwise).
  virtual void CopyFrom(const MerkleDamgaard& other) = 0;
  // A new object with the same running state; the caller owns it.
  virtual std::unique_ptr<MerkleDamgaard> Clone() const = 0;
  virtual std::string Name() const = 0;
};

// Severity of the log line written when Update follows Digest without a Reset:
// 0 info, 1 warning, 2 error (the default), 3 fatal (the line itself stops the
// process). Values below 0 count as 0, values above 3 as 2. Read at each such
// call; the process stops right after the line in any case.
void SetUpdateAfterDigestLogSeverity(int severity);
int UpdateAfterDigestLogSeverity();

}  // namespace security
