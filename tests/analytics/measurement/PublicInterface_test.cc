// The public class: the configured gate, the unbridged-value search, hashed
// identifiers, the core framework's start, the installation ID and store
// transactions.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "EntryClassTestSupport.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "platform/corvane/CVNApp.h"
#include "platform/corvane/CVNInstallations.h"
#include "platform/storekit/StoreTransaction.h"

namespace measurement_test {
namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Object;

const std::string kServiceFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>HALCYRA_APP_ID</key>"
    "<string>1:77:ios:cz</string></dict></plist>\n";

bool has(const std::vector<int64_t>& codes, int64_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class PublicInterfaceTest : public EntryClassTest {
 protected:
  void SetUp() override {
    EntryClassTest::SetUp();
    platform::CVNApp::resetDefaultAppForTesting();
    installationsQueue_ = platform::SerialQueue::create("installations");
    useInstallations(platform::CVNInstallations::create({(app_.path() / "installations").string(), installationsQueue_, [] {
      return std::string("installation-1");
    }}));
  }
  void TearDown() override {
    installationsQueue_->flush();
    CVNAnalytics::setDependenciesForTesting({});
    platform::CVNApp::resetDefaultAppForTesting();
    EntryClassTest::TearDown();
  }

  void useInstallations(std::shared_ptr<platform::CVNInstallations> installations,
                        std::function<bool(const Object&)> isBoxedValue = nullptr) {
    installations_ = std::move(installations);
    CVNAnalytics::Dependencies dependencies;
    dependencies.environment = environment_;
    dependencies.notificationCenter = center_;
    dependencies.installations = [this] { return installations_; };
    dependencies.identity = [this] { return identity_; };
    dependencies.isBoxedValue = std::move(isBoxedValue);
    CVNAnalytics::setDependenciesForTesting(dependencies);
  }

  // The entry class and a configured core framework, which starts it.
  void makeAndConfigure(Setup setup = Setup()) {
    setup.serviceFile = kServiceFile;
    setup.components.push_back(kGWLPublicClassName);
    make(setup);
    useInstallations(installations_);
    CVNAnalyticsConnector::load();
    ASSERT_TRUE(platform::CVNApp::configure(environment_, center_));
    installationsQueue_->flush();
    settle();
  }

  std::vector<std::string> userDataCalls() {
    std::vector<std::string> result;
    for (const auto& call : engine_->calls()) {
      if (call.starts_with("setUserData")) result.push_back(call);
    }
    return result;
  }

  std::shared_ptr<platform::SerialQueue> installationsQueue_;
  std::shared_ptr<platform::CVNInstallations> installations_;
};

TEST_F(PublicInterfaceTest, BeforeConfigureEventsAreRefusedWhileUserIDAndDefaultsWaitForTheStart) {
  make(with([](Setup& setup) {
    setup.serviceFile = kServiceFile;
    setup.components = {kGWLPublicClassName};
  }));
  useInstallations(installations_);
  CVNAnalytics::logEventWithName("early", GWLRawParameters{});
  CVNAnalytics::setUserPropertyString(Object("blue"), "color");
  CVNAnalytics::setUserID(Object("user-7"));
  CVNAnalytics::setDefaultEventParameters(Dictionary{{"tier", "gold"}});
  settle();
  auto codes = entryCodes();
  EXPECT_TRUE(has(codes, 25018));
  EXPECT_TRUE(has(codes, 25019));
  EXPECT_TRUE(made().empty());

  CVNAnalyticsConnector::load();
  ASSERT_TRUE(platform::CVNApp::configure(environment_, center_));
  installationsQueue_->flush();
  settle();
  ASSERT_EQ(made().size(), 1u);
  EXPECT_EQ(made()[0].appID, "1:77:ios:cz");
  EXPECT_TRUE(made()[0].isAnalyticsCollectionEnabled);
  EXPECT_FALSE(made()[0].isAnalyticsCollectionDeactivated);
  const auto calls = engine_->calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "setUserAttribute _id=user-7 (app)"), calls.end()) << ::testing::PrintToString(calls);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "setDefaultEventParameters " + Object(Dictionary{{"tier", "gold"}}).description()), calls.end())
      << ::testing::PrintToString(calls);
  for (const auto& event : engine_->events()) EXPECT_NE(event.name, "early");
  EXPECT_EQ(identity_->corvaneInstallationID(), std::optional<std::string>("installation-1"));

  // A second configure is refused and starts nothing again.
  platform::Error error;
  EXPECT_FALSE(platform::CVNApp::configure(environment_, center_, &error));
  EXPECT_FALSE(error.description.empty());

  CVNAnalytics::logEventWithName("later", GWLRawParameters{});
  settle();
  EXPECT_EQ(engine_->events().back().name, "later");
  EXPECT_EQ(engine_->events().back().origin, "app");
}

