// The removed-items files: one per purge, the newest 20 kept (an update's keeps:
// identity_test.cpp; what each kind's file holds, and that it is private: the tools'
// nothing-lost test, which brings it back).
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::ReadFileBytes;

// The names in the folder, oldest first as the store orders them (by name).
std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RemovedItemsTest : public handheld::testing::SandboxTest {};

TEST_F(RemovedItemsTest, PurgesKeepTheNewestTwentyFiles) {
  const std::string folder = sandbox().removedPath();
  std::filesystem::create_directories(folder);
  handheld::testing::WriteFileBytes(folder + "/notes.txt", "the user's own");
  Session session;
  std::string everything;
  for (int purge = 1; purge <= 21; ++purge) {
    SaveContact(session, handheld::testing::U16("P" + std::to_string(purge)));
    Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
    ASSERT_EQ(items->Remove(1), S_OK);
  }
  std::vector<std::string> files = Files(folder);
  ASSERT_EQ(files.size(), 21u) << "20 purges' files and the user's own";
  for (const std::string& name : files) {
    if (name == "notes.txt") continue;
    EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]{8}-[0-9]{6}-contacts(-[0-9]+)?\\.vcf")))
        << name;
    everything += ReadFileBytes(folder + "/" + name);
  }
  // Made within a second or two, the files differ by their numbers; the first purge's
  // (number 1, no number in the name) is the one that went.
  EXPECT_EQ(everything.find("FN:P1\r\n"), std::string::npos);
  for (int purge = 2; purge <= 21; ++purge) {
    EXPECT_NE(everything.find("FN:P" + std::to_string(purge) + "\r\n"), std::string::npos)
        << purge;
  }
}

}  // namespace
}  // namespace handheld::store::testing
