#include "analytics/foundation/values/GWLNameTables.h"

#include <set>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"

namespace {

constexpr int64_t kEmptyNameCode = 18003;
constexpr const char* kEmptyNameMessage = "Cannot check the name. Name is empty";

using NameSet = std::set<std::string, std::less<>>;

bool contains(const NameSet& set, std::string_view name) { return set.find(name) != set.end(); }

}  // namespace

const GWLNameMap& GWLPublicToInternalUserPropertyNameMap() {
  static const GWLNameMap map = {
      {"corvane_last_notification", "_ln"},
      {"first_open_after_install", "_fi"},
      {"first_open_time", "_fot"},
      {"ha_session_id", "_sid"},
      {"ha_session_number", "_sno"},
      {"last_advertising_id_reset", "_lair"},
      {"last_deep_link_referrer", "_ldl"},
      {"lifetime_user_engagement", "_lte"},
      {"session_user_engagement", "_se"},
      {"user_id", "_id"},
  };
  return map;
}

const GWLNameMap& GWLPublicToInternalEventNameMap() {
  static const GWLNameMap map = {
      {"adunit_exposure", "_xu"},
      {"ad_activeview", "_aa"},
      {"ad_click", "_ac"},
      {"ad_exposure", "_xa"},
      {"ad_impression", "_ai"},
      {"ad_query", "_aq"},
      {"ad_reward", "_ar"},
      {"app_clear_data", "_cd"},
      {"app_exception", "_ae"},
      {"app_remove", "_ui"},
      {"app_store_refund", "_asr"},
      {"app_store_subscription_cancel", "_asse"},
      {"app_store_subscription_convert", "_assc"},
      {"app_store_subscription_renew", "_assr"},
      {"app_update", "_au"},
      {"app_upgrade", "_ug"},
      {"corvane_campaign", "_cmp"},
      {"first_open", "_f"},
      {"first_visit", "_v"},
      {"ha_campaign", "_cmp"},
      {"ha_extra_parameter", "_ep"},
      {"in_app_purchase", "_iap"},
      {"notification_dismiss", "_nd"},
      {"notification_foreground", "_nf"},
      {"notification_open", "_no"},
      {"notification_receive", "_nr"},
      {"os_update", "_ou"},
      {"screen_view", "_vs"},
      {"session_start", "_s"},
      {"session_start_with_rollout", "_ssr"},
      {"user_engagement", "_e"},
      {"error", "_err"},
  };
  return map;
}

const GWLNameMap& GWLAllowedReservedEventNameMap() {
  static const GWLNameMap map = {{"ad_impression", "_ai"}, {"in_app_purchase", "_iap"}};
  return map;
}

const GWLNameMap& GWLInternalToPublicEventNameMap() {
  static const GWLNameMap map = [] {
    GWLNameMap reversed;
    for (const auto& [publicName, internalName] : GWLPublicToInternalEventNameMap()) {
      reversed[internalName] = publicName;  // ascending order: "ha_campaign" is the last writer of "_cmp"
    }
    return reversed;
  }();
  return map;
}

const GWLNameMap& GWLPublicToInternalParameterNameMap() {
  static const GWLNameMap map = {
      {"ad_event_id", "_aeid"},
      {"ad_unit_id", "_ai"},
      {"app_in_background", "_aib"},
      {"customer_type", "_ct"},
      {"deferred_analytics_collection", "_dac"},
      {"engagement_time_msec", "_et"},
      {"exposure_time", "_xt"},
      {"corvane_conversion", "_c"},
      {"corvane_debug", "_dbg"},
      {"corvane_error", "_err"},
      {"corvane_error_length", "_el"},
      {"corvane_error_value", "_ev"},
      {"corvane_event_origin", "_o"},
      {"corvane_feature_rollouts", "_ffr"},
      {"corvane_previous_class", "_pc"},
      {"corvane_previous_id", "_pi"},
      {"corvane_previous_screen", "_pn"},
      {"corvane_realtime", "_r"},
      {"corvane_screen", "_sn"},
      {"corvane_screen_class", "_sc"},
      {"corvane_screen_id", "_si"},
      {"ha_conversion", "_c"},
      {"ha_debug", "_dbg"},
      {"ha_dedupe_id", "_did"},
      {"ha_error", "_err"},
      {"ha_error_length", "_el"},
      {"ha_error_value", "_ev"},
      {"ha_event_id", "_eid"},
      {"ha_event_name", "_en"},
      {"ha_event_origin", "_o"},
      {"ha_extra_params_ct", "_epc"},
      {"ha_group_name", "_gn"},
      {"ha_index", "_i"},
      {"ha_list_length", "_ll"},
      {"ha_previous_class", "_pc"},
      {"ha_previous_id", "_pi"},
      {"ha_previous_screen", "_pn"},
      {"ha_realtime", "_r"},
      {"ha_screen", "_sn"},
      {"ha_screen_class", "_sc"},
      {"ha_screen_id", "_si"},
      {"message_id", "_nmid"},
      {"message_name", "_nmn"},
      {"message_time", "_nmt"},
      {"message_tracking_id", "_nmtid"},
      {"message_type", "_nmc"},
      {"message_device_time", "_ndt"},
      {"previous_app_version", "_pv"},
      {"previous_first_open_count", "_pfo"},
      {"previous_qrx_app_id", "_pqrx"},
      {"previous_os_version", "_po"},
      {"session_id", "_sid"},
      {"session_number", "_sno"},
      {"topic", "_nt"},
      {"update_with_analytics", "_uwa"},
  };
  return map;
}

