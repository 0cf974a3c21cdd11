// The privacy check over a collection service's captured traffic: what the
// library sent must never hold a user's e-mail address or phone number in
// any form that leads back to it.
//
// For each address or number the scenario used, these count as a leak
// anywhere in a captured request (request line, header fields or body):
//   - the text as given, its normalised form and its lower-case form, also
//     percent-encoded (the check searches the percent-decoded text too) and,
//     for phone numbers, the digits alone;
//   - the unsalted SHA-256 of each of those texts: the 32 raw bytes, hex in
//     either case, base64 standard or web-safe (with or without padding);
//   - the private-set-membership input made of it (the salted hash the
//     membership query blinds) in the same encodings, except as the value of
//     "debug_psm_key" in a request target when the scenario met every
//     condition under which the library may send that debug key;
//   - besides, any text shaped like an e-mail address.
// A request target that holds "debug_psm_key" when the debug key was not
// allowed is a leak of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

struct PrivateInputs {
  std::vector<std::string> emailAddresses;
  std::vector<std::string> phoneNumbers;
  // The app ID the membership inputs are salted with.
  std::string appID;
  // Whether the library may send "debug_psm_key" (debug mode, not an App
  // Store installation, a client with a debug key and the launch argument).
  bool debugKeyAllowed = false;
};

struct CapturedRequest {
  std::string file;  // the capture file's name
  std::string requestLine;
  std::string target;  // the request target as sent
  std::string headers;
  std::string body;
  std::string text;  // the whole capture as written
};

// Reads one capture file (RequestCapture's format).
CapturedRequest readCapturedRequest(const std::filesystem::path& file);
// Every capture file of `directory`, in answer order; none when the directory is missing.
std::vector<CapturedRequest> readCapturedRequests(const std::filesystem::path& directory);

// One line per leak: the capture file and what leaked in which form.
std::vector<std::string> findPrivacyLeaks(const std::vector<CapturedRequest>& requests, const PrivateInputs& inputs);

}  // namespace e2e
