#include "platform/store.h"

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

using StoreTest = handheld::testing::SandboxTest;

TEST_F(StoreTest, FailedLogonGivesEverythingBack) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("logon", &error)) << error;
  EXPECT_FALSE(OpenStore());
  EXPECT_EQ(GetStoreApp(), nullptr);
  EXPECT_EQ(handheld::CensusReport(), "");
  ASSERT_TRUE(OpenStore());  // COM was given back too, so it starts afresh
  IPOutlookApp* second = GetStoreApp();
  ASSERT_NE(second, nullptr);
  second->Release();
  CloseStore();
  CloseStore();  // a second close does nothing
}

}  // namespace
