// The engine's life cycle after creation: the collection switch, the start
// with its component block, the wipe-out of the analytics data and the reset
// on request, and the application notifications with the background task.
#include <filesystem>

#include "analytics/audiences/GWLEventEditingInterpreter.h"
#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLBackwardCompatibilityUtil.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLDatabaseRemoteConfigStore.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "platform/dispatch/Queue.h"

namespace {

constexpr const char* kPublicClassName = "CVNAnalytics";

bool isEmpty(const std::optional<std::string>& text) { return !text || text->empty(); }
bool isEmpty(const std::optional<platform::Dictionary>& settings) { return !settings || settings->empty(); }

}  // namespace

// ---------------------------------------------------------------------------
// The collection switch

bool GWLMeasurement::shouldEnableMeasurement() const {
  if (isAnalyticsCollectionDeactivated_) return false;
  const int64_t state = persistedConfig_ ? persistedConfig_->measurementEnabledState() : 0;
  if (state == kGWLMeasurementEnabledStateOn) return true;
  if (state == kGWLMeasurementEnabledStateOff) return false;
  return isAnalyticsCollectionEnabled_;
}

void GWLMeasurement::setEnabled(bool enabled) {
  scheduleWeakly("GWLMeasurement:618", [enabled](GWLMeasurement& self) { self.setEnabledOnWorkerQueue(enabled); });
}

void GWLMeasurement::setEnabledOnWorkerQueue(bool enabled) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("setIsEnabledOnWorkerQueue");
  if (enabled && isAnalyticsCollectionDeactivated_) {
    report(kGWLMeasurementDeactivatedReport);
    return;
  }
  auto entry = analytics();
  if (!isAnalyticsCollectionDeactivated_ && entry && !entry->deferredAnalyticsCollection()) {
    // The first switch of the installation: 1 when it turned collection off, 0 when on.
    entry->setDeferredAnalyticsCollection(!enabled);
  }
  enabled_.store(enabled);

  if (enabled) {
    const bool firstStart = !didInitializeComponents();
    if (!startMeasurementOnWorkerQueue()) {
      report(kGWLMeasurementStartFailedReport);
      setEnabled(false);
      return;
    }
    if (auto reporter = sessionReporter()) {
      reporter->setReportingEnabled(true);
      // An activation that arrived after the first-open step looked at the
      // app's state, but before the components were ready, was not passed on
      // to the session reporter (the screen reporter passes it on only to an
      // initialized engine): it starts the launch session now. A session the
      // first-open step already started is not due again, so none is doubled.
      if (firstStart && GWLIsAppActive()) reporter->handleAppDidBecomeActive();
    }
    GWLInstalledHook<GWLAdReportingHooks>::get()->setSearchAdReporterEnabled(true);
    report(kGWLMeasurementEnabledReport);
    if (isScreenReportingEnabled() && classExists(kPublicClassName)) {
      report(kGWLMeasurementScreenReportingReport.level, kGWLMeasurementScreenReportingReport.code,
             filledIn(kGWLMeasurementScreenReportingReport.message, kGWLAutomaticScreenReportingEnabledInfoKey));
    }
    return;
  }

  auto config = engineRemoteConfig();
  GWLInstalledHook<GWLDeepLinkHooks>::get()->clearExpiredStoredDeepLink(config ? *config
                                                                               : *GWLRemoteConfig::defaultInstance());
  alarm_->cancel();
  if (auto reporter = sessionReporter()) reporter->setReportingEnabled(false);
  GWLInstalledHook<GWLAdReportingHooks>::get()->setSearchAdReporterEnabled(false);
  report(kGWLMeasurementDisabledReport);
}

// ---------------------------------------------------------------------------
// Start

