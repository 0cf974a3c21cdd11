// PreferencesUserDefaults — UserDefaults over a preferences suite
// (platform::PreferencesStore): the suite's property-list file is what the
// app's documents, flags and counters are kept in.
#pragma once

#include <memory>

#include "app/UserDefaults.h"
#include "platform/storage/PreferencesStore.h"

namespace tabulo {

class PreferencesUserDefaults : public UserDefaults {
 public:
  explicit PreferencesUserDefaults(std::shared_ptr<platform::PreferencesStore> store);

  // The app's own suite (the standard user defaults), made on first use.
  static std::shared_ptr<PreferencesUserDefaults> standard();

  std::optional<platform::Object> objectForKey(const std::string& key) const override;
  std::shared_ptr<const platform::Object> sharedObjectForKey(const std::string& key) const override;
  bool setObject(platform::Object value, const std::string& key, std::string* reason = nullptr) override;
  void registerDefaults(const platform::Dictionary& defaults) override;
  bool synchronize() override;
  std::optional<std::string> unreadableStorage() const override;
  bool setAsideUnreadableStorage() override;

  const std::shared_ptr<platform::PreferencesStore>& store() const { return store_; }

 private:
  std::shared_ptr<platform::PreferencesStore> store_;
};

}  // namespace tabulo
