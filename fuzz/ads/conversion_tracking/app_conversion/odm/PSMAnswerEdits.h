// The PSM answer fuzz targets mutate a real answer as well as parse random
// bytes: pairs of (position, byte) of the input overwrite bytes of the
// response, so that mutations reach matching and decryption.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "absl/strings/escaping.h"

// The web-safe base64 `answer` decoded, edited by `edits` and encoded again.
inline std::string EditedAnswer(const std::string& answer, std::string_view edits) {
  std::string wire;
  absl::WebSafeBase64Unescape(answer, &wire);
  for (size_t i = 0; i + 1 < edits.size() && !wire.empty(); i += 2) {
    wire[static_cast<uint8_t>(edits[i]) * 7 % wire.size()] = edits[i + 1];
  }
  return absl::WebSafeBase64Escape(wire);
}

// The answer body {"psm_response": `responseText`}.
inline std::string PSMResponseBody(const std::string& responseText) {
  return "{\"psm_response\":\"" + responseText + "\"}";
}