TEST_F(PublicInterfaceTest, HashedIdentifiersBecomeThirtyTwoBytesOnlyFromSixtyFourHexDigits) {
  makeAndConfigure();
  const std::string hex = "00112233445566778899aabbccddeeffFFEEDDCCBBAA99887766554433221100";
  Bytes converted = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff,
                     0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
  std::string nonHex = hex;
  nonHex[10] = 'z';
  nonHex[11] = 'q';
  struct Case {
    const char* what;
    std::optional<Bytes> given;
    Bytes sent;
    bool warned;
  };
  const std::vector<Case> cases = {
      {"64 hex characters", bytesOf(hex), converted, true},
      {"32 bytes", Bytes(32, 7), Bytes(32, 7), false},
      {"31 bytes", Bytes(31, 7), Bytes(31, 7), true},
      {"33 bytes", Bytes(33, 7), Bytes(33, 7), true},
      {"65 bytes", Bytes(65, 'a'), Bytes(65, 'a'), true},
      {"64 characters with a non-hex pair", bytesOf(nonHex), bytesOf(nonHex), true},
      {"nil", std::nullopt, Bytes(), true},
  };
  for (const bool email : {true, false}) {
    for (const auto& test : cases) {
      SCOPED_TRACE(std::string(test.what) + (email ? " (e-mail)" : " (phone)"));
      entryCodes();
      engine_->clear();
      if (email) {
        CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(test.given);
      } else {
        CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(test.given);
      }
      settle();
      clock_->advance(0.5);  // the pause after user data
      settle();
      const Dictionary expected{{email ? "hashed_email_address" : "hashed_phone_number", Object(test.sent)}};
      EXPECT_EQ(userDataCalls(), std::vector<std::string>{"setUserData " + Object(expected).description()});
      EXPECT_EQ(has(entryCodes(), email ? 25056 : 25057), test.warned);
    }
  }
}

TEST_F(PublicInterfaceTest, PlainIdentifiersSendAnEmptyStringForNilAndAreGatedByConfigure) {
  make(with([](Setup& setup) {
    setup.serviceFile = kServiceFile;
    setup.components = {kGWLPublicClassName};
  }));
  CVNAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress("a@example.com");
  CVNAnalytics::initiateOnDeviceConversionMeasurementWithPhoneNumber("+1555");
  CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(Bytes(32, 1));
  CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(Bytes(32, 1));
  EXPECT_EQ(entryCodes(), (std::vector<int64_t>{25051, 25052, 25053, 25054}));

  CVNAnalyticsConnector::load();
  ASSERT_TRUE(platform::CVNApp::configure(environment_, center_));
  settle();
  CVNAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(std::nullopt);
  settle();
  EXPECT_EQ(userDataCalls(),
            std::vector<std::string>{"setUserData " + Object(Dictionary{{"email_address", ""}}).description()});
}

TEST_F(PublicInterfaceTest, ABoxedValueAnywhereInTheParametersIsReportedAndTheEventStillLogged) {
  // Dates stand in for the boxed class's instances here.
  auto isBoxed = [](const Object& object) { return object.isDate(); };
  makeAndConfigure(with([](Setup& setup) { setup.components = {kCVNBoxedValueClassName}; }));
  useInstallations(installations_, isBoxed);
  entryCodes();
  CVNAnalytics::logEventWithName(
      "boxed", GWLRawParameters{{"list", Object(platform::Array{Object(1), Object(platform::Date{5})})}});
  CVNAnalytics::logEventWithName("plain", GWLRawParameters{{"list", Object(platform::Array{Object(1)})}});
  settle();
  EXPECT_EQ(entryCodes(), std::vector<int64_t>{25040});
  const auto events = engine_->events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].name, "boxed");
  EXPECT_EQ(events.back().name, "plain");

  // Nested in a dictionary's key or value.
  EXPECT_TRUE(CVNContainsObjectOfClass(Object(Dictionary{{"a", Object(Dictionary{{"b", platform::Date{1}}})}}), isBoxed));
  EXPECT_FALSE(CVNContainsObjectOfClass(Object(Dictionary{{"a", Object(Dictionary{{"b", 1}})}}), isBoxed));
}

TEST_F(PublicInterfaceTest, WithoutTheBoxedClassNothingIsSearched) {
  makeAndConfigure();
  useInstallations(installations_, [](const Object&) { return true; });
  entryCodes();
  CVNAnalytics::logEventWithName("any", GWLRawParameters{{"x", Object(1)}});
  settle();
  EXPECT_FALSE(has(entryCodes(), 25040));
}

TEST_F(PublicInterfaceTest, TheInstallationIDIsObservedOnceAndAFailureHandsOverNil) {
  makeAndConfigure();
  int asked = 0;
  // A directory that cannot be made: the installations framework answers an error.
  const auto blocker = app_.path() / "blocker";
  std::ofstream(blocker) << "file";
  useInstallations(platform::CVNInstallations::create({(blocker / "sub").string(), installationsQueue_, [&asked] {
    ++asked;
    return std::string("never-stored");
  }}));
  CVNAnalytics::observeCorvaneInstallationIDChanges();
  CVNAnalytics::observeCorvaneInstallationIDChanges();
  entryCodes();
  center_->post(platform::kCVNInstallationIDDidChangeNotification);
  installationsQueue_->flush();
  EXPECT_EQ(asked, 1);  // one observation: one request
  EXPECT_EQ(entryCodes(), std::vector<int64_t>{25038});
  EXPECT_EQ(identity_->corvaneInstallationID(), std::nullopt);
}

