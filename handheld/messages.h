// Posted window messages.
//
// Contract: PostMessageW queues a message for a window from any thread and returns
// without waiting; it fails for a window that does not exist. Windows are message
// sinks registered here: the window system registers its windows, tests use a
// MessageQueue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "handheld/types.h"

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

constexpr UINT WM_APP = 0x8000;

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace handheld {

class MessageSink {
 public:
  // Called on the posting thread; must not block for long.
  virtual void Deliver(const MSG& message) = 0;

 protected:
  ~MessageSink() = default;
};

HWND AttachMessageSink(MessageSink* sink);
void DetachMessageSink(HWND window);

// A window that only queues what is posted to it.
class MessageQueue final : public MessageSink {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  HWND window() const { return window_; }
  void Deliver(const MSG& message) override;
  // Takes the oldest message, waiting up to `timeout`; false when none came.
  bool Take(MSG* message, std::chrono::milliseconds timeout);

 private:
  HWND window_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<MSG> queue_;
};

}  // namespace handheld
