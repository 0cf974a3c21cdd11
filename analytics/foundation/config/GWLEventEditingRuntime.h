// GWLEventEditingRuntime — what the foundation and the engine need of the
// event-editing interpreter, which lives in a layer above the foundation: a
// runtime that takes native modules, loads one program of the configuration
// and then runs the program's rules over each event before it is stored. The
// interpreter's layer implements it and hands the configuration a factory
// for new runtimes (GWLRemoteConfig::Dependencies::eventEditingFactory).
//
// Used by one thread at a time: the configuration builds and loads it on the
// worker queue, and the engine's event write runs it there. A caller keeps
// the runtime it got from `GWLRemoteConfig::eventEditing()` for the whole of
// one event (handleEvent and the reads after it), so that a configuration
// swapped in meanwhile cannot change the runtime under it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/values/GWLEvent.h"
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
  // Loads the program; false with an error when it cannot be loaded (the
  // caller then drops the runtime).
  [[nodiscard]] virtual bool loadProgram(const std::shared_ptr<GWLPBProgram>& program,
                                         platform::Error* error = nullptr) = 0;

  // Runs the loaded rules over one event (as GWLEvent::editEvent makes it).
  // True when the run ended without error, whatever it changed; false with
  // the run's first error when a rule failed, and then the event must be
  // stored unedited and nothing created.
  [[nodiscard]] virtual bool handleEvent(const GWLEditableEvent& event, platform::Error* error = nullptr) = 0;
  // What the last run did: whether its output differs from its input, and
  // whether it created events.
  virtual bool hasEdits() const = 0;
  virtual bool hasCreatedEvents() const = 0;
  // The last run's output event, and the events it created in order.
  virtual GWLEditableEvent outputEvent() const = 0;
  virtual std::vector<GWLEditableEvent> eventsToLog() const = 0;
};

using GWLEventEditingFactory = std::function<std::shared_ptr<GWLEventEditingRuntime>()>;

// What editing one event gives the event write.
struct GWLEventEditingOutcome {
  // False when editing failed: the event is stored unedited and nothing is
  // created; `error` says why.
  bool succeeded = false;
  platform::Error error;
  // The event to store: the edited one, or the given one when the rules
  // changed nothing.
  std::shared_ptr<GWLEvent> event;
  // The created events to store after it, in order, each a non-public event
  // with the origin of its "_o" text ("app" without one).
  std::vector<std::shared_ptr<GWLEvent>> createdEvents;
};

// Runs `editing` over `event` and builds the events to store with `limits`.
// Editing fails when a rule failed or when the event initialiser refuses the
// edited event (an invalid name or origin); a created event the initialiser
// refuses is left out, the others are kept.
GWLEventEditingOutcome GWLEditEvent(GWLEventEditingRuntime& editing, const std::shared_ptr<GWLEvent>& event,
                                    const GWLValueLimits& limits);
