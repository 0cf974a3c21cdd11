// platform::HapticEngine and ImpactFeedbackGenerator — haptic taps.
//
// A screen owns an ImpactFeedbackGenerator of one style (light, medium,
// heavy...), prepares it once and fires it per tap; the generator passes both
// to its HapticEngine. RecordingHapticEngine keeps every request, for tests
// and hosts without a haptic engine.
#pragma once

#include <memory>
#include <vector>

namespace platform {

enum class ImpactStyle : int { light = 0, medium = 1, heavy = 2, soft = 3, rigid = 4 };

class HapticEngine {
 public:
  virtual ~HapticEngine() = default;
  virtual void prepare(ImpactStyle style) = 0;
  virtual void impactOccurred(ImpactStyle style) = 0;
};

class RecordingHapticEngine : public HapticEngine {
 public:
  struct Event {
    enum class Kind { prepare, impact } kind;
    ImpactStyle style;
    friend bool operator==(const Event&, const Event&) = default;
  };
  void prepare(ImpactStyle style) override { events.push_back({Event::Kind::prepare, style}); }
  void impactOccurred(ImpactStyle style) override { events.push_back({Event::Kind::impact, style}); }
  std::vector<Event> events;
};

class ImpactFeedbackGenerator {
 public:
  ImpactFeedbackGenerator(std::shared_ptr<HapticEngine> engine, ImpactStyle style)
      : engine_(std::move(engine)), style_(style) {}

  ImpactStyle style() const { return style_; }
  void prepare() const {
    if (engine_) engine_->prepare(style_);
  }
  void impactOccurred() const {
    if (engine_) engine_->impactOccurred(style_);
  }

 private:
  std::shared_ptr<HapticEngine> engine_;
  ImpactStyle style_;
};

}  // namespace platform