bool GWLMeasurement::startMeasurementOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
  {
    platform::MutexLock lock(initializeComponentsLock_);
    if (!didInitializeComponents()) {
      // A failed block leaves the flag unset: the next enabling runs it whole again.
      if (!initializeComponentsOnWorkerQueue()) return false;
      setDidInitializeComponents(true);
    }
  }
  setPersonalizedAdsUserPropertyOnWorkerQueue();
  if (auto entry = analytics(); entry && entry->needFirstOpenAfterReset()) {
    reportFirstOpenOnWorkerQueue();
    entry->removeNeedFirstOpenAfterReset();
  }
  updateSchedule();
  if (GWLBackwardCompatibilityUtil::disableVQRMeasurement()) report(kGWLMeasurementOlderLibraryDisabledReport);
  return true;
}

bool GWLMeasurement::initializeComponentsOnWorkerQueue() {
  auto entry = analytics();

  // 1. Identity.
  auto identity = dependencies_.identity ? dependencies_.identity() : GWLIdentity::sharedInstance();
  if (!identity) return false;
  {
    platform::MutexLock lock(stateMutex_);
    identity_ = identity;
  }

  // 2. Consent at start.
  setProspectiveConsentSettings();
  if (entry) {
    entry->consent()->removeStartUpConsentSettings();
    entry->consent()->removeDeferredResetOnDeniedConsent();
  }

  // 3. The wipe decision.
  if (shouldWipeDataWithAppID(appID_, identity->appIDFromQRX(),
                              persistedConfig_ ? persistedConfig_->appIDFromQRX() : std::nullopt)) {
    if (entry) entry->setResetRetryCount(entry->resetRetryCount() + 1);
    if (wipeoutAnalyticsDataAndResetComponents()) {
      if (entry) entry->setResetRetryCount(0);
    } else {
      report(kGWLMeasurementWipeFailedReport);
    }
  }

  // 4-6. Identifiers.
  identity->updateIdentifiers();
  if (entry) {
    if (auto afterReset = entry->appInstanceIDAfterReset(); !isEmpty(afterReset)) {
      identity->setAppInstanceID(afterReset);
      entry->setAppInstanceIDAfterReset(std::nullopt);
    }
  }
  updatePersistedAppIDFromQRX();

  // 7. The database: a second attempt at once.
  const DatabaseOpener open =
      dependencies_.openDatabase
          ? dependencies_.openDatabase
          : [](const std::string& name, const std::shared_ptr<GWLPersistedConfig>& settings, platform::Error* error) {
              return GWLDatabase::initWithDatabaseName(name, settings, error);
            };
  platform::Error databaseError;
  auto database = open(databaseName_, persistedConfig_, &databaseError);
  if (!database) database = open(databaseName_, persistedConfig_, &databaseError);
  if (!database) return false;
  auto configStore = std::make_shared<GWLDatabaseRemoteConfigStore>(database);
  {
    platform::MutexLock lock(stateMutex_);
    database_ = database;
    configStore_ = configStore;
  }

  // 8-10. Configuration, audience evaluator, session reporter.
  auto config = makeRemoteConfig(configStore);
  if (!config) return false;
  {
    platform::MutexLock lock(stateMutex_);
    remoteConfig_ = config;
  }
  auto audience = GWLInstalledHook<GWLAudienceEvaluatorMaker>::get()->audienceWithDatabase(database);
  if (!audience) return false;
  auto reporter = makeSessionReporter();
  {
    platform::MutexLock lock(stateMutex_);
    audience_ = audience;
    sessionReporter_ = reporter;
  }

  // 11-14.
  platform::Error backupError;
  const std::string directory =
      std::filesystem::path(GWLMeasurementDirectoryPath(databaseName_)).parent_path().string();
  if (!GWLExcludePathFromBackup(directory, &backupError)) {
    report(kGWLMeasurementBackupExclusionFailedReport, backupError);
  }
  report(kGWLMeasurementReadyReport);
  monitor_->setEncodeContexts(identity->isFromAppStore());
  platform::Error staleError;
  if (!database->maybeDeleteStaleData(&staleError)) report(kGWLMeasurementStaleDataDeletionFailedReport, staleError);

  // 15. Consent from the configuration, on-device measurement, internal properties, first open.
  updateConsentSettingsUtilWithRemoteConfig();
  auto onDevice = GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get();
  onDevice->checkPSMDependencyOnWorkerQueue();
  onDevice->checkODM2DependencyOnWorkerQueue();
  onDevice->maybeDeleteExpiredPSMValueOnWorkerQueue();
  updateCachedAdCampaignInfoWithExistingHBRAIDProperty();
  removeLegacyHBRAIDUserProperty();
  setPersonalizedAdsUserPropertyOnWorkerQueue();
  backfillSessionNumber();
  reportFirstOpenOnWorkerQueue();

  // 16. Campaigns: the stored launch link, else the deferred deep link.
  auto deepLinks = GWLInstalledHook<GWLDeepLinkHooks>::get();
  if (deepLinks->hasStoredDeepLink()) {
    deepLinks->reportStoredCampaignEventOnWorkerQueue(std::nullopt);
  } else if (deepLinks->shouldAllowRequestDeferredDeepLink()) {
    if (config->isExpired()) {
      shouldRequestDeferredDeepLinkAfterConfigFetch_ = true;
    } else {
      deepLinks->requestDeferredDeepLink();
    }
  }

  // 17-19.
  reportAppUpdateOnWorkerQueue();
  reportOSUpdateOnWorkerQueue();
  if (!config->isExpired() && config->PSMGroupIDEnabled()) onDevice->initiateODMGroupIDProtocol();
  GWLInstalledHook<GWLAdReportingHooks>::get()->startSearchAdReporter(scheduler_->workerQueue(), persistedConfig_);

  // 20. TCF consent strings.
  GWLTCFClient::Dependencies tcfDependencies;
  if (entry) {
    tcfDependencies.consent = entry->consent();
    tcfDependencies.eventSink = entry->consentSink();
  }
  auto tcf = std::make_shared<GWLTCFClient>(std::move(tcfDependencies));
  tcf->setIsDMARegion(config->isDMARegion());
  {
    platform::MutexLock lock(stateMutex_);
    tcfClient_ = tcf;
  }
  tcfClientSetConsentFromData();

  // 21. Feature rollouts belong to the remote-config library; without it they go.
  if (persistedConfig_ && persistedConfig_->corvaneFeatureRollouts() && !isCorvaneRemoteConfigSDKPresent()) {
    persistedConfig_->setCorvaneFeatureRollouts(std::nullopt);
  }

  // 22.
  subscribeForAppForegroundBackgroundNotifications();
  return true;
}

