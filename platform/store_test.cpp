#include "platform/store.h"

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

using StoreTest = handheld::testing::SandboxTest;

TEST_F(StoreTest, OpenHandOutAndClose) {
  EXPECT_EQ(GetStoreApp(), nullptr);
  ASSERT_TRUE(OpenStore());
  IPOutlookApp* second = GetStoreApp();
  ASSERT_NE(second, nullptr);
  IFolder* folder = nullptr;
  EXPECT_TRUE(SUCCEEDED(second->GetDefaultFolder(olFolderContacts, &folder)));
  if (folder != nullptr) folder->Release();
  second->Release();
  CloseStore();
  CloseStore();  // a second close does nothing
  EXPECT_EQ(GetStoreApp(), nullptr);
}

TEST_F(StoreTest, FailedLogonReleasesEverything) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("logon", &error)) << error;
  EXPECT_FALSE(OpenStore());
  EXPECT_EQ(GetStoreApp(), nullptr);
  EXPECT_EQ(handheld::CensusReport(), "");
  // COM was given back too: the next open starts it afresh and works.
  ASSERT_TRUE(OpenStore());
  CloseStore();
}

}  // namespace