const std::map<int64_t, std::string>& GWLErrorCodeNameMap() {
  static const std::map<int64_t, std::string> map = {
      {0, "NoError"},
      {1, "InvalidQRXAppID"},
      {2, "InvalidEventName"},
      {3, "InvalidParameterName"},
      {4, "InvalidParameterValue"},
      {5, "ParameterLimitReached"},
      {6, "InvalidUserPropertyName"},
      {7, "UserPropertyValueTooLong"},
      {8, "EventLimitReached"},
      {9, "UserPropertyLimitReached"},
      {10, "ConversionEventLimitReached"},
      {11, "EventIsBlocked"},
      {12, "UserPropertyIsBlocked"},
      {13, "EventNameIsReserved"},
      {14, "ParameterNameIsReserved"},
      {15, "UserPropertyNameIsReserved"},
      {16, "PublicEventLimitReached"},
      {17, "TooManyExtraParamEvents"},
      {18, "ValueIsNotNumeric"},
      {19, "CurrencyCodeIsMissingOrInvalid"},
      {20, "InvalidArrayParamName"},
      {21, "InvalidArrayParamEventName"},
      {22, "InvalidArrayParamNesting"},
      {23, "CustomParamsInArrayElement"},
      {28, "ItemScopedCustomParameterLimitReached"},
  };
  return map;
}

bool GWLIsEcommerceEventName(std::string_view name) {
  static const NameSet names = {
      "add_payment_info", "add_shipping_info", "add_to_cart",        "add_to_wishlist",     "begin_checkout",
      "purchase",         "refund",            "remove_from_cart",   "select_item",         "select_promotion",
      "view_cart",        "view_item",         "view_item_list",     "view_promotion",      "ecommerce_purchase",
      "checkout_progress", "purchase_refund",  "select_content",     "set_checkout_option", "view_search_results",
  };
  return contains(names, name);
}

bool GWLIsStandardItemParameterName(std::string_view name) {
  static const NameSet names = {
      "affiliation",    "coupon",         "creative_name",  "creative_slot",   "currency",
      "discount",       "index",          "item_id",        "item_brand",      "item_category",
      "item_category2", "item_category3", "item_category4", "item_category5",  "item_list_name",
      "item_list_id",   "item_name",      "item_variant",   "location_id",     "payment_type",
      "price",          "promotion_id",   "promotion_name", "quantity",        "shipping",
      "shipping_tier",  "tax",            "transaction_id", "value",           "checkout_step",
      "checkout_option", "item_list",     "item_location_id",
  };
  return contains(names, name);
}

bool GWLIsDefaultConversionEventName(std::string_view name) {
  static const NameSet names = {"ecommerce_purchase", "_f", "_iap", "in_app_purchase", "purchase", "refund"};
  return contains(names, name);
}

bool GWLIsPurchaseEventName(std::string_view name) {
  static const NameSet names = {"_iap", "purchase", "in_app_purchase", "ecommerce_purchase"};
  return contains(names, name);
}

bool GWLIsPublicName(std::string_view name) {
  if (name.empty()) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptyNameCode, kEmptyNameMessage);
    return false;
  }
  return name[0] != '_';
}

bool GWLIsNotErrorEventName(std::string_view name) { return name != kGWLErrorEventName; }
