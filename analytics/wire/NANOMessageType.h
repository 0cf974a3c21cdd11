// NANOMessageType — one message's constant tables and the shared codec that
// every wire message runs from them.
//
// Each message is described once, by generated constants (the tables under
// analytics/wire/tables/ become one NANOMessageType per message): its name,
// its flags table, one NANOFieldType per field in index order, its fields in
// wire order with their precomputed keys, its nanopb descriptor and struct
// size, and the message's own template functions (GWLPBFilterInitMessageInfo
// and so on, generated beside the class), through which the runtime reaches
// the message. Those functions are thin: they run the member functions below
// with the message's tables.
//
//   initMessageInfo       fills a record from NANOAllocateRecord: empty singular slots, an empty
//                         list in every repeated slot
//   allocateArrays        nanopb decoding, between its two passes: allocates every counted item
//                         array at its size
//   storeDecodedValues    nanopb decoding, after the last pass: moves the scalars and sub-messages
//                         that arrived from the nanopb struct into the record
//   deallocMessageField   frees one field and empties its slot (a repeated slot keeps an empty list)
//   freeMessageInfo       frees a whole record (a record of an arena is left to its arena)
//   copyMessageInfo       replaces a record with a deep copy of another, made in the replaced
//                         record's allocator (copy first, then swap)
//   setDecoders           nanopb decoding: installs the callbacks and prepares sub-message records
//   decode                decodes bytes into a fresh record of this message; undeclared tags are
//                         skipped. Well-formed input goes straight into the record
//                         (NANODirectDecoder.h); nanopb decodes, and reports on, whatever that
//                         declines, in one pass, or two for messages with lists in their tree
//   decodeRepeated        nanopb's element callback of a repeated field of this message
//   setEncoders           fills a nanopb struct from a record, for nanopb's encoder
//   encode                encodes a record (present fields only) into a buffer of exact size,
//                         fields in ascending tag order, in nanopb's wire form: one walk over the
//                         present fields sizes the whole tree, a second writes every byte straight
//                         into its place (NANOEncoder.h; the walks are generated per message)
//   encodeRepeated        nanopb's element callback when nanopb encodes a list of this message
//   encodeWithNanopb      the same bytes as encode, through setEncoders and nanopb's encoder
//
// Lists of messages are decoded element by element. Nesting is bounded: a
// message nested deeper than its family's `maxDepth` (counted from the
// outermost message being decoded or encoded) fails to decode or encode, so
// outside input never exhausts the stack.
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
struct pb_istream_s;
struct pb_ostream_s;
struct pb_field_iter_s;
class NANOMessageBase;
class NANOEncoder;

// The template functions of a message, as the runtime holds them.
using NANOInitMessageInfoFn = bool (*)(NANOMessageInfo* info);
using NANODeallocMessageFieldFn = bool (*)(NANOMessageInfo* info, int32_t index);
using NANOCopyMessageInfoFn = bool (*)(NANOMessageInfo** destination, const NANOMessageInfo* source);
using NANODecodeRepeatedFn = bool (*)(pb_istream_s* stream, const pb_field_iter_s* field, void** arg);
using NANOEncodeRepeatedFn = bool (*)(pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg);
// A message's own walks of the encoder (NANOEncoder.h): sizing its present
// fields (within `depth`, noting a list item without its value in
// `itemMissing`) and writing them.
using NANOMeasureFieldsFn = bool (*)(NANOEncoder& encoder, const NANOMessageInfo& info, uint32_t depth, size_t* size,
                                     bool* itemMissing);
using NANOWriteFieldsFn = uint8_t* (*)(NANOEncoder& encoder, const NANOMessageInfo& info, uint8_t* out);

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

// How a field goes onto the wire.
enum class NANOWireKind : uint8_t {
  Bool,            // a varint 0 or 1 from the cell's first byte
  SignedVarint32,  // the low 32 bits, sign-extended (int32, enums declared signed)
  Varint32,        // the low 32 bits (enums declared unsigned)
  Varint64,        // the whole cell
  Fixed32,         // 4 bytes (float)
  Fixed64,         // 8 bytes (double)
  Bytes,           // string or bytes, length-delimited
  Message,         // a singular sub-message, length-delimited
  RepeatedVarint,  // one key and the whole 64-bit item per item
  RepeatedBytes,
  RepeatedMessage,
};