TEST_F(PublicInterfaceTest, StoreTransactionsMapToTheLoggedValues) {
  using T = platform::StoreTransaction;
  T transaction;
  transaction.productID = "pro";
  transaction.productType = T::ProductType::AutoRenewable;
  transaction.id = 18446744073709551615ull;
  transaction.originalID = 2000000000000001ull;
  transaction.webOrderLineItemID = "w-1";
  transaction.offer = T::Offer{"intro", T::OfferType::Introductory, T::OfferPaymentMode::FreeTrial};
  transaction.purchasedQuantity = 2;
  transaction.purchaseDate = {100};
  transaction.originalPurchaseDate = {50};
  transaction.expirationDate = platform::Date{200};
  transaction.environment = "Sandbox";
  transaction.verification = T::VerificationResult::Unverified;

  auto values = CVNTransactionValues(transaction, "17.2");
  EXPECT_EQ(values.transactionID, "18446744073709551615");
  EXPECT_EQ(values.originalTransactionID, "2000000000000001");
  EXPECT_EQ(values.productType, 3);
  EXPECT_TRUE(values.isFreeTrial);
  EXPECT_TRUE(values.isIntroductoryOffer);
  EXPECT_EQ(values.environment, std::optional<std::string>("Sandbox"));
  EXPECT_FALSE(values.isVerified);
  EXPECT_EQ(values.subscriptionExpirationDate, std::optional<platform::Date>(platform::Date{200}));
  EXPECT_EQ(values.cancellationDate, std::nullopt);

  struct Case {
    const char* version;
    bool offerFlags;
    bool environment;
  };
  for (const Case& test : {Case{"17.1.9", false, true}, Case{"16.0", false, true}, Case{"15.9", false, false}}) {
    SCOPED_TRACE(test.version);
    auto older = CVNTransactionValues(transaction, test.version);
    EXPECT_EQ(older.isFreeTrial, test.offerFlags);
    EXPECT_EQ(older.isIntroductoryOffer, test.offerFlags);
    EXPECT_EQ(older.environment.has_value(), test.environment);
  }

  transaction.productType = T::ProductType::Unknown;
  transaction.offer.reset();
  transaction.verification = T::VerificationResult::Verified;
  values = CVNTransactionValues(transaction, "18.0");
  EXPECT_EQ(values.productType, 0);
  EXPECT_FALSE(values.isFreeTrial);
  EXPECT_FALSE(values.isIntroductoryOffer);
  EXPECT_TRUE(values.isVerified);

  make();
  CVNLogTransaction(transaction, "18.0");
  settle();
  ASSERT_EQ(purchases_->reported().size(), 1u);
  EXPECT_EQ(purchases_->reported()[0], values);
}

TEST_F(PublicInterfaceTest, TheScreenModifierOverridesItsExtrasAndLogsOncePerAppearance) {
  makeAndConfigure();
  engine_->clear();
  const auto modifier = loggedAnalyticsScreen("Sheet", "SheetView", Dictionary{{"screen_name", "extra"}, {"mode", "edit"}});
  modifier.onAppear();
  settle();
  modifier.onAppear();
  settle();
  // The entry class routes the app's "screen_view" to the screen-view reporter.
  const auto tracked = screens_->tracked();
  ASSERT_EQ(tracked.size(), 2u);
  for (const auto& [parameters, timestamp] : tracked) {
    EXPECT_EQ(plain(parameters), (Dictionary{{"screen_name", "Sheet"}, {"screen_class", "SheetView"}, {"mode", "edit"}}));
  }

  // Applied to a hosted screen, the UI layer runs the action at each appearance, never at a disappearance.
  auto ui = platform::UIEnvironment::makeHeadless();
  auto root = std::make_shared<platform::ViewController>(ui.environment);
  auto hosted = std::make_shared<platform::ViewController>(ui.environment);
  auto host = loggedAnalyticsScreen(platform::HostingController::make(ui.environment, hosted), "Popup", "PopupView");
  root->present(host, false);
  settle();
  root->dismiss(false);
  settle();
  root->present(host, false);
  settle();
  const auto logged = screens_->tracked();
  ASSERT_EQ(logged.size(), 4u);
  EXPECT_EQ(plain(logged[2].first), (Dictionary{{"screen_name", "Popup"}, {"screen_class", "PopupView"}}));
  EXPECT_EQ(plain(logged[3].first), plain(logged[2].first));
}

}  // namespace
}  // namespace measurement_test
