#include "platform/appdelegate/AppDelegateURLOpening.h"

#include "platform/util/Mutex.h"

namespace platform {
namespace {

struct Slot {
  Mutex mutex;
  AppDelegateOpenURL operation ABSL_GUARDED_BY(mutex);
};

Slot& slot() {
  static auto* shared = new Slot();  // never destroyed: the main queue may still run at exit
  return *shared;
}

}  // namespace

void setAppDelegateOpenURL(AppDelegateOpenURL operation) {
  Slot& s = slot();
  MutexLock lock(s.mutex);
  s.operation = std::move(operation);
}

bool openURLInAppDelegate(const std::string& url, const Dictionary& options) {
  AppDelegateOpenURL operation;
  {
    Slot& s = slot();
    MutexLock lock(s.mutex);
    operation = s.operation;
  }
  return operation ? operation(url, options) : false;
}

}  // namespace platform
