// base::down_cast: a checked down-cast along a class hierarchy. A pointer that
// does not point to a To stops the process through BadDownCastCrash, with the
// cast's own signature and the actual type named.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

namespace base {

// Writes "<message>: down_cast failed (actual type = <actual type>)" at FATAL
// severity (the raw logger, then the abort hook) and stops the program.
// `actual_type` is a mangled type name (std::type_info::name).
[[noreturn]] void BadDownCastCrash(const char* message, const char* actual_type);

namespace internal {
// The readable name of T, as the compiler spells it.
template <typename T>
constexpr std::string_view TypeName() {
  std::string_view f = __PRETTY_FUNCTION__;
  const auto start = f.find("T = ") + 4;
  return f.substr(start, f.find_first_of(";]", start) - start);
}
}  // namespace internal

template <typename To, typename From>
To down_cast(From* f) {
  static_assert(std::is_pointer_v<To>, "down_cast converts pointers");
  static_assert(std::is_base_of_v<From, std::remove_cv_t<std::remove_pointer_t<To>>>,
                "down_cast only converts to a derived class");
  if (f != nullptr && dynamic_cast<To>(f) == nullptr) {
    const std::string message = std::string("To down_cast(From *) [To = ") +
                                std::string(internal::TypeName<To>()) + ", From = " +
                                std::string(internal::TypeName<From>()) + "]";
    BadDownCastCrash(message.c_str(), typeid(*f).name());
  }
  return static_cast<To>(f);
}

}  // namespace base
