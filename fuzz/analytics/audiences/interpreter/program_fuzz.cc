// Feeds bytes as an event-editing program through the whole road a
// downloaded one takes: decoding, reading into the program form, loading
// through the editing engine (conversion, the top-level statements, each
// activity entry handed to its function, rule registration), then the rules
// run over three fixed events (a plain one, one with items, one with NaN and
// a long text) and over a fourth, the output the third run made; besides,
// the native conversions of the loaded program's values. Nothing may crash,
// hang or exhaust memory; every failure must be a clean error.
//
// Every registered command (operators, control flow, loops, variables), every
// string and array method, the event object's methods and the modules a
// configuration offers ("internal.registerCallback", "internal.eventLogger",
// "internal.logger", "internal.remoteConfig", "internal.appMetadata",
// "internal.platform") are reachable by name; the seed corpus holds programs
// that use each group, regular expressions and editing rules included.
// Besides them, programs may use a few fuzz-only commands ("fz.*", below) so
// that arrays, functions, callbacks, scopes and the collector are reachable
// from the bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <sstream>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPEventEditing.h"
#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPKeyValueStore.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPMessageLogger.h"
#include "analytics/audiences/interpreter/GWLPObjectProvider.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPProgramReader.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/wire/GWLPBProgram.h"
#include "platform/core/Log.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

// fz.array(values...), fz.object(), fz.declare(name, value), fz.get(name),
// fz.assign(name, value), fz.function(name, params, body...) with params a
// comma-separated text, fz.return(value), fz.break(), fz.loop(body),
// fz.call(receiver, method, arguments...), fz.set(receiver, key, value),
// fz.read(receiver, key).
class FuzzCommands : public GWLPHandlerCommandEvaluator {
 public:
  FuzzCommands()
      : GWLPHandlerCommandEvaluator({"fz.array", "fz.object", "fz.declare", "fz.get", "fz.assign", "fz.function",
                                     "fz.return", "fz.break", "fz.loop", "fz.call", "fz.set", "fz.read"},
                                    GWLPArgumentStyle::Statements) {
    auto evaluate = [](const GWLPValueList& arguments, size_t i, const GWLPScopeRef& scope, GWLPErrorOut& out) {
      return i < arguments.size() ? GWLPEvaluator::evaluateStatement(arguments[i], scope, out) : undefined();
    };
    auto text = [evaluate](const GWLPValueList& arguments, size_t i, const GWLPScopeRef& scope, GWLPErrorOut& out) {
      GWLPValueRef value = evaluate(arguments, i, scope, out);
      return out.failed() ? std::string() : value->stringValueOrError(out);
    };
    handlers_["fz.array"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
      if (out.failed()) return undefined();
      auto array = GWLPObjectManager::arrayValueWithArray(values, scope, out);
      return array ? GWLPValueRef(array) : undefined();
    };
    handlers_["fz.object"] = [](const GWLPValueList&, const GWLPScopeRef& scope, platform::Error*) {
      return GWLPValueRef(GWLPObjectManager::mapValueWithScope(scope));
    };
    handlers_["fz.declare"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = text(arguments, 0, scope, out);
      GWLPValueRef value = evaluate(arguments, 1, scope, out);
      if (out.failed()) return undefined();
      scope->addValue(value, name);
      return value;
    };
    handlers_["fz.assign"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = text(arguments, 0, scope, out);
      GWLPValueRef value = evaluate(arguments, 1, scope, out);
      if (out.failed()) return undefined();
      scope->setValue(value, name);
      return value;
    };
    handlers_["fz.get"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = text(arguments, 0, scope, out);
      return out.failed() ? undefined() : scope->valueForName(name);
    };
    handlers_["fz.function"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error) -> GWLPValueRef {
      GWLPErrorOut out(error);
      std::string name = text(arguments, 0, scope, out);
      std::string params = text(arguments, 1, scope, out);
      if (out.failed()) return undefined();
      std::vector<std::string> names;
      std::stringstream stream(params);
      for (std::string item; std::getline(stream, item, ',');) names.push_back(item);
      GWLPValueList body;
      if (arguments.size() > 2) body.assign(arguments.begin() + 2, arguments.end());
      auto function = GWLPObjectManager::functionValueWithFunctionName(name, names, body, scope);
      if (!name.empty()) scope->addValue(function, name);
      return function;
    };
    handlers_["fz.return"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef value = evaluate(arguments, 0, scope, out);
      return out.failed() ? undefined() : GWLPControlValue::returnValueWithData(value);
    };
    handlers_["fz.break"] = [](const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
      return GWLPControlValue::breakValue();
    };
    handlers_["fz.loop"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      while (!out.failed()) {
        // Each turn costs an instruction, even with an empty body.
        GWLPCountInstruction(scope, out);
        if (out.failed()) break;
        GWLPValueRef result = GWLPEvaluator::executeStatements(arguments, scope->createChildScope(), out);
        if (result->isControl()) return result;
      }
      return undefined();
    };
    handlers_["fz.call"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef receiver = evaluate(arguments, 0, scope, out);
      std::string method = text(arguments, 1, scope, out);
      if (out.failed()) return undefined();
      GWLPValueList rest;
      if (arguments.size() > 2) rest.assign(arguments.begin() + 2, arguments.end());
      return receiver->applyWithName(method, rest, scope, out);
    };
    handlers_["fz.set"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef receiver = evaluate(arguments, 0, scope, out);
      GWLPValueRef key = evaluate(arguments, 1, scope, out);
      GWLPValueRef value = evaluate(arguments, 2, scope, out);
      if (out.failed()) return undefined();
      if (receiver->isArray()) {
        static_cast<GWLPArrayValue&>(*receiver).setValue(value, *key, out);
      } else if (receiver->isMap()) {
        std::string name = key->stringValueOrError(out);
        if (!out.failed()) static_cast<GWLPMapValue&>(*receiver).setValue(value, name);
      }
      return value;
    };
    handlers_["fz.read"] = [=](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef receiver = evaluate(arguments, 0, scope, out);
      GWLPValueRef key = evaluate(arguments, 1, scope, out);
      if (out.failed()) return undefined();
      if (receiver->isArray()) return static_cast<GWLPArrayValue&>(*receiver).valueForProperty(*key, out);
      if (receiver->isMap()) {
        std::string name = key->stringValueOrError(out);
        return out.failed() ? undefined() : static_cast<GWLPMapValue&>(*receiver).valueForProperty(name);
      }
      return undefined();
    };
  }
};

