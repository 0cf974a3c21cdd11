// CVNConnectorUtils — the fixed tables that bound what sibling libraries may
// do through the interop connector, and the predicates over them. Each table
// is built once, on first use, and lives for the process. Any thread.
#pragma once

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "analytics/foundation/values/GWLValue.h"

class CVNConnectorUtils {
 public:
  using Names = std::set<std::string, std::less<>>;

  static const Names& allowedListenerOrigins();
  static const Names& blocklistedOrigins();
  static const Names& blocklistedEventNames();
  static const Names& blocklistedParameters();
  static const Names& blocklistedUserProperties();
  static const std::vector<std::regex>& blocklistedUserPropertyPatterns();
  static const Names& hiddenEventNames();

  static bool isOriginAllowed(const std::string& origin);
  // "app" or "app+…".
  static bool isAppOrigin(const std::string& origin);
  static bool isListenerOriginAllowed(const std::string& origin);
  static bool isEventNameAllowedForListeners(const std::string& name);
  // Only the screen-view event "_vs", only for "wfx".
  static bool isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin);
  static bool shouldLogEventWithName(const std::string& name, const std::optional<GWLRawParameters>& parameters);
  static bool isUserPropertyAllowed(const std::string& name, const std::string& origin);
  static bool isUserPropertyAllowedForQuery(const std::string& name);
};
