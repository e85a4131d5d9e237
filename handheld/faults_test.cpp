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
  for (const char* list :
       {"bogus", "write:0", "write:x", "write:-1", "write:1:2", "read", "read:", "read:First Name",
        "write,,item", "write,", "Write", "item:99999999999"}) {
    ASSERT_TRUE(ArmFaults("write:1", nullptr));
    error.clear();
    EXPECT_FALSE(ArmFaults(list, &error)) << list;
    EXPECT_FALSE(error.empty()) << list;
    EXPECT_FALSE(FaultNext("write")) << list << ": a refused list left a fault armed";
  }
  EXPECT_FALSE(ArmFaults("write:2,frobnicate:3", &error));
  EXPECT_NE(error.find("frobnicate:3"), std::string::npos) << error;
}

TEST_F(Faults, EachPointFiresOnceAtItsOccurrence) {
  ASSERT_TRUE(ArmFaults("write:3,readfile,logon:2,write:5", nullptr));
  std::vector<bool> writes;
  for (int i = 0; i < 7; ++i) writes.push_back(FaultNext("write"));
  EXPECT_EQ(writes, (std::vector<bool>{false, false, true, false, true, false, false}));
  EXPECT_EQ(std::vector<bool>({FaultNext("readfile"), FaultNext("readfile")}),
            std::vector<bool>({true, false}));
  EXPECT_EQ(std::vector<bool>({FaultNext("logon"), FaultNext("logon"), FaultNext("logon")}),
            std::vector<bool>({false, true, false}));
  // Arming again restarts the counts.
  ASSERT_TRUE(ArmFaults("write:2", nullptr));
  EXPECT_FALSE(FaultNext("write"));
  EXPECT_TRUE(FaultNext("write"));
}

// The store's index and ordinal points fire in place (store tests); here, only that an
// index point ignores other indexes and that clearing restarts the fetch ordinals.
TEST_F(Faults, IndexAndOrdinalPoints) {
  ASSERT_TRUE(ArmFaults("item:4,read:FirstName:2", nullptr));
  EXPECT_FALSE(FaultAt("item", 3));
  EXPECT_FALSE(FaultAt("read:LastName", 2));
  EXPECT_TRUE(FaultAt("item", 4));
  EXPECT_EQ(handheld::NextFetchOrdinal(), 1);
  EXPECT_EQ(handheld::NextFetchOrdinal(), 2);
  handheld::ClearFaults();
  EXPECT_FALSE(FaultAt("read:FirstName", 2));
  EXPECT_EQ(handheld::NextFetchOrdinal(), 1);
}

TEST_F(Faults, FromTheEnvironment) {
  std::string error;
  setenv("HANDHELD_FAULTS", "remove:2", 1);
  ASSERT_TRUE(handheld::ArmFaultsFromEnvironment(&error)) << error;
  EXPECT_FALSE(FaultNext("remove"));
  EXPECT_TRUE(FaultNext("remove"));
  setenv("HANDHELD_FAULTS", "remove:2,nosuchpoint", 1);
  EXPECT_FALSE(handheld::ArmFaultsFromEnvironment(&error));
  EXPECT_NE(error.find("HANDHELD_FAULTS"), std::string::npos) << error;
  EXPECT_NE(error.find("nosuchpoint"), std::string::npos) << error;
}

TEST_F(Faults, FiresExactlyOnceAcrossThreads) {
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
