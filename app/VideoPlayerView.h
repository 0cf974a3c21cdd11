// PlayerUIView — a view that shows a video player's layer over its whole
// area: at every layout pass the layer takes the view's bounds.
#pragma once

#include "platform/grid/PlayerLayer.h"
#include "platform/grid/View.h"

namespace tabulo {

class PlayerUIView : public platform::View {
 public:
  explicit PlayerUIView(platform::Rect frame = {}) : View(frame) {}

  platform::PlayerLayer& playerLayer() { return playerLayer_; }
  const platform::PlayerLayer& playerLayer() const { return playerLayer_; }

  // One layout pass: the player layer covers the view.
  void layoutSubviews() { playerLayer_.setFrame(bounds()); }

 private:
  platform::PlayerLayer playerLayer_;
};

}  // namespace tabulo