std::shared_ptr<GWLRemoteConfig> GWLMeasurement::makeRemoteConfig(
    const std::shared_ptr<GWLDatabaseRemoteConfigStore>& store) const {
  GWLRemoteConfig::Dependencies dependencies;
  dependencies.monitor = monitor_;
  dependencies.clock = clock_;
  dependencies.experimentManager = experimentManager_;
  dependencies.hosts = dependencies_.hosts;
  dependencies.eventEditingFactory = GWLEventEditingInterpreter::factory(monitor_);
  dependencies.hasSVTPPreviewHeaders = [] { return SVTPPreviewHeaders().has_value(); };
  return GWLRemoteConfig::initWithAppID(appID_, store, persistedConfig_, std::move(dependencies));
}

std::shared_ptr<GWLSessionReporting> GWLMeasurement::makeSessionReporter() const {
  if (dependencies_.sessionReporterFactory) {
    if (auto reporter = dependencies_.sessionReporterFactory(persistedConfig_)) return reporter;
  }
  GWLSessionReporter::Dependencies dependencies;
  dependencies.clock = clock_;
  dependencies.monitor = monitor_;
  dependencies.notificationCenter = notificationCenter_;
  dependencies.remoteConfig = [weak = weakSelf_]() -> std::shared_ptr<GWLRemoteConfig> {
    auto self = weak.lock();
    return self ? self->remoteConfig() : nullptr;
  };
  dependencies.analytics = [weak = weakSelf_]() -> std::shared_ptr<GWLAnalytics> {
    auto self = weak.lock();
    return self ? self->analytics() : nullptr;
  };
  return GWLSessionReporter::initWithPersistedConfig(persistedConfig_, std::move(dependencies));
}

