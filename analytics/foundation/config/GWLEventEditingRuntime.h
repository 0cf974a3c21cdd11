// GWLEventEditingRuntime — what the remote configuration needs of the
// event-editing interpreter, which lives in a layer above the foundation: a
// runtime that takes native modules and loads one program of the
// configuration. The interpreter's layer implements it and hands the
// configuration a factory for new runtimes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

class GWLPBProgram;

// A native module as the configuration describes it; the runtime builds its
// own module object from it when a program asks for the module.
struct GWLEventEditingModule {
  enum class Kind { KeyValueStore, ObjectProvider, MessageLogger };
  Kind kind = Kind::MessageLogger;
  std::string name;  // the function or provider name
  // KeyValueStore: the value of a key, or nullopt.
  std::function<std::optional<std::string>(const std::string& key)> getValue;
  // ObjectProvider: the object the module answers.
  std::function<platform::Dictionary()> object;
};

class GWLEventEditingRuntime {
 public:
  using ModuleCreator = std::function<GWLEventEditingModule()>;
  virtual ~GWLEventEditingRuntime() = default;
  virtual void setModuleCreator(ModuleCreator creator, const std::string& name) = 0;
  // Loads the program; false with an error when it cannot be loaded.
  virtual bool loadProgram(const std::shared_ptr<GWLPBProgram>& program, platform::Error* error = nullptr) = 0;
};

using GWLEventEditingFactory = std::function<std::shared_ptr<GWLEventEditingRuntime>()>;
