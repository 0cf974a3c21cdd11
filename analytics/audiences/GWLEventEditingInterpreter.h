// GWLEventEditingInterpreter — the event-editing runtime the configuration
// loads its programs into (GWLEventEditingRuntime), over the interpreter's
// GWLPEventEditing. The configuration's module descriptions become their
// script modules: a key-value store, an object provider, and the logging
// module over a GWLBrindleLogger.
//
// The engine's start puts `factory(monitor)` into
// GWLRemoteConfig::Dependencies::eventEditingFactory; each configuration
// with programs then gets a new runtime from it.
//
// Used by one thread at a time (the worker queue), as GWLPEventEditing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPEventEditing.h"
#include "analytics/foundation/config/GWLEventEditingRuntime.h"

class GWLMonitor;

class GWLEventEditingInterpreter : public GWLEventEditingRuntime {
 public:
  // Script log lines go to `monitor`, the library's monitor when null.
  explicit GWLEventEditingInterpreter(std::shared_ptr<GWLMonitor> monitor = nullptr);

  // Makes a new runtime per call, logging through `monitor`.
  static GWLEventEditingFactory factory(std::shared_ptr<GWLMonitor> monitor = nullptr);
  // The script module a module description stands for.
  static GWLPValueRef moduleValue(const GWLEventEditingModule& module, const std::shared_ptr<GWLMonitor>& monitor);

  void setModuleCreator(ModuleCreator creator, const std::string& name) override;
  [[nodiscard]] bool loadProgram(const std::shared_ptr<GWLPBProgram>& program,
                                 platform::Error* error = nullptr) override;
  [[nodiscard]] bool handleEvent(const GWLEditableEvent& event, platform::Error* error = nullptr) override;
  bool hasEdits() const override;
  bool hasCreatedEvents() const override;
  GWLEditableEvent outputEvent() const override;
  std::vector<GWLEditableEvent> eventsToLog() const override;

  GWLPEventEditing& editing() { return editing_; }

 private:
  std::shared_ptr<GWLMonitor> monitor_;
  GWLPEventEditing editing_;
};
