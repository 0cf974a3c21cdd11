// NANODirectDecoder — the wire layer's two decoders of one message, internal
// to the layer (the rest of the library decodes through initWithBuffer).
//
// NANOMessageType::decode first tries the direct decoder and falls back to the
// nanopb decoder when the direct one declines:
//
//   NANODecodeDirect   reads well-formed input straight into a fresh record, in
//                      one walk with no nanopb struct: every value goes into its
//                      slot as it is read (strings into the slot when short,
//                      else into the record's arena); the items of each message's
//                      lists are gathered as they come and put into item arrays
//                      of their exact size once the message ends. It declines
//                      (false, silently, the record partly filled) at anything
//                      it leaves to nanopb: malformed or truncated input, values
//                      out of their field's range, varints in longer than their
//                      shortest form, a wire type other than the field's own
//                      (packed integer lists aside, empty runs excepted), a
//                      singular sub-message that occurs twice, a string or bytes
//                      value over NANOMaxDecodedBytes, nesting beyond the cap.
//   NANODecodeNanopb   the nanopb decoder: one pass, or two for messages with
//                      lists in their tree (the first counts, the second fills),
//                      with every failure printed.
//
// Whatever the direct decoder accepts, the nanopb decoder accepts too, into an
// equal record; the fuzz target checks that on every input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analytics/wire/NANOMessageInfo.h"
#include "analytics/wire/NANOMessageType.h"

// `info` must be a fresh record of `type` (as initMessageInfo leaves it).
bool NANODecodeDirect(const NANOMessageType& type, const uint8_t* bytes, size_t length, NANOMessageInfo* info);
bool NANODecodeNanopb(const NANOMessageType& type, const uint8_t* bytes, size_t length, NANOMessageInfo* info);

// Whether `info` is a record of `type` as initMessageInfo leaves it.
bool NANOIsFreshRecord(const NANOMessageType& type, const NANOMessageInfo& info);
// Puts every slot of a record of `type` back as initMessageInfo leaves it.
void NANOResetRecord(const NANOMessageType& type, NANOMessageInfo* info);
