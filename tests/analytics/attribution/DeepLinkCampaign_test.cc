// The campaign step: which parameters of an opened link become the campaign
// event, which click identifiers stay, the stored ad click details, the
// event's name, origin and time; and the refusal on the worker queue.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "DeepLinksTestSupport.h"
#include "analytics/attribution/GWLCampaignTables.h"
#include "analytics/wire/GWLPBDeepLinkVrtParamsEntry.h"

namespace deeplink_test {
namespace {

// The fields of an encoded message as (tag, value): varints as their
// decimal text, length-delimited fields as their bytes. Read independently of
// the wire layer, so the tags themselves are checked.
std::multimap<int, std::string> wireFields(const std::vector<uint8_t>& bytes) {
  std::multimap<int, std::string> fields;
  size_t at = 0;
  auto varint = [&]() -> uint64_t {
    uint64_t value = 0;
    for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
      const uint8_t byte = bytes[at++];
      value |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80)) break;
    }
    return value;
  };
  while (at < bytes.size()) {
    const uint64_t key = varint();
    const int tag = static_cast<int>(key >> 3);
    if ((key & 7) == 0) {
      fields.emplace(tag, std::to_string(static_cast<int64_t>(varint())));
    } else if ((key & 7) == 2) {
      const size_t length = varint();
      fields.emplace(tag, std::string(bytes.begin() + at, bytes.begin() + at + length));
      at += length;
    } else {
      ADD_FAILURE() << "unexpected wire type " << (key & 7);
      break;
    }
  }
  return fields;
}

Facts authorised() {
  Facts facts;
  facts.appleConsentStatus = 3;
  return facts;
}

class DeepLinkCampaignTest : public DeepLinksTest {
 protected:
  void SetUp() override {
    DeepLinksTest::SetUp();
    engine_->setFacts(authorised());
  }
  // The one event of a campaign step, or a failure.
  std::shared_ptr<GWLEvent> oneEvent(const std::optional<std::string>& url, const platform::Dictionary& extras = {}) {
    auto events = campaign(url, extras);
    EXPECT_EQ(events.size(), 1u) << url.value_or("(no url)");
    return events.empty() ? nullptr : events.front();
  }
};

TEST_F(DeepLinkCampaignTest, EveryRowOfTheRenamingTableAndVrtKeysKeepTheirNames) {
  const std::map<std::string, std::string> renamed = {
      {"aclid", "aclid"},           {"anid", "anid"},
      {"utm_campaign", "campaign"}, {"cis", "_cis"},
      {"utm_content", "content"},   {"cp1", "cp1"},
      {"vclid", "vclid"},           {"vrt_source", "vrt_source"},
      {"hclid", "hclid"},           {"hbraid", "hbraid"},
      {"utm_medium", "medium"},     {"utm_source", "source"},
      {"srsltid", "srsltid"},       {"utm_term", "term"},
      {"utm_id", "campaign_id"},    {"utm_creative_format", "creative_format"},
      {"utm_marketing_tactic", "marketing_tactic"}, {"utm_source_platform", "source_platform"},
      {"sfmc_id", "sfmc_id"},
  };
  ASSERT_EQ(renamed.size(), 19u);
  ASSERT_EQ(kGWLCampaignParameterRenaming.size(), 19u);
  std::string query;
  int n = 0;
  for (const auto& [key, name] : renamed) query += key + "=v" + std::to_string(n++) + "&";
  query += "vrt_extra=kept&unknown=dropped&gclid=dropped&source=dropped&utm_empty=";

  auto event = oneEvent("tabulo://open?" + query);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->name(), "_cmp");
  EXPECT_EQ(event->origin(), "auto");
  std::set<std::string> expectedNames = {"vrt_extra", "_o"};
  n = 0;
  for (const auto& [key, name] : renamed) {
    EXPECT_EQ(parameter(*event, name), platform::Object("v" + std::to_string(n++))) << key;
    expectedNames.insert(name);
  }
  EXPECT_EQ(parameter(*event, "vrt_extra"), platform::Object("kept"));
  std::set<std::string> names;
  for (const auto& [name, value] : event->parameters()) names.insert(name);
  EXPECT_EQ(names, expectedNames);
}

