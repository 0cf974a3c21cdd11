#include "app/AppConsole.h"

#include <cstdio>

namespace tabulo {
namespace {
ScopedConsoleCapture* currentCapture = nullptr;
}

void printLine(const std::string& line) {
  if (currentCapture) {
    currentCapture->lines_.push_back(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

ScopedConsoleCapture::ScopedConsoleCapture() : previous_(currentCapture) { currentCapture = this; }
ScopedConsoleCapture::~ScopedConsoleCapture() { currentCapture = previous_; }

}  // namespace tabulo
