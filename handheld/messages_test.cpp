#include "handheld/messages.h"

#include <gtest/gtest.h>

#include <thread>

#include "handheld/files.h"
#include "handheld/modules.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::SandboxTest;
using namespace std::chrono_literals;

using Messages = SandboxTest;

TEST_F(Messages, PostsFromAnotherThreadArriveInOrder) {
  handheld::MessageQueue queue;
  constexpr int kCount = 5000;
  std::thread poster([&] {
    for (int i = 0; i < kCount; ++i) {
      EXPECT_TRUE(PostMessageW(queue.window(), WM_APP + 0x400, static_cast<WPARAM>(i % 5),
                               static_cast<LPARAM>(-i)));
    }
  });
  for (int i = 0; i < kCount; ++i) {
    MSG message{};
    ASSERT_TRUE(queue.Take(&message, 10s)) << i;
    EXPECT_EQ(message.hwnd, queue.window());
    EXPECT_EQ(message.message, WM_APP + 0x400);
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(i % 5));
    ASSERT_EQ(message.lParam, -i);
  }
  poster.join();
  MSG none{};
  EXPECT_FALSE(queue.Take(&none, 1ms));
}

TEST_F(Messages, PostingToAWindowThatIsGoneFails) {
  HWND gone;
  {
    handheld::MessageQueue queue;
    gone = queue.window();
    handheld::MessageQueue other;
    EXPECT_NE(other.window(), gone);
  }
  EXPECT_FALSE(PostMessageW(gone, WM_APP, 0, 0));
  EXPECT_FALSE(PostMessageW(nullptr, WM_APP, 0, 0));
  handheld::MessageQueue later;
  EXPECT_NE(later.window(), gone);  // window values are not reused
}

using Modules = SandboxTest;

TEST_F(Modules, MissingOrMalformedNamesFailCleanly) {
  EXPECT_EQ(LoadLibraryW(u"nosuchmodule.dll"), nullptr);
  EXPECT_EQ(GetLastError(), 126u);
  EXPECT_EQ(LoadLibraryW(u"../phone.dll"), nullptr);
  EXPECT_EQ(LoadLibraryW(u""), nullptr);
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  // A file that is not a shared object is a failed load, not a crash.
  handheld::testing::WriteFileBytes(sandbox().path("broken.so"), "not a library");
  setenv("HANDHELD_MODULE_DIR", sandbox().dir().c_str(), 1);
  EXPECT_EQ(LoadLibraryW(u"broken.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), 193u);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetProcAddress(nullptr, "PhoneOpenCallLog"), nullptr);
}

TEST_F(Modules, TheCallLogLibraryLoadsByItsHandheldName) {
  if (access((handheld::testing::BinDir() + "/phone.so").c_str(), F_OK) != 0) {
    GTEST_SKIP() << "phone.so is not built";
  }
  HMODULE module = LoadLibraryW(u"Phone.Dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(handheld::CensusReport(), "module=1");
  EXPECT_NE(GetProcAddress(module, "PhoneOpenCallLog"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "NoSuchProcedure"), nullptr);
  HMODULE again = LoadLibraryW(u"phone.dll");
  EXPECT_EQ(handheld::CensusReport(), "module=2");
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));
}

}  // namespace
