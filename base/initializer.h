// Named initializers: each registration records an initializer body under a
// type name ("module") and an initializer name, in one process-wide registry.
// Registration objects are made at start (as static objects) and never
// destroyed. Nothing in this program runs initializers; the registry keeps the
// record and refuses duplicate names.
//
//   static base::InitializerRegistration my_module("module", "my_module", &InitMyModule);
#pragma once

#include <string>

namespace base {

class InitializerRegistration {
 public:
  using Body = void (*)();

  // Registers at once. A second registration object for the same type and
  // name, or the same object registered twice, is a fatal check.
  InitializerRegistration(const char* type, const char* name, Body body);
  InitializerRegistration(const InitializerRegistration&) = delete;
  InitializerRegistration& operator=(const InitializerRegistration&) = delete;

  const std::string& type() const { return type_; }
  const std::string& name() const { return name_; }
  Body body() const { return body_; }

  // Registers this object (again); used by the constructor.
  void Register();

 private:
  std::string type_;
  std::string name_;
  Body body_;
};

// Queries of the process-wide registry.
class InitializerRegistry {
 public:
  // Whether an initializer named `name` of type `type` is registered.
  static bool IsRegistered(const std::string& type, const std::string& name);
  // The registration for `type` and `name`, or null.
  static const InitializerRegistration* Find(const std::string& type, const std::string& name);
};

// The phases of command-line flag parsing that the "module" initializers
// "command_line_flags_parsing" and "command_line_flags_parsed" require.
enum class CommandLineFlagsPhase { kNotStarted, kParsing, kParsed };
void SetCommandLineFlagsPhase(CommandLineFlagsPhase phase);
CommandLineFlagsPhase GetCommandLineFlagsPhase();

}  // namespace base