void GWLMeasurement::tcfClientSetConsentFromData() {
  if (auto tcf = tcfClient()) tcf->setConsentFromTCFData();
}

void GWLMeasurement::setProspectiveConsentSettings() {
  auto entry = analytics();
  if (!entry) return;
  auto& consent = entry->consent();
  const int64_t source = GWLConsentSettingsUtil::consentSource();
  const auto settings3P = consent->consentSettings3P();
  const auto settings1PStart = consent->consentSettings1PStart();
  const std::optional<platform::Dictionary> settingsPlist = GWLConsentSettingsUtil::consentSettingsFromPlist();
  const auto settingsTCF = consent->consentSettingsTCF();

  std::optional<platform::Dictionary> chosen;
  int64_t chosenSource = kGWLConsentSource3P;
  if (!isEmpty(settingsTCF) && GWLConsentSettingsUtil::isConsentSourceHigherPriority(kGWLConsentSourceTCF) &&
      (isEmpty(settings3P) || source == kGWLConsentSourceTCF)) {
    chosen = settingsTCF;
    chosenSource = kGWLConsentSourceTCF;
  } else if (!isEmpty(settingsPlist) &&
             GWLConsentSettingsUtil::isConsentSourceHigherPriority(kGWLConsentSourceInfoDictionary)) {
    chosen = settingsPlist;
    chosenSource = kGWLConsentSourceInfoDictionary;
  } else if (classExists(kPublicClassName) &&
             (source == kGWLConsentSource1PRestored || source == kGWLConsentSource1P)) {
    consent->clearConsent();
    return;
  } else if (!isEmpty(settings1PStart) &&
             GWLConsentSettingsUtil::isConsentSourceHigherPriority(kGWLConsentSource1PRestored)) {
    chosen = settings1PStart;
    chosenSource = kGWLConsentSource1PRestored;
  } else {
    chosen = settings3P;
    chosenSource = kGWLConsentSource3P;
  }
  if (isEmpty(chosen) || !GWLConsentSettingsUtil::isConsentSourceHigherPriority(chosenSource)) return;
  GWLConsentSettingsUtil::setConsentSettings(chosen);
  GWLConsentSettingsUtil::setConsentSource(chosenSource);
  consent->persistConsentSettings(chosen, chosenSource);
}

void GWLMeasurement::updatePersistedAppIDFromQRX() {
  if (!persistedConfig_) return;
  auto identity = this->identity();
  const auto fromIdentity = identity ? identity->appIDFromQRX() : std::nullopt;
  if (fromIdentity != persistedConfig_->appIDFromQRX()) persistedConfig_->setAppIDFromQRX(fromIdentity);
  auto identifiers = dependencies_.identifiers ? dependencies_.identifiers : GWLIdentifiers::sharedInstance();
  if (identifiers && identifiers->origin() == kGWLOriginCorvane) persistedConfig_->setAppIDFromQRX(appID_);
  persistedConfig_->setAppIDFromPelmo(std::nullopt);
}

// ---------------------------------------------------------------------------
// Wipe-out and reset

bool GWLMeasurement::shouldWipeDataWithAppID(const std::string& /*appID*/,
                                             const std::optional<std::string>& appIDFromQRX,
                                             const std::optional<std::string>& persistedAppIDFromQRX) const {
  auto entry = analytics();
  const int64_t retries = entry ? entry->resetRetryCount() : 0;
  if (retries >= 1 && retries <= kGWLMaxResetRetryCount) return true;
  if (isEmpty(appIDFromQRX) || isEmpty(persistedAppIDFromQRX) || *appIDFromQRX == *persistedAppIDFromQRX) return false;
  report(kGWLMeasurementAppIDChangedReport, *persistedAppIDFromQRX, *appIDFromQRX);
  return true;
}

