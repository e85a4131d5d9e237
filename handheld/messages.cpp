// Posted messages: a registry of windows (message sinks) by HWND.
//
// Delivery happens under the registry's lock, so a window that is being detached is
// never handed a message after DetachMessageSink returns. The lock is recursive: a
// sink may post from inside Deliver.
#include "handheld/messages.h"

#include <cstdint>
#include <map>

#include "handheld/files.h"

namespace {

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

struct Windows {
  std::recursive_mutex mutex;
  std::map<HWND, handheld::MessageSink*> sinks;
  uintptr_t next = 0x10000;
};

Windows& TheWindows() {
  static Windows* windows = new Windows;
  return *windows;
}

}  // namespace

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Windows& windows = TheWindows();
  std::lock_guard<std::recursive_mutex> lock(windows.mutex);
  auto it = windows.sinks.find(window);
  if (it == windows.sinks.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  it->second->Deliver(MSG{window, message, wParam, lParam});
  return TRUE;
}

namespace handheld {

HWND AttachMessageSink(MessageSink* sink) {
  Windows& windows = TheWindows();
  std::lock_guard<std::recursive_mutex> lock(windows.mutex);
  windows.next += 0x10;  // never reused while the process lives
  HWND window = reinterpret_cast<HWND>(windows.next);
  windows.sinks.emplace(window, sink);
  return window;
}

void DetachMessageSink(HWND window) {
  Windows& windows = TheWindows();
  std::lock_guard<std::recursive_mutex> lock(windows.mutex);
  windows.sinks.erase(window);
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
