#include "handheld/messages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "handheld/files.h"
#include "handheld/modules.h"
#include "handheld/testing/sandbox.h"

namespace {

using namespace std::chrono_literals;

using Messages = handheld::testing::SandboxTest;

TEST_F(Messages, PostsFromAnotherThreadArriveInOrder) {
  handheld::MessageQueue queue;
  std::thread poster([&] {
    for (int i = 0; i < 5000; ++i) PostMessageW(queue.window(), WM_APP + 0x400, i % 5, -i);
  });
  for (int i = 0; i < 5000; ++i) {
    MSG message{};
    ASSERT_TRUE(queue.Take(&message, 10s)) << i;
    ASSERT_EQ(message.hwnd, queue.window());
    ASSERT_EQ(message.message, WM_APP + 0x400);
    ASSERT_EQ(message.wParam, WPARAM(i % 5));
    ASSERT_EQ(message.lParam, -i);
  }
  poster.join();
  MSG none{};
  EXPECT_FALSE(queue.Take(&none, 1ms));
  HWND gone;
  {
    handheld::MessageQueue closed;
    gone = closed.window();
  }
  EXPECT_FALSE(PostMessageW(gone, WM_APP, 0, 0));
  EXPECT_FALSE(PostMessageW(nullptr, WM_APP, 0, 0));
}

// Forwards one message to a queue and closes itself, from inside its delivery.
struct Forwarder final : handheld::MessageSink {
  HWND self = nullptr;
  HWND target = nullptr;
  void Deliver(const MSG& message) override {
    PostMessageW(target, message.message + 1, message.wParam, message.lParam);
    handheld::DetachMessageSink(self);
  }
};

TEST_F(Messages, ASinkMayPostAndDetachWhileDelivering) {
  handheld::MessageQueue queue;
  Forwarder forwarder;
  forwarder.target = queue.window();
  forwarder.self = handheld::AttachMessageSink(&forwarder);
  std::thread([&] { EXPECT_TRUE(PostMessageW(forwarder.self, WM_APP, 1, 2)); }).join();
  MSG message{};
  ASSERT_TRUE(queue.Take(&message, 10s));
  EXPECT_EQ(message.message, WM_APP + 1);
  EXPECT_FALSE(PostMessageW(forwarder.self, WM_APP, 1, 2));
}

using Modules = handheld::testing::SandboxTest;

TEST_F(Modules, LoadByHandheldNameAndFailCleanly) {
  EXPECT_EQ(LoadLibraryW(u"nosuchmodule.dll"), nullptr);
  EXPECT_EQ(GetLastError(), 126u);
  EXPECT_EQ(LoadLibraryW(u"../phone.dll"), nullptr);
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
  if (access((handheld::testing::BinDir() + "/phone.so").c_str(), F_OK) == 0) {
    HMODULE module = LoadLibraryW(u"Phone.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(handheld::CensusReport(), "module=1");
    EXPECT_NE(GetProcAddress(module, "PhoneOpenCallLog"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "NoSuchProcedure"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
  }
  // A file that is not a shared object is a failed load, not a crash.
  handheld::testing::WriteFileBytes(sandbox().path("broken.so"), "not a library");
  setenv("HANDHELD_MODULE_DIR", sandbox().dir().c_str(), 1);
  EXPECT_EQ(LoadLibraryW(u"broken.dll"), nullptr);
  EXPECT_EQ(GetLastError(), 193u);
}

}  // namespace
