#include "analytics/measurement/CVNConnectorUtils.h"

// Each table is a function-local static: built once, thread-safely, on first use.
const CVNConnectorUtils::Names& CVNConnectorUtils::allowedListenerOrigins() {
  static const auto* names = new Names{"cvi", "crash", "wfx"};
  return *names;
}

const CVNConnectorUtils::Names& CVNConnectorUtils::blocklistedOrigins() {
  static const auto* names = new Names{"auto", "app", "gw"};
  return *names;
}

const CVNConnectorUtils::Names& CVNConnectorUtils::blocklistedEventNames() {
  static const auto* names = new Names{"_e", "_f", "_iap", "_s", "_au"};
  return *names;
}

const CVNConnectorUtils::Names& CVNConnectorUtils::blocklistedParameters() {
  static const auto* names = new Names{"_r", "_dbg"};
  return *names;
}

const CVNConnectorUtils::Names& CVNConnectorUtils::blocklistedUserProperties() {
  static const auto* names = new Names{"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};
  return *names;
}

const std::vector<std::regex>& CVNConnectorUtils::blocklistedUserPropertyPatterns() {
  static const auto* patterns = new std::vector<std::regex>{std::regex("^_ltv_[A-Z]{3}$"), std::regex("^_cc[1-5]{1}$")};
  return *patterns;
}

const CVNConnectorUtils::Names& CVNConnectorUtils::hiddenEventNames() {
  static const auto* names = new Names{"_xa",      "_xu",        "_aq",           "_aa",          "_ai",
                                       "_ac",      "campaign_details", "_iapx", "_ug",          "_exp_set",
                                       "_exp_clear", "_exp_activate", "_exp_timeout", "_exp_expire"};
  return *names;
}

bool CVNConnectorUtils::isOriginAllowed(const std::string& origin) { return !blocklistedOrigins().contains(origin); }

bool CVNConnectorUtils::isAppOrigin(const std::string& origin) { return origin == "app" || origin.starts_with("app+"); }

bool CVNConnectorUtils::isListenerOriginAllowed(const std::string& origin) {
  return allowedListenerOrigins().contains(origin);
}

bool CVNConnectorUtils::isEventNameAllowedForListeners(const std::string& name) {
  return !hiddenEventNames().contains(name);
}

bool CVNConnectorUtils::isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin) {
  return name == "_vs" && origin == "wfx";
}

bool CVNConnectorUtils::shouldLogEventWithName(const std::string& name,
                                               const std::optional<GWLRawParameters>& parameters) {
  if (name.empty() || blocklistedEventNames().contains(name)) return false;
  if (parameters) {
    for (const auto& blocked : blocklistedParameters()) {
      if (parameters->contains(blocked)) return false;
    }
  }
  return true;
}

bool CVNConnectorUtils::isUserPropertyAllowed(const std::string& name, const std::string& origin) {
  if (name.empty()) return false;
  if (name == "_ln") return origin == "cvm" || origin == "cvi";
  if (blocklistedUserProperties().contains(name)) return false;
  for (const auto& pattern : blocklistedUserPropertyPatterns()) {
    if (std::regex_search(name, pattern)) return false;
  }
  return true;
}

bool CVNConnectorUtils::isUserPropertyAllowedForQuery(const std::string& name) {
  return !name.empty() && (name == "_fot" || name[0] != '_');
}
