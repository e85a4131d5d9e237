#include "handheld/faults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "handheld/testing/sandbox.h"

namespace {

using handheld::ArmFaults;
using handheld::FaultAt;
using handheld::FaultNext;

using Faults = handheld::testing::SandboxTest;

TEST_F(Faults, GrammarAcceptsThePointsAndRefusesTheRest) {
  std::string error;
  EXPECT_TRUE(
      ArmFaults("logon,folder,items,item:3,remove:2,create:1,read:FirstName:4,"
                "read:Body, pattern:2 ,write:5,shortwrite:6,readfile:7,calllog-open,"
                "calllog-entry:3,thread",
                &error))
      << error;
  for (const char* list : {"bogus", "write:0", "write:x", "write:1:2", "read:", "read:First Name",
                           "write,,item", "write,", "Write", "item:99999999999"}) {
    ASSERT_TRUE(ArmFaults("write:1", nullptr));
    error.clear();
    EXPECT_FALSE(ArmFaults(list, &error)) << list;
    EXPECT_FALSE(error.empty()) << list;
    EXPECT_FALSE(FaultNext("write")) << list << ": a refused list left a fault armed";
  }
  setenv("HANDHELD_FAULTS", "remove:2,nosuchpoint", 1);
  EXPECT_FALSE(handheld::ArmFaultsFromEnvironment(&error));
  EXPECT_NE(error.find("HANDHELD_FAULTS"), std::string::npos) << error;
  EXPECT_NE(error.find("nosuchpoint"), std::string::npos) << error;
}

// Counted points fire once at their occurrence, index points only at their index;
// arming again or clearing restarts the counts and the fetch ordinals.
TEST_F(Faults, EachPointFiresOnceAtItsPlace) {
  setenv("HANDHELD_FAULTS", "write:3,readfile,write:5,item:4,read:FirstName:2", 1);
  ASSERT_TRUE(handheld::ArmFaultsFromEnvironment(nullptr));
  std::vector<bool> writes;
  for (int i = 0; i < 7; ++i) writes.push_back(FaultNext("write"));
  EXPECT_EQ(writes, (std::vector<bool>{false, false, true, false, true, false, false}));
  EXPECT_EQ(std::vector<bool>({FaultNext("readfile"), FaultNext("readfile")}),
            std::vector<bool>({true, false}));
  EXPECT_FALSE(FaultAt("item", 3));
  EXPECT_FALSE(FaultAt("read:LastName", 2));
  EXPECT_TRUE(FaultAt("item", 4));
  EXPECT_EQ(handheld::NextFetchOrdinal(), 1);
  EXPECT_EQ(handheld::NextFetchOrdinal(), 2);
  handheld::ClearFaults();
  EXPECT_FALSE(FaultAt("read:FirstName", 2));
  EXPECT_EQ(handheld::NextFetchOrdinal(), 1);
  ASSERT_TRUE(ArmFaults("write:2", nullptr));
  EXPECT_EQ(std::vector<bool>({FaultNext("write"), FaultNext("write")}),
            std::vector<bool>({false, true}));

  // Once, whichever of several threads counts to it.
  ASSERT_TRUE(ArmFaults("write:3000", nullptr));
  std::atomic<int> fired{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) fired += FaultNext("write") ? 1 : 0;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(fired.load(), 1);
}

}  // namespace
