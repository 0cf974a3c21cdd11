// AppConsole — the app's diagnostic lines on standard output.
//
// The app has no logging framework: a handful of events print one line each
// (the memento at launch, "GOT URL! ...", "Failed to open mail"). Tests capture
// the lines with ScopedConsoleCapture instead of reading the real stdout.
#pragma once

#include <string>
#include <vector>

namespace tabulo {

// Writes `line` and a line feed to standard output, flushed (or to the capture).
void printLine(const std::string& line);

// While alive, printed lines are kept here instead of going to stdout.
class ScopedConsoleCapture {
 public:
  ScopedConsoleCapture();
  ~ScopedConsoleCapture();
  ScopedConsoleCapture(const ScopedConsoleCapture&) = delete;
  ScopedConsoleCapture& operator=(const ScopedConsoleCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  friend void printLine(const std::string& line);
  std::vector<std::string> lines_;
  ScopedConsoleCapture* previous_;
};

}  // namespace tabulo
