// platform::NotificationCenter — named notifications with observers.
//
// An observer is registered for one name and, optionally, a queue on which it
// is called (without a queue it runs on the posting thread) and a sender: an
// observer given a sender receives only the notifications that sender posts
// (senders are told apart by ownership, and one that is gone posts nothing
// more, so a new object at the same address is never mistaken for it). Registration
// answers an ObserverToken; the observer is removed when the token is reset or
// destroyed. Posting to a name with no observers does nothing.
//
// Observers of one name are called in the order they were added. Once a
// token's reset() has returned, its observer is never started again, even for
// a post whose call already waits on a queue, and even when the center itself
// is gone by then; a call already running on another thread finishes. Tokens
// may outlive their center. An exception escaping an observer is logged.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/Object.h"

namespace platform {

class Queue;

// Whoever posts a notification, when it names itself; any object owned by a shared_ptr.
using NotificationSender = std::shared_ptr<const void>;

struct Notification {
  std::string name;
  Dictionary userInfo;
  NotificationSender sender;  // null when the poster named none
};

class NotificationCenter;

class ObserverToken {
 public:
  ObserverToken() = default;
  ObserverToken(std::weak_ptr<NotificationCenter> center, uint64_t id) : center_(std::move(center)), id_(id) {}
  // `active` is shared with the registration; reset() clears it.
  ObserverToken(std::weak_ptr<NotificationCenter> center, uint64_t id, std::shared_ptr<std::atomic<bool>> active)
      : center_(std::move(center)), id_(id), active_(std::move(active)) {}
  ObserverToken(ObserverToken&& other) noexcept;
  ObserverToken& operator=(ObserverToken&& other) noexcept;
  ObserverToken(const ObserverToken&) = delete;
  ObserverToken& operator=(const ObserverToken&) = delete;
  ~ObserverToken() { reset(); }
  // Unregisters the observer; afterwards it is never called again.
  void reset();
  explicit operator bool() const { return id_ != 0; }

 private:
  std::weak_ptr<NotificationCenter> center_;
  uint64_t id_ = 0;
  std::shared_ptr<std::atomic<bool>> active_;
};

class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
 public:
  using Observer = std::function<void(const Notification&)>;

  static std::shared_ptr<NotificationCenter> create();
  // The process-wide center.
  static std::shared_ptr<NotificationCenter> defaultCenter();

  // `queue` may be null: the observer then runs on the posting thread, inside
  // post(). The center keeps `queue` (and the observer) until the token is reset.
  [[nodiscard]] ObserverToken addObserver(const std::string& name, std::shared_ptr<Queue> queue, Observer observer);
  // The same, for the notifications `sender` posts only; a null sender observes every poster.
  [[nodiscard]] ObserverToken addObserver(const std::string& name, const NotificationSender& sender,
                                          std::shared_ptr<Queue> queue, Observer observer);
  void post(const std::string& name, Dictionary userInfo = {}, NotificationSender sender = nullptr);
  // Unregisters by token id; unknown ids are ignored.
  void removeObserver(uint64_t id);

  struct State;
  NotificationCenter();

 private:
  std::shared_ptr<State> state_;
};

// Application life-cycle notification names posted by the host.
inline constexpr const char* kApplicationDidBecomeActiveNotification = "ApplicationDidBecomeActive";
inline constexpr const char* kApplicationWillResignActiveNotification = "ApplicationWillResignActive";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "ApplicationDidEnterBackground";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "ApplicationWillEnterForeground";
inline constexpr const char* kApplicationWillTerminateNotification = "ApplicationWillTerminate";
// Posted by the host when a scene (a window of the app) is about to connect,
// on the thread that connects it.
inline constexpr const char* kSceneWillConnectNotification = "SceneWillConnect";

}  // namespace platform
