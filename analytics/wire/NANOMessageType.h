// NANOMessageType — one message's constant tables and the generic codec that
// every wire message shares.
//
// Each message is described once, by generated constants (the tables under
// analytics/wire/tables/ become one NANOMessageType per message): its name,
// its flags table, one NANOFieldType per field in index order, its nanopb
// descriptor and the size of its nanopb struct. The member functions below are
// the roles of the message template, run from those tables:
//
//   initMessageInfo       fills a fresh record: empty singular slots, an empty array in every repeated slot
//   allocateArrays        between the two decoding passes: allocates every counted item array at its size
//   storeDecodedValues    after the last pass: moves the scalars and sub-messages that arrived into the record
//   deallocMessageField   frees one field and empties its slot (a repeated slot keeps an empty array)
//   freeMessageInfo       frees a whole record
//   copyMessageInfo       replaces a record with a deep copy of another (copy first, then swap)
//   setDecoders           installs the nanopb callbacks and prepares sub-message records
//   decode                decodes bytes into a fresh record of this message: one pass, or two for
//                         messages with lists in their tree; undeclared tags are skipped. Well-formed
//                         input goes straight into the record (NANODirectDecoder.h); nanopb decodes,
//                         and reports on, whatever that declines
//   encode                encodes a record (present fields only) into a buffer of exact size, fields
//                         in ascending tag order, in nanopb's wire form: one walk sizes the whole
//                         tree, a second writes every byte straight into its place
//
// Lists of messages are decoded element by element, each element in its own
// passes. Nesting is bounded: a message nested deeper than its family's
// `maxDepth` (counted from the outermost message being decoded or encoded)
// fails to decode or encode, so outside input never exhausts the stack.
//
// Failures print a diagnostic (see the texts in NANOMessageType.cc) and answer
// false or -1; a failed decode leaves the record to be freed by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analytics/wire/NANOMessageInfo.h"

struct pb_msgdesc_s;
class NANOMessageBase;

// One row of a message's field table, as the codec needs it.
struct NANOFieldType {
  int32_t index;                   // declaration order, from 0
  uint32_t tag;                    // protocol-buffer field number
  NANOFieldFlags flags;            // label bit plus type bit
  const char* name;                // the field's name, such as "deep_link_vrt_params"
  const NANOMessageType* message;  // sub-message or element message, else null
  uint32_t dataOffset;             // offset of the field's member in the nanopb struct
  int32_t hasOffset;               // offset of its has flag, or -1 when it has none
};

// One field as the codec meets it on the wire: the message's fields in
// ascending tag order, each with its key (tag << 3 | wire type).
struct NANOWireField {
  uint32_t key;
  uint32_t index;     // the field's index
  bool signedVarint;  // a 32-bit value that goes out sign-extended (int32, enums declared signed)
};

class NANOMessageType {
 public:
  const char* name;                 // message name: the record's `name` and the class's messageID
  const char* className;            // such as "GWLPBAdCampaignInfo"
  uint32_t fieldCount;
  const NANOFieldFlags* flags;      // fieldCount words
  const NANOFieldType* fields;      // fieldCount rows, in index order
  const pb_msgdesc_s* descriptor;   // nanopb descriptor
  size_t structSize;                // size of the nanopb struct
  bool hasArrays;                   // a repeated field, or a singular sub-message with arrays in its tree
  bool hasCallbacks;                // a string, bytes or repeated field
  uint32_t maxDepth;                // deepest nesting accepted when decoding or encoding
  // Makes the message's wrapper object around a record (taking ownership).
  std::shared_ptr<NANOMessageBase> (*wrap)(std::unique_ptr<NANOMessageInfo> info);
  const NANOWireField* wireOrder;   // fieldCount rows, in ascending tag order

  bool initMessageInfo(NANOMessageInfo* info) const;
  bool allocateArrays(NANOMessageInfo* info) const;
  bool storeDecodedValues(const void* pbStruct, NANOMessageInfo* info) const;
  bool deallocMessageField(NANOMessageInfo* info, int32_t index) const;
  bool freeMessageInfo(std::unique_ptr<NANOMessageInfo>* info) const;
  bool copyMessageInfo(std::unique_ptr<NANOMessageInfo>* destination, const NANOMessageInfo* source) const;
  bool setDecoders(NANOMessageInfo* info, void* pbStruct) const;
  bool decode(const uint8_t* bytes, size_t length, NANOMessageInfo* info) const;
  // Gives the encoded length, or -1. `output` holds exactly that many bytes.
  int32_t encode(const NANOMessageInfo* info, std::vector<uint8_t>* output) const;

  // A new initialised record of this message, or null.
  std::unique_ptr<NANOMessageInfo> newMessageInfo() const;
  // The field with `index`, or null when the message has no such field.
  const NANOFieldType* field(int32_t index) const;
};
