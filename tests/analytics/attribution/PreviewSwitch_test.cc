// The server-side tagging debug switch of opened URLs and the preview headers
// it leaves for uploads.
#include <gtest/gtest.h>

#include <filesystem>

#include "DeepLinksTestSupport.h"
#include "tests/platform/TestSupport.h"
#ifdef TABULO_HAS_COLLECTION_SERVICE
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#endif

namespace deeplink_test {
namespace {

using Headers = GWLDeepLinkHooks::Headers;

class PreviewSwitchTest : public DeepLinksTest {
 protected:
  void SetUp() override {
    DeepLinksTest::SetUp();
    monitor_->setDebugModeEnabled(false);
    reports();
  }
};

TEST_F(PreviewSwitchTest, DebugModeAndHeadersFollowTheQuery) {
  const std::string longKey(kGWLSVTPPreviewKeyMaxLength, 'k');
  const struct {
    std::string url;
    bool debugMode;
    std::optional<Headers> headers;
    bool refused;  // the preview key is refused with a line
  } steps[] = {
      {"tabulo://open?svtp_debug_enable=1", true, std::nullopt, false},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=abc", true, Headers{{"X-Kxw-Server-Preview", "abc"}}, false},
      {"tabulo://open?svtp_debug_enable=2&svtp_preview_key=zzz", true, Headers{{"X-Kxw-Server-Preview", "abc"}}, false},
      {"tabulo://open?utm_source=x", true, Headers{{"X-Kxw-Server-Preview", "abc"}}, false},
      {"not a url?svtp_debug_enable=0", true, Headers{{"X-Kxw-Server-Preview", "abc"}}, false},
      {"tabulo://open?svtp_debug_enable=0&svtp_preview_key=abc", false, std::nullopt, false},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=", true, std::nullopt, false},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=a%0D%0AX-Evil:1", true, std::nullopt, true},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=" + longKey, true,
       Headers{{"X-Kxw-Server-Preview", longKey}}, false},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=" + longKey + "k", true, std::nullopt, true},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=tab%09key", true, std::nullopt, true},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=caf%C3%A9", true, std::nullopt, true},
      {"tabulo://open?svtp_debug_enable=1&svtp_preview_key=my+key%3A%2F1", true,
       Headers{{"X-Kxw-Server-Preview", "my key:/1"}}, false},
  };
  for (const auto& step : steps) {
    deepLinks_->handleSVTPDebugModeWithURL(step.url);
    EXPECT_EQ(monitor_->isDebugModeEnabled(), step.debugMode) << step.url;
    EXPECT_EQ(deepLinks_->SVTPPreviewHeaders(), step.headers) << step.url;
    const auto printed = codes();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), kGWLSVTPPreviewKeyRefusedCode), step.refused ? 1 : 0)
        << step.url;
  }
}

#ifdef TABULO_HAS_COLLECTION_SERVICE

TEST_F(PreviewSwitchTest, UntrustedKeysNeverReachARequest) {
  const std::vector<uint8_t> kBatch = {0x08, 0x01};
  platform::testing::ScratchDirectory directory;
  std::filesystem::create_directories(directory / "capture");
  tabulo::test::CollectionServiceProcess service({"--capture", directory / "capture"});
  ASSERT_GT(service.port(), 0);

  // The entry class and the uploads reach the switch and the headers through the hooks.
  auto hooks = this->hooks();
  hooks->handleSVTPDebugModeWithURL("tabulo://open?svtp_debug_enable=1&svtp_preview_key=a%0D%0AX-Evil:1");
  EXPECT_TRUE(monitor_->isDebugModeEnabled());
  EXPECT_NE(tabulo::test::exchange("POST", service.url("/a"), kBatch, hooks->SVTPPreviewHeaders().value_or(Headers{}))
                .status,
            -1);
  hooks->handleSVTPDebugModeWithURL("tabulo://open?svtp_debug_enable=1&svtp_preview_key=preview-7");
  EXPECT_NE(tabulo::test::exchange("POST", service.url("/a"), kBatch, hooks->SVTPPreviewHeaders().value_or(Headers{}))
                .status,
            -1);

  const auto requests = tabulo::test::capturedRequests(directory / "capture");
  ASSERT_EQ(requests.size(), 2u);
  const std::string& first = requests[0];
  const std::string& second = requests[1];
  for (const std::string& request : requests) EXPECT_EQ(request.find("X-Evil"), std::string::npos) << request;
  EXPECT_EQ(first.find("X-Kxw-Server-Preview"), std::string::npos) << first;
  EXPECT_NE(second.find("\r\nX-Kxw-Server-Preview: preview-7\r\n"), std::string::npos) << second;
}

#endif  // TABULO_HAS_COLLECTION_SERVICE

}  // namespace
}  // namespace deeplink_test