// One field as the codec meets it on the wire: the message's fields in
// ascending tag order, each with its key (tag << 3 | wire type) and the key's
// varint bytes.
struct NANOWireField {
  uint32_t key;
  uint32_t index;     // the field's index
  bool signedVarint;  // a 32-bit value that goes out sign-extended (int32, enums declared signed)
  NANOWireKind kind;
  uint8_t keySize;
  uint8_t keyBytes[5];
  const NANOMessageType* message;  // sub-message or element message, else null
};

class NANOMessageType {
 public:
  const char* name;                 // message name: the record's `name` and the class's messageID
  const char* className;            // such as "GWLPBAdCampaignInfo"
  uint32_t fieldCount;              // at most NANOMaxFields
  const NANOFieldFlags* flags;      // fieldCount words
  const NANOFieldType* fields;      // fieldCount rows, in index order
  const pb_msgdesc_s* descriptor;   // nanopb descriptor
  size_t structSize;                // size of the nanopb struct
  bool hasArrays;                   // a repeated field, or a singular sub-message with arrays in its tree
  bool hasCallbacks;                // a string, bytes or repeated field
  uint32_t maxDepth;                // deepest nesting accepted when decoding or encoding
  // Makes the message's wrapper object, still without a record: with an arena
  // whose first block holds `arenaBlock` bytes, or none for 0.
  std::shared_ptr<NANOMessageBase> (*wrap)(size_t arenaBlock);
  const NANOWireField* wireOrder;   // fieldCount rows, in ascending tag order
  const uint8_t* wirePosition;      // fieldCount entries: a field's row in wireOrder, by index
  bool indexIsTagOrder;             // wirePosition[i] == i for every field
  uint64_t repeatedFields;          // bit i: field i is repeated
  // The message's own template functions.
  NANOInitMessageInfoFn initMessageInfoFn;
  NANODeallocMessageFieldFn deallocMessageFieldFn;
  NANOCopyMessageInfoFn copyMessageInfoFn;
  NANODecodeRepeatedFn decodeRepeatedFn;  // null unless the message is the element of a list
  NANOEncodeRepeatedFn encodeRepeatedFn;  // null unless the message is the element of a list
  NANOMeasureFieldsFn measureFieldsFn;
  NANOWriteFieldsFn writeFieldsFn;

  bool initMessageInfo(NANOMessageInfo* info) const;
  bool allocateArrays(NANOMessageInfo* info) const;
  bool storeDecodedValues(const void* pbStruct, NANOMessageInfo* info) const;
  bool deallocMessageField(NANOMessageInfo* info, int32_t index) const;
  bool freeMessageInfo(NANOMessageInfo* info) const;
  bool copyMessageInfo(NANOMessageInfo** destination, const NANOMessageInfo* source) const;
  bool setDecoders(NANOMessageInfo* info, void* pbStruct) const;
  bool decode(const uint8_t* bytes, size_t length, NANOMessageInfo* info) const;
  bool decodeRepeated(pb_istream_s* stream, const pb_field_iter_s* field, void** arg) const;
  bool setEncoders(const NANOMessageInfo* info, void* pbStruct) const;
  // Gives the encoded length, or -1. `output` holds exactly that many bytes.
  int32_t encode(const NANOMessageInfo* info, std::vector<uint8_t>* output) const;
  bool encodeRepeated(pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg) const;
  int32_t encodeWithNanopb(const NANOMessageInfo* info, std::vector<uint8_t>* output) const;

  // A new initialised record of this message from `arena` (null: the heap), or null.
  NANORecordPtr newMessageInfo(NANOArena* arena = nullptr) const;
  // A deep copy of `source` (a record of this message) made in `arena` (null:
  // the heap), or null.
  NANOMessageInfo* copyRecord(const NANOMessageInfo& source, NANOArena* arena) const;
  // The field with `index`, or null when the message has no such field.
  const NANOFieldType* field(int32_t index) const;
};
