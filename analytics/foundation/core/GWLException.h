// GWLException — what the library keeps of an exception that a block threw:
// its name, its reason and the call-stack symbols captured where it was made.
//
// Queue wrappers turn whatever a block threw into a GWLException (with
// `fromCurrentException` inside a catch block) and hand it to the monitor as a
// report context; the monitor names the last library function on its stack.
// Library code may also throw a GWLException itself to carry a call stack.
#pragma once

#include <exception>
#include <string>
#include <vector>

class GWLException : public std::exception {
 public:
  GWLException(std::string name, std::string reason, std::vector<std::string> callStackSymbols = {});

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const std::vector<std::string>& callStackSymbols() const { return callStackSymbols_; }
  // The exception's description: its reason.
  const std::string& description() const { return reason_; }
  const char* what() const noexcept override { return reason_.c_str(); }

  // The exception being handled, as a GWLException; call only inside a catch
  // block. A std::exception keeps its type name and what(); anything else is
  // named "UnknownException".
  static GWLException fromCurrentException();

  friend bool operator==(const GWLException& a, const GWLException& b) {
    return a.name_ == b.name_ && a.reason_ == b.reason_ && a.callStackSymbols_ == b.callStackSymbols_;
  }

 private:
  std::string name_;
  std::string reason_;
  std::vector<std::string> callStackSymbols_;
};