TEST_F(DeepLinkCampaignTest, OnlyRequiredKeysOrVrtKeysMakeACampaign) {
  const struct {
    std::optional<std::string> url;
    platform::Dictionary extras;
    bool isCampaign;
    int64_t code;  // printed when it is no campaign
  } cases[] = {
      {"tabulo://open?utm_content=ad&utm_term=shoes", {}, false, kGWLDeepLinkNotCampaignCode},
      {"tabulo://open?utm_source=&utm_campaign=&x=1", {}, false, kGWLDeepLinkNotCampaignCode},
      {"tabulo://open", {}, false, kGWLDeepLinkQueryEmptyCode},
      {"not a url?utm_source=x", {}, false, kGWLDeepLinkQueryEmptyCode},
      {std::nullopt, {}, false, kGWLDeepLinkQueryEmptyCode},
      {std::nullopt, {{"utm_source", int64_t{5}}}, false, kGWLDeepLinkQueryEmptyCode},  // number extras do not count
      {"tabulo://open?vrt_x=", {}, true, 0},  // a "vrt_" key counts even when empty
      {"tabulo://open?utm_campaign=c", {}, true, 0},
      {"tabulo://open?hclid=c", {}, true, 0},
      {"tabulo://open?utm_medium=c", {}, true, 0},
      {"tabulo://open?utm_source=c", {}, true, 0},
      {"tabulo://open?hbraid=c", {}, true, 0},
      {"tabulo://open?utm_id=c", {}, true, 0},
      {"tabulo://open?vclid=c", {}, true, 0},
      {"tabulo://open?srsltid=c", {}, true, 0},
      {"tabulo://open?sfmc_id=c", {}, true, 0},
      {std::nullopt, {{"utm_source", "extra"}}, true, 0},  // string extras join the query
  };
  // The links that are no campaign come first: none of them stores click details.
  for (const auto& c : cases) {
    const auto events = campaign(c.url, c.extras);
    EXPECT_EQ(events.size(), c.isCampaign ? 1u : 0u) << c.url.value_or("(none)");
    const auto printed = codes();
    if (!c.isCampaign) {
      EXPECT_EQ(printed, std::vector<int64_t>{c.code}) << c.url.value_or("(none)");
      EXPECT_FALSE(storedCampaignInfo());
    }
  }
}

TEST_F(DeepLinkCampaignTest, OneVrtKeyIsACampaignWithOneStoredEntry) {
  auto event = oneEvent("tabulo://open?vrt_x=abc");
  ASSERT_TRUE(event);
  EXPECT_EQ(parameter(*event, "vrt_x"), platform::Object("abc"));
  auto info = storedCampaignInfo();
  ASSERT_TRUE(info);
  auto entries = info->deepLinkVrtParams();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->key(), "vrt_x");
  EXPECT_EQ(entries[0]->value(), "abc");
  EXPECT_FALSE(info->hasHclid());
  EXPECT_FALSE(info->hasHbraid());
  EXPECT_FALSE(info->hasVrtSource());
  EXPECT_EQ(info->campaignTimestamp(), static_cast<int64_t>(kNow) * 1000);
}

