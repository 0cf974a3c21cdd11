// NANOMessageBase — the wrapper object of one wire message, and NANOMessage,
// the template every generated message class derives from.
//
// A message object owns one NANOMessageInfo record of its own message. Every
// generated class (GWLPBMeasurementBundle, PSMEncryptedRequest, ...) is
//
//   class GWLPBFilter final : public NANOMessage<GWLPBFilter> { ... struct Field { string_filter = 0, ... } };
//
// and is made only through its static initialisers:
//
//   auto filter = GWLPBFilter::initWithMessageInfo();          // empty message
//   auto copy = GWLPBFilter::initWithMessageInfo(record);      // deep copy of a Filter record, else null
//   auto decoded = GWLPBFilter::initWithBuffer(bytes);         // decoded message, else null (logged)
//   std::optional<std::vector<uint8_t>> wire = decoded->protoBuffer();  // nullopt when encoding fails
//
// Fields are read and written through the accessors of NANO.h, by index
// (GWLPBFilter::Field::complement), or through the class's typed accessors
// (filter->complement(), filter->setComplement(true)). A message object is
// used by one thread at a time; distinct objects may be used on distinct
// threads.
//
// Storage: a decoded or copied message keeps its record tree in an arena of
// its own (NANOArena.h), freed in one step with the object; an empty message
// made by initWithMessageInfo() keeps its record on the heap, piece by piece.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "analytics/wire/NANOArena.h"
#include "analytics/wire/NANOMessageInfo.h"
#include "analytics/wire/NANOMessageType.h"

// Lets the message classes' constructors be public for std::make_shared while
// only the runtime can call them.
class NANOMessageKey {
 private:
  NANOMessageKey() = default;
  friend class NANOMessageBase;
  template <class Derived>
  friend class NANOMessage;
};

class NANOMessageBase {
 public:
  virtual ~NANOMessageBase();
  NANOMessageBase(const NANOMessageBase&) = delete;
  NANOMessageBase& operator=(const NANOMessageBase&) = delete;

  // The message's name text, such as "AdCampaignInfo".
  const char* messageID() const { return type_->name; }
  // The object's own record.
  NANOMessageInfo* messageInfo() { return info_; }
  const NANOMessageInfo* messageInfo() const { return info_; }
  // The message's tables and codec.
  const NANOMessageType& messageType() const { return *type_; }
  // The message's init, dealloc-field and copy functions
  // ({MessageClass}InitMessageInfo and so on).
  NANOInitMessageInfoFn initMessageInfoFn() const { return type_->initMessageInfoFn; }
  NANODeallocMessageFieldFn deallocMessageFieldFn() const { return type_->deallocMessageFieldFn; }
  NANOCopyMessageInfoFn copyMessageInfoFn() const { return type_->copyMessageInfoFn; }

  // The encoding of the message: empty for a message with every field absent,
  // nullopt when encoding fails (logged).
  std::optional<std::vector<uint8_t>> protoBuffer() const;

  // Untyped initialisers, for code that holds a message type rather than a
  // class. initWithMessageInfo: an empty message without a record, else a deep
  // copy of `info`, which must be a record of `type` (null otherwise, silently).
  static std::shared_ptr<NANOMessageBase> initWithMessageInfo(const NANOMessageType& type,
                                                              const NANOMessageInfo* info = nullptr);
  // Decodes `data` (nullopt or empty: an empty message); null when decoding fails.
  static std::shared_ptr<NANOMessageBase> initWithBuffer(const NANOMessageType& type,
                                                         std::optional<std::span<const uint8_t>> data = std::nullopt);

 protected:
  // A message without a record yet; with an arena of `arenaBlock` bytes to
  // start with unless that is 0.
  NANOMessageBase(const NANOMessageType& type, size_t arenaBlock);

 private:
  const NANOMessageType* type_;
  std::optional<NANOArena> arena_;
  NANOMessageInfo* info_ = nullptr;
};

template <class Derived>
class NANOMessage : public NANOMessageBase {
 public:
  static std::shared_ptr<Derived> initWithMessageInfo(const NANOMessageInfo* info = nullptr) {
    return std::static_pointer_cast<Derived>(NANOMessageBase::initWithMessageInfo(Derived::type(), info));
  }
  static std::shared_ptr<Derived> initWithBuffer(std::optional<std::span<const uint8_t>> data = std::nullopt) {
    return std::static_pointer_cast<Derived>(NANOMessageBase::initWithBuffer(Derived::type(), data));
  }
  // Used by the message's NANOMessageType to make a wrapper without a record.
  static std::shared_ptr<NANOMessageBase> wrap(size_t arenaBlock) {
    return std::make_shared<Derived>(NANOMessageKey{}, arenaBlock);
  }

 protected:
  NANOMessage(size_t arenaBlock) : NANOMessageBase(Derived::type(), arenaBlock) {}
};
