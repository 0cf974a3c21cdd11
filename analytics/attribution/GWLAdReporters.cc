#include "analytics/attribution/GWLAdReporters.h"

#include <utility>

std::shared_ptr<GWLAdExposureReporter> GWLAdReporters::adExposureReporter() const {
  return dependencies_.adExposureReporter ? dependencies_.adExposureReporter : GWLAdExposureReporter::sharedInstance();
}

void GWLAdReporters::handleScreenDidChangeFromScreen(std::shared_ptr<const GWLScreen> previous,
                                                     std::shared_ptr<const GWLScreen> next) {
  adExposureReporter()->handleScreenDidChangeFromScreen(previous, next);
}

void GWLAdReporters::handleAppDidBecomeActive() { adExposureReporter()->handleAppDidBecomeActive(); }

void GWLAdReporters::handleAppWillResignActiveWithScreen(std::shared_ptr<const GWLScreen> screen) {
  adExposureReporter()->handleAppWillResignActiveWithScreen(screen);
}

void GWLAdReporters::startSearchAdReporter(std::shared_ptr<platform::Queue> workerQueue,
                                           std::shared_ptr<GWLPersistedConfig> persistedConfig) {
  std::shared_ptr<GWLSearchAdReporter> reporter = GWLSearchAdReporter::initWithWorkerQueue(
      std::move(workerQueue), std::move(persistedConfig), dependencies_.searchAds);
  std::shared_ptr<GWLSearchAdReporter> replaced;
  {
    platform::MutexLock lock(mutex_);
    replaced = std::exchange(searchAdReporter_, reporter);
  }
  replaced.reset();  // outside the lock: its end cancels its alarm and its requests
  if (!reporter) return;
  reporter->setSearchAdReporterEnabled(true);
  reporter->start();
}

void GWLAdReporters::setSearchAdReporterEnabled(bool enabled) {
  if (auto reporter = searchAdReporter()) reporter->setSearchAdReporterEnabled(enabled);
}

std::shared_ptr<GWLSearchAdReporter> GWLAdReporters::searchAdReporter() const {
  platform::MutexLock lock(mutex_);
  return searchAdReporter_;
}