TEST_F(DeepLinkCampaignTest, StoredCampaignInfoFieldByField) {
  ASSERT_TRUE(oneEvent("tabulo://open?hclid=H1&hbraid=B2&vrt_source=S3&vrt_y=Y4&utm_source=src",
                       {{"vrt_n", 12}}));
  auto buffer = persistedConfig_->adCampaignInfoBuffer();
  ASSERT_TRUE(buffer && buffer->bytesValue());
  auto fields = wireFields(*buffer->bytesValue());
  std::multimap<int, std::string> expected = {
      {1, "H1"}, {2, "B2"}, {3, "S3"}, {4, std::to_string(static_cast<int64_t>(kNow) * 1000)}};
  // Entries {1: key, 2: value} under tag 9, one per "vrt_" parameter (number extras as their text).
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"vrt_n", "12"}, {"vrt_source", "S3"}, {"vrt_y", "Y4"}}) {
    expected.emplace(9, std::string{0x0a, static_cast<char>(key.size())} + key +
                            std::string{0x12, static_cast<char>(value.size())} + value);
  }
  EXPECT_EQ(fields, expected);

  // A later campaign with click details replaces the info whole; one without leaves it.
  ASSERT_TRUE(oneEvent("tabulo://open?hbraid=B9"));
  auto info = storedCampaignInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->hbraid(), "B9");
  EXPECT_FALSE(info->hasHclid());
  EXPECT_EQ(info->deepLinkVrtParamsCount(), 0u);
  ASSERT_TRUE(oneEvent("tabulo://open?utm_source=only"));
  EXPECT_EQ(storedCampaignInfo()->hbraid(), "B9");
}

TEST_F(DeepLinkCampaignTest, ClickIdentifiersNeedTheAdvertisingIdentifierConsent) {
  Facts none;  // system 14 or above, no advertising identifier, tracking not authorised
  Facts withIdentifier;
  withIdentifier.resettableDeviceID = "00000000-AAAA-BBBB-CCCC-000000000001";
  Facts olderSystem;
  olderSystem.iOS14OrAbove = false;
  const struct {
    const char* name;
    Facts facts;
    bool allowed;
  } cases[] = {{"authorised", authorised(), true},
               {"advertising identifier", withIdentifier, true},
               {"system before 14", olderSystem, true},
               {"none", none, false}};
  for (const auto& c : cases) {
    engine_->setFacts(c.facts);
    EXPECT_EQ(deepLinks_->shouldAllowClickID(), c.allowed) << c.name;
    auto event = oneEvent("tabulo://open?hclid=H&vclid=V&srsltid=S&hbraid=B&utm_source=x");
    ASSERT_TRUE(event) << c.name;
    for (const char* identifier : {"hclid", "vclid", "srsltid"}) {
      EXPECT_EQ(parameter(*event, identifier).isNull(), !c.allowed) << c.name << " " << identifier;
    }
    EXPECT_EQ(parameter(*event, "hbraid"), platform::Object("B")) << c.name;
    auto info = storedCampaignInfo();
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->hasHclid(), c.allowed) << c.name;
    EXPECT_EQ(info->hbraid(), "B") << c.name;
  }
}

TEST_F(DeepLinkCampaignTest, ExtrasQueryKeysAndClickTime) {
  // A query key beats a string extra of the same name; number extras and the
  // click time join the event; the referrer only chooses the origin.
  auto events = campaign("tabulo://open?utm_source=query&utm_medium=",
                         {{"utm_source", "extra"},
                          {"utm_medium", "extra-medium"},
                          {"utm_campaign", "extra-campaign"},
                          {"_cc", int64_t{1699995600000}},
                          {"_ref", "https://example.com/page"},
                          {"ignored", platform::Array{1}}},
                         int64_t{1699999999999});
  ASSERT_EQ(events.size(), 1u);
  const GWLEvent& event = *events[0];
  EXPECT_EQ(event.name(), "_cmp");
  EXPECT_EQ(parameter(event, "source"), platform::Object("query"));
  EXPECT_TRUE(parameter(event, "medium").isNull());  // the query's empty value replaced the extra, then dropped
  EXPECT_EQ(parameter(event, "campaign"), platform::Object("extra-campaign"));
  EXPECT_EQ(parameter(event, "_cc"), platform::Object(int64_t{1699995600000}));
  EXPECT_EQ(parameter(event, "click_timestamp"), platform::Object(int64_t{1699999999999}));
  EXPECT_TRUE(parameter(event, "_ref").isNull());
  EXPECT_TRUE(parameter(event, "ignored").isNull());
  EXPECT_EQ(event.previousTimestamp(), 0);
  EXPECT_TRUE(engine_->eventsCameOnWorkerQueue());
}

