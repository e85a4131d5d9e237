#include "platform/store.h"

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

using StoreTest = handheld::testing::SandboxTest;

TEST_F(StoreTest, FailedLogonGivesEverythingBackAndSaysWhy) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("logon", &error)) << error;
  StoreSession session;
  EXPECT_FALSE(OpenStore(session));
  EXPECT_NE(session.failure.find("logon"), std::string::npos) << session.failure;
  EXPECT_EQ(GetStoreApp(session), nullptr);
  EXPECT_EQ(handheld::CensusReport(), "");
  ASSERT_TRUE(OpenStore(session));  // COM was given back too, so it starts afresh
  EXPECT_EQ(session.failure, "");
  IPOutlookApp* second = GetStoreApp(session);
  ASSERT_NE(second, nullptr);
  second->Release();
  CloseStore(session);
  CloseStore(session);  // a second close does nothing
}

}  // namespace
