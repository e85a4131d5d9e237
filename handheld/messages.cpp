// Posted messages: a registry of windows (message sinks) by HWND.
//
// A message is delivered outside the registry's lock, so that a sink may take its own
// locks (and post, attach or detach) without an order against ours. DetachMessageSink
// waits for deliveries to that window running on other threads, so a window is never
// handed a message after its detach has returned.
#include "handheld/messages.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "handheld/files.h"

namespace {

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

struct Windows {
  std::mutex mutex;
  std::condition_variable delivered;
  std::map<HWND, handheld::MessageSink*> sinks;
  std::vector<std::pair<HWND, std::thread::id>> delivering;
  uintptr_t next = 0x10000;
};

Windows& TheWindows() {
  static Windows* windows = new Windows;
  return *windows;
}

}  // namespace

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Windows& windows = TheWindows();
  const auto delivery = std::make_pair(window, std::this_thread::get_id());
  handheld::MessageSink* sink;
  {
    std::lock_guard<std::mutex> lock(windows.mutex);
    auto it = windows.sinks.find(window);
    if (it == windows.sinks.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    sink = it->second;
    windows.delivering.push_back(delivery);
  }
  sink->Deliver(MSG{window, message, wParam, lParam});
  {
    std::lock_guard<std::mutex> lock(windows.mutex);
    windows.delivering.erase(
        std::find(windows.delivering.begin(), windows.delivering.end(), delivery));
  }
  windows.delivered.notify_all();
  return TRUE;
}

namespace handheld {

HWND AttachMessageSink(MessageSink* sink) {
  Windows& windows = TheWindows();
  std::lock_guard<std::mutex> lock(windows.mutex);
  windows.next += 0x10;  // never reused while the process lives
  HWND window = reinterpret_cast<HWND>(windows.next);
  windows.sinks.emplace(window, sink);
  return window;
}

void DetachMessageSink(HWND window) {
  Windows& windows = TheWindows();
  std::unique_lock<std::mutex> lock(windows.mutex);
  windows.sinks.erase(window);
  // A sink may detach itself from inside Deliver; only other threads are waited for.
  const std::thread::id self = std::this_thread::get_id();
  windows.delivered.wait(lock, [&] {
    return std::none_of(windows.delivering.begin(), windows.delivering.end(),
                        [&](const auto& d) { return d.first == window && d.second != self; });
  });
}

MessageQueue::MessageQueue() : window_(AttachMessageSink(this)) {}

MessageQueue::~MessageQueue() {
  DetachMessageSink(window_);
}

void MessageQueue::Deliver(const MSG& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(message);
  }
  arrived_.notify_one();
}

bool MessageQueue::Take(MSG* message, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) return false;
  *message = queue_.front();
  queue_.pop_front();
  return true;
}

}  // namespace handheld