TEST_F(DeepLinkCampaignTest, NameFollowsTheCoarseClickOfOne) {
  const struct {
    platform::Object cc;
    const char* name;
  } cases[] = {{int64_t{1}, "_cmpx"}, {1.0, "_cmpx"}, {int64_t{2}, "_cmp"}, {"1", "_cmp"}, {platform::Object(), "_cmp"}};
  for (const auto& c : cases) {
    auto event = oneEvent("tabulo://open?utm_source=s", {{"_cc", c.cc}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), c.name) << c.cc.description();
  }
}

TEST_F(DeepLinkCampaignTest, OriginIsTheSearchSiteOnlyForItsReferrer) {
  const struct {
    std::optional<std::string> referrer;
    const char* origin;
  } cases[] = {
      {"https://www.halcyra.com/search?q=sheets", "hs"},
      {"https://halcyra.com", "hs"},
      {"https://HALCYRA.co.uk/", "hs"},
      {"http://www.halcyra.de/x", "hs"},
      {"https://halcyra.com.au/", "hs"},
      {"https://example.com/halcyra.com", "auto"},
      {"https://nothalcyra.com", "auto"},
      {"https://halcyra.com.evil.example", "auto"},
      {"https://maps.halcyra.com", "auto"},
      {"halcyra.com", "auto"},  // no host without an authority
      {"", "auto"},
      {std::nullopt, "auto"},
  };
  for (const auto& c : cases) {
    platform::Dictionary extras;
    if (c.referrer) extras["_ref"] = *c.referrer;
    auto event = oneEvent("tabulo://open?utm_source=s", extras);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->origin(), c.origin) << c.referrer.value_or("(none)");
  }
}

TEST_F(DeepLinkCampaignTest, EventTimeIsRaisedToFirstOpen) {
  const int64_t firstOpenMs = 1'700'000'500'250;
  persistedConfig_->setFirstOpenTimestampMilliseconds(firstOpenMs);
  auto events = campaign("tabulo://open?hbraid=b", {}, std::nullopt, kNow);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_DOUBLE_EQ(events[0]->timestamp(), 1'700'000'500.25);
  EXPECT_EQ(storedCampaignInfo()->campaignTimestamp(), firstOpenMs);
  // A later event keeps its own time.
  events = campaign("tabulo://open?hbraid=b", {}, std::nullopt, kNow + 1000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_DOUBLE_EQ(events[0]->timestamp(), kNow + 1000);
}

TEST_F(DeepLinkCampaignTest, OpenedURLsReachTheWorkerQueueButAreRefusedThere) {
  deepLinks_->handleNonFirstOpenEventURL("tabulo://open?utm_source=app", kNow, "https://halcyra.com/");
  deepLinks_->handleNonFirstOpenEventURL("", kNow);  // an empty URL is ignored
  engine_->flush();
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->origin(), "hs");
  EXPECT_EQ(parameter(*events[0], "source"), platform::Object("app"));
  EXPECT_TRUE(parameter(*events[0], "click_timestamp").isNull());

  engine_->onWorkerQueue([&] { deepLinks_->handleNonFirstOpenEventURL("tabulo://open?utm_source=app", kNow); });
  engine_->flush();
  EXPECT_TRUE(engine_->takeEvents().empty());
  EXPECT_EQ(lastSampledKey(), "1E_120500:" + std::string(kGWLOpenURLOnWorkerQueueMessage));
}

}  // namespace
}  // namespace deeplink_test
