// platform::PlayerLayer — the layer that shows a video player's picture over
// its frame. Which player it shows is its owner's business: the layer only
// holds the address of the video, if any, and its frame.
#pragma once

#include <optional>
#include <string>

#include "platform/grid/View.h"

namespace platform {

class PlayerLayer {
 public:
  const Rect& frame() const { return frame_; }
  void setFrame(const Rect& frame) { frame_ = frame; }

  const std::optional<std::string>& videoURL() const { return videoURL_; }
  void setVideoURL(std::optional<std::string> url) { videoURL_ = std::move(url); }

 private:
  Rect frame_;
  std::optional<std::string> videoURL_;
};

}  // namespace platform
