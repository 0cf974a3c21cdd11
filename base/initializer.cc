#include "base/initializer.h"

#include <atomic>
#include <map>
#include <mutex>

#include "absl/base/internal/raw_logging.h"
#include "absl/strings/str_cat.h"
#include "base/check.h"

namespace base {

namespace {

struct InitializerData {
  InitializerRegistration* initializer_obj = nullptr;
  int count = 0;
  bool initializer_obj_constructed = false;
};

struct TypeData {
  std::map<std::string, InitializerData> initializers;
  bool some_initializer_ran = false;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, TypeData> types;
};

Registry& GetRegistry() {
  static Registry* const registry = new Registry();  // lives for the whole process
  return *registry;
}

std::atomic<CommandLineFlagsPhase> flags_phase{CommandLineFlagsPhase::kNotStarted};

void RequireFlagsParsing() {
  const bool doing_command_line_flags_parsing = GetCommandLineFlagsPhase() != CommandLineFlagsPhase::kNotStarted;
  BASE_CHECK(doing_command_line_flags_parsing,
             "Can't call REQUIRE_MODULE_INITIALIZED(command_line_flags_parsing): InitHalcyra does it for you.");
}

void RequireFlagsParsed() {
  const bool after_command_line_flags_parsing = GetCommandLineFlagsPhase() == CommandLineFlagsPhase::kParsed;
  BASE_CHECK(after_command_line_flags_parsing,
             "Can't call REQUIRE_MODULE_INITIALIZED(command_line_flags_parsed): InitHalcyra does it for you.");
}

InitializerRegistration command_line_flags_parsing("module", "command_line_flags_parsing", &RequireFlagsParsing);
InitializerRegistration command_line_flags_parsed("module", "command_line_flags_parsed", &RequireFlagsParsed);

}  // namespace

InitializerRegistration::InitializerRegistration(const char* type, const char* name, Body body)
    : type_(type), name_(name), body_(body) {
  Register();
}

void InitializerRegistration::Register() {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  TypeData& type_data = registry.types[type_];
  if (type_data.some_initializer_ran) {
    ABSL_RAW_LOG(ERROR, "Registering initializer '%s' too late: some initializers of type '%s' have executed",
                 name_.c_str(), type_.c_str());
  }
  InitializerData* idata = &type_data.initializers[name_];
  InitializerRegistration* init = this;
  if (idata->initializer_obj == nullptr) {
    idata->initializer_obj = init;
  }
  BASE_CHECK(idata->initializer_obj == init, "There is more than one initializer with name '", name_, "'");
  BASE_CHECK(!idata->initializer_obj_constructed, ": Multiple occurrences of initializer '", name_, "'");
  idata->initializer_obj_constructed = true;
}

bool InitializerRegistry::IsRegistered(const std::string& type, const std::string& name) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto t = registry.types.find(type);
  return t != registry.types.end() && t->second.initializers.count(name) > 0;
}

const InitializerRegistration* InitializerRegistry::Find(const std::string& type, const std::string& name) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto t = registry.types.find(type);
  if (t == registry.types.end()) return nullptr;
  auto i = t->second.initializers.find(name);
  return i == t->second.initializers.end() ? nullptr : i->second.initializer_obj;
}

void SetCommandLineFlagsPhase(CommandLineFlagsPhase phase) { flags_phase.store(phase); }

CommandLineFlagsPhase GetCommandLineFlagsPhase() { return flags_phase.load(); }

}  // namespace base
