#include "handheld/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "handheld/census.h"
#include "handheld/testing/sandbox.h"

namespace {

using namespace std::chrono_literals;

// A worker-like loop: one step, a yield point, a look at the stop flag.
struct Loop {
  std::atomic<long> turns{0};
  std::atomic<bool> stop{false};
};

DWORD RunLoop(void* parameter) {
  auto* loop = static_cast<Loop*>(parameter);
  while (!loop->stop) {
    ++loop->turns;
    Sleep(0);
  }
  return 42;
}

// Waits until `ready` holds; gives up after a long while so that a fault fails the test
// instead of hanging it.
template <typename Ready>
bool Eventually(Ready ready) {
  for (int i = 0; i < 20000 && !ready(); ++i) std::this_thread::sleep_for(1ms);
  return ready();
}

using Threads = handheld::testing::SandboxTest;

TEST_F(Threads, SuspendHoldsTheLoopUntilResumed) {
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  for (int round = 0; round < 20; ++round) {
    const long before = loop.turns;
    ASSERT_TRUE(Eventually([&] { return loop.turns > before; })) << round;
    EXPECT_EQ(SuspendThread(thread), 0u);
    long held = loop.turns;
    std::this_thread::sleep_for(2ms);
    ASSERT_EQ(loop.turns, held) << "the loop went on while suspended";
    EXPECT_EQ(ResumeThread(thread), 1u);
  }
  // Nested suspends need as many resumes; a held thread does not end.
  EXPECT_EQ(SuspendThread(thread), 0u);
  EXPECT_EQ(SuspendThread(thread), 1u);
  long held = loop.turns;
  loop.stop = true;  // written while the thread is held, seen when it goes on
  EXPECT_EQ(ResumeThread(thread), 2u);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 259u);  // still active
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(loop.turns, held);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(handheld::CensusReport(), "thread=1");  // ended, handle still open
  EXPECT_TRUE(CloseHandle(thread));
}

// Counts the ends of the threads that ran LeaveThreadLocal: its destructor runs after the
// start routine has returned, as the thread ends.
std::atomic<int> threadLocalsGone{0};
struct Farewell {
  ~Farewell() { ++threadLocalsGone; }
};

DWORD LeaveThreadLocal(void*) {
  thread_local Farewell farewell;
  (void)&farewell;
  return 5;
}

// After its last Sleep(0) it only finishes its work, until `release`.
DWORD FinishWithoutYielding(void* parameter) {
  auto* state = static_cast<Loop*>(parameter);
  Sleep(0);
  ++state->turns;
  while (!state->stop) std::this_thread::yield();
  return 3;
}

// Suspending a thread that has ended or is ending returns at once; nothing of a thread
// outlives the close of its handle.
TEST_F(Threads, FinishedAndFinishingThreads) {
  for (int i = 1; i <= 20; ++i) {
    HANDLE finished = CreateThread(nullptr, 0, LeaveThreadLocal, nullptr, 0, nullptr);
    ASSERT_NE(finished, nullptr);
    EXPECT_EQ(WaitForSingleObject(finished, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(SuspendThread(finished), 0u);
    EXPECT_TRUE(CloseHandle(finished));
    EXPECT_EQ(threadLocalsGone, i);
  }

  Loop state;
  HANDLE finishing = CreateThread(nullptr, 0, FinishWithoutYielding, &state, 0, nullptr);
  ASSERT_NE(finishing, nullptr);
  ASSERT_TRUE(Eventually([&] { return state.turns > 0; }));
  auto suspended = std::async(std::launch::async, [&] { return SuspendThread(finishing); });
  state.stop = true;
  EXPECT_EQ(suspended.get(), 0u);
  EXPECT_EQ(WaitForSingleObject(finishing, INFINITE), WAIT_OBJECT_0);
  CloseHandle(finishing);
}

// A creation that fails: the launch tests, which see the census too.
TEST_F(Threads, CreateSuspendedAndTheCensusOfAThreadClosedFirst) {
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  std::this_thread::sleep_for(2ms);
  EXPECT_EQ(loop.turns, 0);
  loop.stop = true;
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_TRUE(CloseHandle(thread));  // closed first; counted until it has ended
  EXPECT_TRUE(Eventually([] { return handheld::CensusReport().empty(); }));
  EXPECT_EQ(ResumeThread(thread), 0xFFFFFFFFu);  // a closed handle is gone
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