class NullSink : public platform::LogSink {
 public:
  void write(const platform::LogRecord&) override {}
};

class NullLogger : public GWLPLoggerDelegate {
 public:
  void logWithLevel(int64_t, const std::string&, const std::vector<std::string>&, bool, bool) override {}
};

// Exercises the native conversions on a result, both ways.
void convertBothWays(const GWLPValueRef& value, const GWLPScopeRef& scope) {
  platform::Error error;
  platform::Object object = GWLPRuntimeEntityConverter::objectFromRuntimeValue(*value, &error);
  platform::Error back;
  GWLPRuntimeEntityConverter::runtimeValueFromNSObject(object, scope, &back);
  (void)value->isEqualToRuntimeValue(*value);
}

// The modules a configuration registers, over fixed answers.
void registerConfigurationModules(GWLPEventEditing& editing) {
  editing.setModuleCreator([] { return std::make_shared<GWLPMessageLogger>(std::make_shared<NullLogger>()); },
                           kGWLPLoggerModuleName);
  editing.setModuleCreator(
      [] {
        return std::make_shared<GWLPKeyValueStore>("internal.remoteConfig",
                                                   [](const std::string& key) -> std::optional<std::string> {
                                                     if (key.empty()) return std::nullopt;
                                                     return key.size() % 2 ? "60000" : key;
                                                   });
      },
      "internal.remoteConfig");
  editing.setModuleCreator(
      [] {
        return std::make_shared<GWLPObjectProvider>("internal.appMetadata", [] {
          return platform::Object(platform::Dictionary{
              {"platform", "ios"}, {"package_name", "app"}, {"qrx_version", int64_t{120500}}, {"app_version", "1.0"}});
        });
      },
      "internal.appMetadata");
}

// The three fixed events the rules run over.
std::vector<GWLPEvent> fixedEvents() {
  platform::Array items = {platform::Dictionary{{"item_id", "sku-1"}, {"price", 9.99}, {"quantity", int64_t{2}}},
                           platform::Dictionary{{"item_name", "second"}}};
  return {
      GWLPEvent("app_open", 1'700'000'000.5, {{"_o", "app"}, {"count", int64_t{3}}, {"value", 1.5}, {"label", "x"}}),
      GWLPEvent("purchase", 1'700'000'001, {{"_o", "app"}, {"currency", "EUR"}, {"items", items}}),
      GWLPEvent("odd", std::nan(""),
                {{"nan", std::nan("")}, {"long", std::string(4096, 'y')}, {"_err", int64_t{2}}, {"_c", int64_t{1}}}),
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::once_flag once;
  std::call_once(once, [] {
    GWLPCommandRegistrar::sharedInstance().registerEvaluator(std::make_shared<FuzzCommands>());
    platform::log::setSink(std::make_shared<NullSink>());
  });

  auto message = GWLPBProgram::initWithBuffer(std::span<const uint8_t>(data, size));
  if (!message) return 0;
  platform::Error error;
  auto program = GWLPProgramReader::programFromMessage(message, &error);
  if (!program) return 0;

  // The engine road. A failed load would make the configuration drop the
  // engine; its rules run here all the same, so that what a failure leaves
  // behind is exercised too.
  {
    GWLPEventEditing editing;
    registerConfigurationModules(editing);
    platform::Error loadError;
    (void)editing.loadProgram(*program, &loadError);
    GWLPEvent last;
    for (const GWLPEvent& event : fixedEvents()) {
      platform::Error runError;
      (void)editing.handleEvent(event, &runError);
      (void)editing.hasEdits();
      last = editing.eventContext()->outputEvent();
    }
    platform::Error runError;
    (void)editing.handleEvent(last, &runError);
  }

  // The values the program's statements and activity entries make, converted both ways.
  GWLPRuntime runtime;
  GWLPValueRef result = runtime.executeStatements(program->instructions, &error);
  convertBothWays(result, runtime.getRunScope());
  for (const auto& activity : program->activities) {
    for (const auto& entry : activity.data) {
      runtime.resetInstructionCount();
      platform::Error entryError;
      GWLPValueRef value = runtime.executeStatements({entry}, &entryError);
      convertBothWays(value, runtime.getRunScope());
    }
    runtime.collectGarbage();
  }
  runtime.collectGarbage();
  return 0;
}
