// Checks of strings that come from the collection service and end up in a
// host name or an HTTP header. A string that fails is not used: the callers
// log it and go on as if the server had not sent it.
#pragma once

#include <map>
#include <string>
#include <string_view>

// An upload subdomain: one or more host labels (letters, digits, '-', not
// starting or ending with '-') joined by '.', at most 63 bytes per label and
// 200 in all, so that it still forms a host name in front of the upload host.
bool GWLIsValidUploadSubdomain(std::string_view subdomain);
// A header field value: visible ASCII, blanks and tabs, no leading or
// trailing blank, at most 8192 bytes; no line breaks or other control characters.
bool GWLIsValidHTTPHeaderValue(std::string_view value);
// An entity tag as sent in ETag and If-None-Match: an optional "W/" and a
// double-quoted run of visible ASCII other than '"', at most 256 bytes.
bool GWLIsValidEntityTag(std::string_view tag);
// A URL the library may send uploads to: an http or https URL that parses
// strictly (no user information, blanks or control characters).
bool GWLIsValidServerURL(std::string_view url);
// A header field name: one or more token characters.
bool GWLIsValidHTTPHeaderName(std::string_view name);
// An https URL that passes GWLIsValidServerURL.
bool GWLIsHTTPSURL(std::string_view url);
// The fields of `headers` whose name and value are both valid.
std::map<std::string, std::string> GWLValidServerHeaders(const std::map<std::string, std::string>& headers);
