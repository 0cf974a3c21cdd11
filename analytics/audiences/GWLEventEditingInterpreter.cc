#include "analytics/audiences/GWLEventEditingInterpreter.h"

#include "analytics/audiences/GWLBrindleLogger.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPKeyValueStore.h"
#include "analytics/audiences/interpreter/GWLPMessageLogger.h"
#include "analytics/audiences/interpreter/GWLPObjectProvider.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"

namespace {

GWLEditableEvent editableEvent(const GWLPEvent& event) {
  GWLEditableEvent editable;
  editable.name = event.name();
  editable.timestamp = event.timestamp();
  editable.parameters = event.parameters();
  return editable;
}

}  // namespace

GWLEventEditingInterpreter::GWLEventEditingInterpreter(std::shared_ptr<GWLMonitor> monitor)
    : monitor_(monitor ? std::move(monitor) : GWLLibraryMonitor::monitor()) {}

GWLEventEditingFactory GWLEventEditingInterpreter::factory(std::shared_ptr<GWLMonitor> monitor) {
  return [monitor]() -> std::shared_ptr<GWLEventEditingRuntime> {
    return std::make_shared<GWLEventEditingInterpreter>(monitor);
  };
}

GWLPValueRef GWLEventEditingInterpreter::moduleValue(const GWLEventEditingModule& module,
                                                     const std::shared_ptr<GWLMonitor>& monitor) {
  switch (module.kind) {
    case GWLEventEditingModule::Kind::KeyValueStore:
      return std::make_shared<GWLPKeyValueStore>(module.name, module.getValue);
    case GWLEventEditingModule::Kind::ObjectProvider:
      return std::make_shared<GWLPObjectProvider>(module.name, [object = module.object] {
        return object ? platform::Object(object()) : platform::Object();
      });
    case GWLEventEditingModule::Kind::MessageLogger:
      return std::make_shared<GWLPMessageLogger>(std::make_shared<GWLBrindleLogger>(monitor));
  }
  return nullptr;
}

void GWLEventEditingInterpreter::setModuleCreator(ModuleCreator creator, const std::string& name) {
  if (!creator) {
    editing_.setModuleCreator(nullptr, name);
    return;
  }
  editing_.setModuleCreator([creator = std::move(creator), monitor = monitor_] { return moduleValue(creator(), monitor); },
                            name);
}

bool GWLEventEditingInterpreter::loadProgram(const std::shared_ptr<GWLPBProgram>& program, platform::Error* error) {
  return editing_.loadProgram(program, error);
}

bool GWLEventEditingInterpreter::handleEvent(const GWLEditableEvent& event, platform::Error* error) {
  platform::Error runError;
  (void)editing_.handleEvent(GWLPEvent(event.name, event.timestamp, event.parameters), &runError);
  if (GWLPFailed(runError)) {
    platform::setError(error, std::move(runError));
    return false;
  }
  return true;
}

bool GWLEventEditingInterpreter::hasEdits() const { return editing_.hasEdits(); }

bool GWLEventEditingInterpreter::hasCreatedEvents() const { return editing_.hasCreatedEvents(); }

GWLEditableEvent GWLEventEditingInterpreter::outputEvent() const {
  return editableEvent(editing_.eventContext()->outputEvent());
}

std::vector<GWLEditableEvent> GWLEventEditingInterpreter::eventsToLog() const {
  std::vector<GWLEditableEvent> events;
  events.reserve(editing_.eventContext()->eventsToLog().size());
  for (const GWLPEvent& event : editing_.eventContext()->eventsToLog()) events.push_back(editableEvent(event));
  return events;
}
