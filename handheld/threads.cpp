// Threads with cooperative suspension.
//
// A thread's control block is shared by the running thread and its handle. The thread
// parks only at its yield points (Sleep), so a suspender never stops it in the middle
// of a step: SuspendThread raises the suspend count and waits until the thread reports
// itself parked or finished. Closing the handle of a finished thread joins it, so that
// nothing of the thread outlives the close; a thread still running is let go.
#include "handheld/threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/handles_internal.h"

namespace {

using handheld::internal::ERROR_INVALID_PARAMETER;
using handheld::internal::ERROR_NOT_ENOUGH_MEMORY;

using handheld::internal::HandleKind;
using handheld::internal::HandleObject;

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD kBadCount = 0xFFFFFFFFu;

struct Control {
  std::mutex mutex;
  std::condition_variable changed;
  DWORD suspendCount = 0;
  // Mirrors suspendCount > 0, so that the yield point takes the lock only when asked to
  // park. A stale false only delays parking to the next yield point, and the suspender
  // waits for that.
  std::atomic<bool> suspendRequested{false};
  bool parked = false;
  bool finished = false;  // the start routine has returned
  bool handleClosed = false;
  DWORD exitCode = STILL_ACTIVE;
  std::thread thread;  // joined or let go when the handle is closed
};

struct ThreadHandle final : HandleObject {
  ThreadHandle() : HandleObject(HandleKind::kThread) {}
  BOOL Close() override;
  std::shared_ptr<Control> control;
};

thread_local Control* current = nullptr;

std::atomic<DWORD> nextThreadId{1};

// Parks the calling thread while a suspension is requested. Called with the lock held.
void ParkWhileSuspended(Control* control, std::unique_lock<std::mutex>& lock) {
  while (control->suspendCount > 0) {
    control->parked = true;
    control->changed.notify_all();
    control->changed.wait(lock);
  }
  control->parked = false;
}

void YieldPoint() {
  Control* control = current;
  if (control == nullptr || !control->suspendRequested.load(std::memory_order_acquire)) return;
  std::unique_lock<std::mutex> lock(control->mutex);
  ParkWhileSuspended(control, lock);
}

// Called when both the thread has ended and its handle is closed, whichever is last.
void ForgetThread() {
  handheld::CensusAdd("thread", -1);
}

void RunThread(std::shared_ptr<Control> control, LPTHREAD_START_ROUTINE start, void* parameter) {
  current = control.get();
  {
    std::unique_lock<std::mutex> lock(control->mutex);
    ParkWhileSuspended(control.get(), lock);  // CREATE_SUSPENDED
  }
  DWORD code = start(parameter);
  std::lock_guard<std::mutex> lock(control->mutex);
  control->finished = true;
  control->exitCode = code;
  if (control->handleClosed) ForgetThread();
  control->changed.notify_all();
  current = nullptr;
}

// The control block of a thread handle; null (and ERROR_INVALID_HANDLE) for anything else.
Control* FindControl(HANDLE handle) {
  auto* thread =
      static_cast<ThreadHandle*>(handheld::internal::LookupHandle(handle, HandleKind::kThread));
  if (thread == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return thread != nullptr ? thread->control.get() : nullptr;
}

}  // namespace

BOOL ThreadHandle::Close() {
  bool finished;
  {
    std::lock_guard<std::mutex> lock(control->mutex);
    control->handleClosed = true;
    finished = control->finished;
    if (finished) ForgetThread();
  }
  // A finished thread has only its return left to make; the join waits for it outside
  // the lock, which the thread takes last.
  if (finished && control->thread.joinable()) {
    control->thread.join();
  } else if (control->thread.joinable()) {
    control->thread.detach();
  }
  delete this;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

HANDLE CreateThread(void* /*security*/, size_t /*stackSize*/, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (handheld::FaultNext("thread")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto control = std::make_shared<Control>();
  if ((flags & CREATE_SUSPENDED) != 0) {
    control->suspendCount = 1;
    control->suspendRequested = true;
  }
  handheld::CensusAdd("thread", 1);
  try {
    control->thread = std::thread(RunThread, control, start, parameter);
  } catch (const std::system_error&) {
    handheld::CensusAdd("thread", -1);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* handle = new ThreadHandle;
  handle->control = std::move(control);
  handheld::internal::RegisterHandle(handle);
  if (threadId != nullptr) *threadId = nextThreadId.fetch_add(1);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

DWORD SuspendThread(HANDLE thread) {
  Control* control = FindControl(thread);
  if (control == nullptr) return kBadCount;
  std::unique_lock<std::mutex> lock(control->mutex);
  DWORD previous = control->suspendCount++;
  control->suspendRequested.store(true, std::memory_order_release);
  // A thread suspending itself parks at its own next yield point.
  if (control == current) return previous;
  control->changed.wait(lock, [control] { return control->parked || control->finished; });
  return previous;
}

DWORD ResumeThread(HANDLE thread) {
  Control* control = FindControl(thread);
  if (control == nullptr) return kBadCount;
  std::lock_guard<std::mutex> lock(control->mutex);
  DWORD previous = control->suspendCount;
  if (previous > 0 && --control->suspendCount == 0) {
    control->suspendRequested.store(false, std::memory_order_release);
    control->changed.notify_all();
  }
  return previous;
}

DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds) {
  Control* control = FindControl(thread);
  if (control == nullptr) return WAIT_FAILED;
  std::unique_lock<std::mutex> lock(control->mutex);
  auto ended = [control] { return control->finished; };
  if (milliseconds == INFINITE) {
    control->changed.wait(lock, ended);
    return WAIT_OBJECT_0;
  }
  return control->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)
             ? WAIT_OBJECT_0
             : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  Control* control = FindControl(thread);
  if (control == nullptr) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(control->mutex);
  *exitCode = control->exitCode;
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  // Every sleep honours a pending suspension; Sleep(0) is the loops' yield point.
  YieldPoint();
  if (milliseconds == 0) {
    // The scheduler preempts a busy thread anyway; a yield call on every turn of a loop
    // that reads one character a turn costs more than the turn (a load of 10,000
    // contacts spent most of its time in it), so the processor is given up at most once
    // a millisecond (the clock is asked every 64th call).
    thread_local uint32_t calls = 0;
    thread_local std::chrono::steady_clock::time_point lastYield;
    if (++calls % 64 != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastYield >= std::chrono::milliseconds(1)) {
      lastYield = now;
      std::this_thread::yield();
    }
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}