bool GWLMeasurement::wipeoutAnalyticsDataAndResetComponents() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("wipeoutAnalyticsDataAndResetComponents");
  report(kGWLMeasurementResettingReport);
  GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get()->resetContexts();

  {
    auto previous = persistedConfig_ ? persistedConfig_->appIDFromQRX() : std::nullopt;
    platform::MutexLock lock(stateMutex_);
    previousQRXAppID_ = std::move(previous);
  }
  if (persistedConfig_) persistedConfig_->clearValues();
  monitor_->clearMonitoringData();

  if (GWLConsentSettingsUtil::adPersonalization()) {
    GWLConsentSettingsUtil::unsetAdPersonalization();
    GWLConsentSettingsUtil::setDefaultSettings(std::nullopt);
    GWLConsentSettingsUtil::setDelegatedSettings(std::nullopt);
  }

  if (auto database = this->database()) {
    platform::Error error;
    if (!database->reset(&error)) {
      report(kGWLMeasurementDatabaseResetFailedReport, error);
      return false;
    }
    if (auto config = engineRemoteConfig()) config->reset();
    // The main thread may be using the old reporter: the new one is swapped in whole.
    auto reporter = makeSessionReporter();
    reporter->setReportingEnabled(enabled_.load());
    platform::MutexLock lock(stateMutex_);
    sessionReporter_ = std::move(reporter);
  } else {
    deleteDatabaseFiles();
  }

  if (auto identity = this->identity()) {
    identity->updateIdentifiersAndWait();
    identity->resetEphemeralAppInstanceID();
    identity->resetSessionStitchingToken();
  }
  return true;
}

void GWLMeasurement::deleteDatabaseFiles() {
  const std::string path = GWLMeasurementDirectoryPath(databaseName_);
  platform::Error error;
  if (path.empty()) {
    (void)GWLDeleteFileAtPath(path, &error);
    report(kGWLMeasurementDeleteOldDatabaseFailedReport, error);
    return;
  }
  // The write-ahead log and the journal go with the file: left behind, they
  // would bring wiped rows back into the next database of that name.
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string file = path + suffix;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) continue;
    if (!GWLDeleteFileAtPath(file, &error)) report(kGWLMeasurementDeleteOldDatabaseFailedReport, error);
  }
}

bool GWLMeasurement::resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("resetAnalyticsData");
  if (isEmpty(appInstanceID)) {
    if (!GWLConsentSettingsUtil::isAnalyticsStorageDenied()) {
      report(kGWLMeasurementEmptyResetIDReport);
      return false;
    }
    report(kGWLMeasurementResettingWithEmptyIDReport);
  }
  auto entry = analytics();
  const double loadTimestamp = dependencies_.loadTimestamp ? dependencies_.loadTimestamp()
                               : entry                     ? entry->loadTimestamp()
                                                           : now();
  bool wiped = false;
  // Called on the worker queue itself, the queue runs the block inline (with a line in the log).
  scheduler_->dispatchSyncOnWorkerQueueBlockID("GWLMeasurement:3496", [&] {
    wiped = wipeoutAnalyticsDataAndResetComponents();
    if (!wiped) return;
    if (persistedConfig_) persistedConfig_->setAppInstanceID(appInstanceID);
    updatePersistedAppIDFromQRX();
    report(kGWLMeasurementResetReport);
    if (!isAnalyticsCollectionDeactivated_ && entry && !entry->deferredAnalyticsCollection()) {
      entry->setDeferredAnalyticsCollection(!enabled_.load());
    }
    initTimestamp_.store(loadTimestamp);
    if (persistedConfig_) persistedConfig_->setLoadTimestampValue(platform::Object(loadTimestamp));
    if (enabled_.load()) {
      setPersonalizedAdsUserPropertyOnWorkerQueue();
      reportFirstOpenOnWorkerQueue();
    }
  });
  return wiped;
}

// ---------------------------------------------------------------------------
// Notifications

void GWLMeasurement::setSessionTimeoutInterval(double seconds) {
  scheduleWeakly("GWLMeasurement:1625", [seconds](GWLMeasurement& self) {
    if (auto reporter = self.sessionReporter()) reporter->setTimeoutSessionInterval(seconds);
  });
}

