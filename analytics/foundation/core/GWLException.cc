#include "analytics/foundation/core/GWLException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace {
std::string demangledName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}
}  // namespace

GWLException::GWLException(std::string name, std::string reason, std::vector<std::string> callStackSymbols)
    : name_(std::move(name)), reason_(std::move(reason)), callStackSymbols_(std::move(callStackSymbols)) {}

GWLException GWLException::fromCurrentException() {
  try {
    throw;
  } catch (const GWLException& exception) {
    return exception;
  } catch (const std::exception& exception) {
    return GWLException(demangledName(typeid(exception)), exception.what());
  } catch (...) {
    return GWLException("UnknownException", "unknown exception");
  }
}
