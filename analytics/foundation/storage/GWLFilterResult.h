// GWLFilterResult — the stored evaluation results of one audience: the
// current and previous result bit sets (encoded by the audience evaluator).
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

class GWLFilterResult {
 public:
  GWLFilterResult(int32_t audienceID, std::optional<std::vector<uint8_t>> currentResults,
                  std::optional<std::vector<uint8_t>> previousResults)
      : audienceID_(audienceID), currentResults_(std::move(currentResults)),
        previousResults_(std::move(previousResults)) {}

  int32_t audienceID() const { return audienceID_; }
  const std::optional<std::vector<uint8_t>>& currentResults() const { return currentResults_; }
  const std::optional<std::vector<uint8_t>>& previousResults() const { return previousResults_; }

 private:
  int32_t audienceID_;
  std::optional<std::vector<uint8_t>> currentResults_;
  std::optional<std::vector<uint8_t>> previousResults_;
};