void GWLMeasurement::reachabilityDidChange() {
  scheduleWeakly("GWLMeasurement:1002", [](GWLMeasurement& self) {
    self.updateSchedule();
    GWLInstalledHook<GWLSKAdNetworkHooks>::get()->maybeFetchSKANCVAfterReachabilityChange();
  });
}

void GWLMeasurement::subscribeForAppForegroundBackgroundNotifications() {
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  auto observe = [&](const char* name, void (GWLMeasurement::*handler)(const platform::Notification&)) {
    return notificationCenter_->addObserver(name, nullptr, [weak, handler](const platform::Notification& notification) {
      if (auto self = weak.lock()) ((*self).*handler)(notification);
    });
  };
  std::vector<platform::ObserverToken> tokens;
  tokens.push_back(
      observe(platform::kApplicationDidBecomeActiveNotification, &GWLMeasurement::handleAppDidBecomeActiveEvent));
  tokens.push_back(
      observe(platform::kApplicationWillResignActiveNotification, &GWLMeasurement::handleAppWillResignActiveEvent));
  tokens.push_back(observe(platform::kApplicationWillEnterForegroundNotification,
                           &GWLMeasurement::handleAppWillEnterForegroundNotification));
  platform::MutexLock lock(observerMutex_);
  for (auto& token : tokens) observers_.push_back(std::move(token));
}

void GWLMeasurement::handleAppDidBecomeActiveEvent(const platform::Notification& /*notification*/) {
  auto config = engineRemoteConfig();
  if (!config) config = GWLRemoteConfig::defaultInstance();
  if (config->blocklistInternal()) {
    scheduleWeakly("GWLMeasurement:4069", [config](GWLMeasurement& self) {
      const double age = self.now() - config->lastRemoteConfigUpdateTimestamp();
      if (age < kGWLActivationConfigRefreshInterval && age > -kGWLActivationConfigRefreshInterval) return;
      if (self.isNetworkReadyForRequest()) {
        self.fetchRemoteConfig();
      } else {
        self.report(kGWLMeasurementNetworkPendingReport);
      }
    });
  }
  scheduleWeakly("GWLMeasurement:4076",
                 [](GWLMeasurement&) { GWLInstalledHook<GWLSKAdNetworkHooks>::get()->fetchSKANCV(); });
}

void GWLMeasurement::handleAppWillResignActiveEvent(const platform::Notification& /*notification*/) {
  if (persistedConfig_) persistedConfig_->synchronizeToDisk();
  report(kGWLMeasurementResignActiveReport);
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  const platform::BackgroundTaskIdentifier task =
      backgroundTasks_->beginBackgroundTaskWithName(kGWLMeasurementBackgroundTaskName, [weak] {
        if (auto self = weak.lock()) self->terminateBackgroundTask();
      });
  swapBackgroundTaskWithNewTaskID(task);
  report(kGWLMeasurementBackgroundTaskStartedReport, static_cast<int64_t>(task));
  // Through the entry class's hold queue, so the upload follows every public call queued before it.
  auto upload = [weak] {
    if (auto self = weak.lock())
      self->scheduleWeakly("GWLMeasurement:4122", [](GWLMeasurement& engine) { engine.uploadData(); });
  };
  if (auto entry = analytics()) {
    entry->queueOperationWithBlock(upload);
  } else {
    upload();
  }
}

void GWLMeasurement::handleAppWillEnterForegroundNotification(const platform::Notification& /*notification*/) {
  terminateBackgroundTask();
}

void GWLMeasurement::terminateBackgroundTask() {
  if (persistedConfig_) persistedConfig_->synchronizeToDisk();
  swapBackgroundTaskWithNewTaskID(platform::kBackgroundTaskInvalid);
}

void GWLMeasurement::swapBackgroundTaskWithNewTaskID(platform::BackgroundTaskIdentifier taskID) {
  const platform::BackgroundTaskIdentifier old = backgroundUpdateTask_.exchange(taskID);
  if (old == platform::kBackgroundTaskInvalid) return;
  report(kGWLMeasurementCancellingBackgroundTaskReport, static_cast<int64_t>(old));
  backgroundTasks_->endBackgroundTask(old);
}
