#include "handheld/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/files.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::SandboxTest;
using namespace std::chrono_literals;

// A worker-like loop: one step, a yield point, a look at the stop flag.
struct Loop {
  std::atomic<long> turns{0};
  std::atomic<bool> stop{false};
};

DWORD RunLoop(void* parameter) {
  auto* loop = static_cast<Loop*>(parameter);
  while (!loop->stop.load()) {
    ++loop->turns;
    Sleep(0);
  }
  return 42;
}

// Waits (without a hard timing claim) until `ready` holds; gives up after a long time
// so that a broken build fails instead of hanging.
template <typename Ready>
bool Eventually(Ready ready) {
  for (int i = 0; i < 20000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

using Threads = SandboxTest;

TEST_F(Threads, SuspendHoldsTheLoopAtItsYieldPoint) {
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(Eventually([&] { return loop.turns.load() > 10; }));

  EXPECT_EQ(SuspendThread(thread), 0u);
  long held = loop.turns.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(loop.turns.load(), held) << "the loop went on while suspended";
  EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 259u);  // still running

  // Nested: the second suspend returns at once, one resume does not release it.
  EXPECT_EQ(SuspendThread(thread), 1u);
  EXPECT_EQ(ResumeThread(thread), 2u);
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(loop.turns.load(), held);

  // What the suspender does while the thread is held is seen when it goes on.
  loop.stop = true;
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(ResumeThread(thread), 0u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(loop.turns.load(), held);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(handheld::CensusReport(), "thread=1");  // ended, handle still open
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(Threads, ResumeLetsTheLoopContinue) {
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  for (int round = 0; round < 50; ++round) {
    SuspendThread(thread);
    long held = loop.turns.load();
    ResumeThread(thread);
    ASSERT_TRUE(Eventually([&] { return loop.turns.load() > held; })) << round;
  }
  loop.stop = true;
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
}

DWORD ReturnSeven(void*) {
  return 7;
}

TEST_F(Threads, SuspendingAFinishedThreadReturnsAtOnce) {
  HANDLE thread = CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(SuspendThread(thread), 0u);
  EXPECT_EQ(SuspendThread(thread), 1u);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(CloseHandle(thread));
}

struct Finishing {
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
};

// Makes no further yield: after its last Sleep(0) it only finishes its work.
DWORD FinishWithoutYielding(void* parameter) {
  auto* state = static_cast<Finishing*>(parameter);
  Sleep(0);
  state->inside = true;
  while (!state->release.load()) std::this_thread::yield();
  return 3;
}

TEST_F(Threads, SuspendingAFinishingThreadDoesNotHang) {
  Finishing state;
  HANDLE thread = CreateThread(nullptr, 0, FinishWithoutYielding, &state, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(Eventually([&] { return state.inside.load(); }));
  auto suspended = std::async(std::launch::async, [&] { return SuspendThread(thread); });
  state.release = true;
  EXPECT_EQ(suspended.get(), 0u);  // returned once the thread ended
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST_F(Threads, CreatedSuspendedRunsOnlyAfterResume) {
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(loop.turns.load(), 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_TRUE(Eventually([&] { return loop.turns.load() > 0; }));
  loop.stop = true;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

TEST_F(Threads, CensusCountsUntilEndedAndClosed) {
  // Closed first, ended later.
  Loop loop;
  HANDLE thread = CreateThread(nullptr, 0, RunLoop, &loop, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(handheld::CensusReport(), "thread=1");
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(handheld::CensusReport(), "thread=1");
  loop.stop = true;
  EXPECT_TRUE(Eventually([] { return handheld::CensusReport().empty(); }));
  EXPECT_EQ(SuspendThread(thread), 0xFFFFFFFFu);  // a closed handle is gone
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Threads, InjectedCreationFailure) {
  ASSERT_TRUE(handheld::ArmFaults("thread", nullptr));
  EXPECT_EQ(CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(handheld::CensusReport(), "");
  HANDLE thread = CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace
