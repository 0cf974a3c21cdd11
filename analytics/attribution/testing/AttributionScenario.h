// The attribution scenario of the local collection service: what its
// attribution services answer, as a JSON file (--attribution FILE) that the
// service and its PSM double both read.
//
//   {
//     "app_id": "tabulo-app-1",
//     "bundle_id": "com.halcyra.tabulo",
//     "psm": {"members": [{"identifier": "user@example.com", "value": "v-1"}]},
//     "group_ids": {"members": [{"identifier": "user@example.com", "value": "group-7"}]},
//     "odm": {
//       "config": {"matching_id": "bWF0Y2g", "bucketed_date": "2024-05-01", "prefix_length": 12,
//                  "extension_data": "ext-1"},
//       "entries": [{"value": "mv-1", "order_key": 5, "kind": 2, "preferred": 0, "group": "g-1"}],
//       "validate": {"values": ["mv-1"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"},
//                    "fail_statuses": [500]}
//     },
//     "skan": {"answers": [
//       {"response": {"result_status": 1, "skanm_value": "m", "fine_value": 12, "coarse_value": 3,
//                     "lock_window": true, "result_time": 1700000600000, "event_time": 1699999990000,
//                     "update_backoff": 0}},
//       {"response": {"result_status": 2}, "encoding": "identity"},
//       {"status": 304}, {"status": 200}, {"body": "undecodable"}, {"status": 503}
//     ]},
//     "deeplink": {"answer": {"deeplink": "tabulo://open?utm_source=ads", "hclid": "hc-1",
//                             "hbraid": "hb-1", "timestamp": 1700000000}}
//   }
//
// "app_id" is the app the private-set-membership members are salted for;
// "bundle_id", when given, is the only bundle whose group-identifier queries
// are answered. Members hold normalised identifiers (an e-mail address as the
// client normalises it, a phone number in E.164 form) and their values.
//
// "odm" plays the on-device measurement endpoint. "config" is answered by
// GET /odm/config: any JSON value as its text with 200, except null (204 and
// no body) and "" (200 and no body). Its "matching_id" and "bucketed_date",
// when strings, key the "entries" that POST /odm/psm answers: non-sensitive
// id the web-safe base64 decoded matching ID, sensitive id SHA-256(ID ":" date
// ":" bundle_id); each entry has a value ("" for a member without one), the
// unencrypted metadata {order_key, kind, preferred} (0 when not given) and an
// optional group key. POST /odm/validate answers each status of
// "fail_statuses" once, in order, then checks that the matched values it was
// sent are "values" (in any order; 400 otherwise) and answers "answer".
//
// "skan" plays the conversion-value endpoint POST /skan: its "answers" are
// used one per request, in order, the last one again and again. An answer
// with a "response" (the conversion-value response's fields, each optional)
// sends that message, one with "body": "undecodable" bytes that are no such
// message, one with neither no body; "status" is the HTTP status (200 when not
// given). A body is gzip-encoded when the request accepts gzip, unless
// "encoding" says "identity" (never) or "broken_gzip" (declared gzip, but cut
// short so that it does not inflate).
//
// "deeplink" plays the deferred deep link lookup (GET /adconv/app/deeplink):
// its "answer", any JSON value, is answered as its text with 200; a missing
// or null answer (or no section) is answered 204 without a body.
//
// Every member is optional; members not named here are left for other
// services and ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulo::psm_double {

struct ScenarioMember {
  std::string identifier;
  std::string value;
};

struct OdmScenarioEntry {
  std::string value;
  int64_t orderKey = 0;
  int32_t kind = 0;
  int32_t preferred = 0;
  std::optional<std::string> group;
};

struct OdmScenario {
  enum class ConfigAnswer { kBody, kNoContent, kEmptyBody };
  ConfigAnswer configAnswer = ConfigAnswer::kNoContent;
  std::string configBody;  // the JSON text answered with kBody
  std::optional<std::string> matchingID;
  std::optional<std::string> bucketedDate;
  std::vector<OdmScenarioEntry> entries;

  struct Validation {
    std::vector<std::string> values;
    std::string answerBody;  // JSON text
    std::vector<int> failStatuses;
  };
  std::optional<Validation> validation;
};

struct SkanScenarioAnswer {
  enum class Body { kNone, kMessage, kUndecodable };
  enum class Encoding { kAsAccepted, kIdentity, kBrokenGzip };
  int httpStatus = 200;
  Body body = Body::kNone;
  Encoding encoding = Encoding::kAsAccepted;
  // The response message's fields, each when given.
  std::optional<int32_t> resultStatus;
  std::optional<std::string> skanmValue;
  std::optional<int32_t> fineValue;
  std::optional<int32_t> coarseValue;
  std::optional<bool> lockWindow;
  std::optional<int64_t> resultTime;
  std::optional<int64_t> eventTime;
  std::optional<int64_t> updateBackoff;
};

struct SkanScenario {
  std::vector<SkanScenarioAnswer> answers;  // never empty
};

struct DeepLinkScenario {
  std::optional<std::string> answerBody;  // the JSON text answered with 200; none: 204
};

struct AttributionScenario {
  std::string appID;
  std::string bundleID;
  std::vector<ScenarioMember> psmMembers;
  std::vector<ScenarioMember> groupMembers;
  std::optional<OdmScenario> odm;
  std::optional<SkanScenario> skan;
  std::optional<DeepLinkScenario> deepLink;

  // Nullopt with a message for text that is not such a JSON object.
  static std::optional<AttributionScenario> parse(std::string_view json, std::string* message);
  // The scenario in the file at `path`; nullopt with a message when it cannot be read or parsed.
  static std::optional<AttributionScenario> read(const std::string& path, std::string* message);
};

}  // namespace tabulo::psm_double
