// Contacts from a store to vCard files and address-book folders and into another store:
// every property, the identifiers and file names, what an import adds or replaces, and
// what it skips.
#include "interop/vcard.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <map>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"
#include "interop/vdir.h"

namespace interop {
namespace {

using namespace testing_support;
using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;

class VCardTransferTest : public handheld::testing::SandboxTest {
 protected:
  void UseStore(const std::string& name) {
    setenv("HANDHELD_STORE", sandbox().path(name).c_str(), 1);
  }
  TransferResult Export(const std::string& path, std::vector<std::string>* lost = nullptr) {
    return Transfer(path, false, false, lost);
  }
  TransferResult Import(const std::string& path, bool replace,
                        std::vector<std::string>* lost = nullptr) {
    return Transfer(path, true, replace, lost);
  }
  static std::map<std::string, ContactValues> ByUid(const std::vector<ContactValues>& list) {
    std::map<std::string, ContactValues> map;
    for (const ContactValues& c : list) map[c.uid] = c;
    return map;
  }
};

TEST_F(VCardTransferTest, AStoreComesBackWholeThroughAFileAndThroughAFolder) {
  std::vector<ContactValues> made;
  for (int n = 0; n < 30; ++n) made.push_back(Generated(n));
  UseStore("first.db");
  SaveContacts(made);
  const std::vector<ContactValues> original = StoreContacts();
  ASSERT_EQ(original.size(), made.size());

  std::vector<std::string> lost;
  TransferResult file = Export(sandbox().path("all.vcf"), &lost);
  EXPECT_EQ(file.ExitStatus(), 0) << file.error;
  EXPECT_EQ(file.items, 30);
  EXPECT_TRUE(lost.empty());
  TransferResult folder = Export(sandbox().path("book") + "/");
  EXPECT_EQ(folder.ExitStatus(), 0) << folder.error;

  UseStore("from-file.db");
  EXPECT_EQ(Import(sandbox().path("all.vcf"), false, &lost).ExitStatus(), 0);
  EXPECT_TRUE(lost.empty()) << lost.front();
  std::vector<ContactValues> back = StoreContacts();
  ASSERT_EQ(back.size(), original.size());
  for (size_t n = 0; n < back.size(); ++n) ExpectSame(original[n], back[n], n);

  // A folder is read in its files' order; the contacts are matched by their UIDs.
  UseStore("from-folder.db");
  EXPECT_EQ(Import(sandbox().path("book"), false).ExitStatus(), 0);
  auto expected = ByUid(original), got = ByUid(StoreContacts());
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [uid, contact] : expected) {
    ASSERT_EQ(got.count(uid), 1u) << uid;
    ExpectSame(contact, got[uid], 0);
  }
}

TEST_F(VCardTransferTest, AFolderKeepsItsFileNamesAndWhatIsNotOurs) {
  std::vector<ContactValues> made = {Generated(1), Generated(2), Generated(4)};
  made[2].uid = "";  // the store makes one at the first export
  SaveContacts(made);
  const std::string book = sandbox().path("book");
  ASSERT_EQ(mkdir(book.c_str(), 0700), 0);
  WriteFileBytes(book + "/someone-else.vcf", "not ours");
  WriteFileBytes(book + "/notes.txt", "not ours either");
  ASSERT_EQ(Export(book).ExitStatus(), 0);

  std::vector<std::string> files;
  std::string error;
  ASSERT_TRUE(ListFolder(book, ".vcf", &files, &error));
  ASSERT_EQ(files.size(), 4u);
  std::vector<ContactValues> stored = StoreContacts();
  EXPECT_EQ(stored[0].uid, "uid-1");
  EXPECT_EQ(ReadFileBytes(book + "/uid-1.vcf").find("UID:uid-1\r\n") != std::string::npos, true);
  EXPECT_EQ(ReadFileBytes(book + "/someone-else.vcf"), "not ours");
  EXPECT_EQ(ReadFileBytes(book + "/notes.txt"), "not ours either");
  // A UID that is no safe file name is hashed.
  EXPECT_EQ(FileNameForUid("uid-1", ".vcf"), "uid-1.vcf");
  EXPECT_EQ(FileNameForUid("a/b", ".vcf").size(), 40u + 4u);

  // Exported again: the same files; unchanged ones are not rewritten.
  struct stat before, after;
  const std::string third = book + "/" + FileNameForUid(stored[2].uid, ".vcf");
  ASSERT_EQ(stat(third.c_str(), &before), 0);
  const std::string firstBefore = ReadFileBytes(book + "/uid-1.vcf");
  {
    StoreSession session;
    std::string why;
    ASSERT_TRUE(session.Open(olFolderContacts, &why));
    IDispatch* item = nullptr;
    ASSERT_EQ(session.items()->Item(1, &item), S_OK);
    BSTR name = SysAllocString(u"Renamed");
    static_cast<IContact*>(item)->put_FirstName(name);
    SysFreeString(name);
    EXPECT_EQ(static_cast<IContact*>(item)->Save(), S_OK);
    item->Release();
  }
  ASSERT_EQ(Export(book).ExitStatus(), 0);
  files.clear();
  ASSERT_TRUE(ListFolder(book, ".vcf", &files, &error));
  EXPECT_EQ(files.size(), 4u);
  ASSERT_EQ(stat(third.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_NE(ReadFileBytes(book + "/uid-1.vcf"), firstBefore);
  EXPECT_NE(ReadFileBytes(book + "/uid-1.vcf").find(";Renamed;"), std::string::npos);
}

TEST_F(VCardTransferTest, AFolderOfMoreFilesThanMayBeOpenAtOnce) {
  std::vector<ContactValues> made;
  for (int n = 0; n < 80; ++n) made.push_back(Generated(n));
  SaveContacts(made);
  const std::string book = sandbox().path("many") + "/";
  ASSERT_EQ(Export(book).ExitStatus(), 0);
  rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit few = before;
  few.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
  UseStore("again.db");
  TransferResult result = Import(book, false);
  setrlimit(RLIMIT_NOFILE, &before);
  EXPECT_EQ(result.ExitStatus(), 0) << result.error;
  EXPECT_EQ(result.items, 80);
}

TEST_F(VCardTransferTest, ImportsAddOrReplaceAndKeepEachUidForOneContact) {
  SaveContacts({Generated(1), Generated(2)});
  ASSERT_EQ(Export(sandbox().path("two.vcf")).ExitStatus(), 0);

  // Added next to the same contacts: the copies get identifiers of their own.
  std::vector<std::string> lost;
  TransferResult again = Import(sandbox().path("two.vcf"), false, &lost);
  EXPECT_EQ(again.ExitStatus(), 0);
  EXPECT_EQ(lost, std::vector<std::string>{"not kept: UID held by another contact on 2 cards"});
  std::vector<ContactValues> four = StoreContacts();
  ASSERT_EQ(four.size(), 4u);
  EXPECT_EQ(four[2].texts[kFirstName], four[0].texts[kFirstName]);
  EXPECT_NE(four[2].uid, four[0].uid);
  EXPECT_NE(four[3].uid, four[1].uid);

  // Replaced: what the file holds, with its identifiers.
  EXPECT_EQ(Import(sandbox().path("two.vcf"), true, &lost).ExitStatus(), 0);
  EXPECT_TRUE(lost.empty());
  std::vector<ContactValues> two = StoreContacts();
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].uid, "uid-1");
  EXPECT_EQ(two[1].uid, "uid-2");
}

TEST_F(VCardTransferTest, ACardThatCannotBeReadIsSkippedAndTheOthersSaved) {
  const std::string file = sandbox().path("mixed.vcf");
  WriteFileBytes(file,
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:One\r\nEND:VCARD\r\n"
                 "BEGIN:VCARD\r\nVERSION:3.0\r\n:no name\r\nEND:VCARD\r\n"
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Three\r\nPHOTO;VALUE=uri:http://x/y.jpg\r\n"
                 "END:VCARD\r\n");
  std::vector<std::string> lost;
  TransferResult result = Import(file, false, &lost);
  EXPECT_EQ(result.ExitStatus(), 1);
  EXPECT_EQ(result.items, 2);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.problems[0], file +
                                    ": line 7: a line that does not start with a property "
                                    "name (the card from line 5 is skipped)");
  EXPECT_EQ(lost, std::vector<std::string>{"not kept: PHOTO on 1 card"});
  std::vector<ContactValues> saved = StoreContacts();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[1].texts[kFirstName], u"Three");

  // A file that cannot be read, and a place that cannot be written, change nothing.
  EXPECT_NE(Import(sandbox().path("missing.vcf"), true).error, "");
  EXPECT_EQ(StoreContacts().size(), 2u);
  WriteFileBytes(sandbox().path("plain"), "a file");
  TransferResult blocked = Export(sandbox().path("plain") + "/x.vcf");
  EXPECT_EQ(blocked.ExitStatus(), 1);
  EXPECT_NE(blocked.error.find("plain"), std::string::npos) << blocked.error;
}

// The cards are read on a thread of their own, some batches ahead of the saving: a save
// that fails must stop both, keep what was saved before it, and leave nothing behind.
TEST_F(VCardTransferTest, ASaveThatFailsStopsTheImportWhereItStands) {
  std::vector<ContactValues> made;
  for (int n = 0; n < 400; ++n) made.push_back(Generated(n));
  UseStore("first.db");
  SaveContacts(made);
  ASSERT_EQ(Export(sandbox().path("all.vcf")).ExitStatus(), 0);

  UseStore("second.db");
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("save:100", &error)) << error;
  TransferResult result = Import(sandbox().path("all.vcf"), false);
  handheld::ClearFaults();
  EXPECT_EQ(result.ExitStatus(), 1);
  EXPECT_EQ(result.items, 99);
  EXPECT_NE(result.error.find("all.vcf: line "), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("the store could not save the contact"), std::string::npos)
      << result.error;
  EXPECT_EQ(StoreContacts().size(), 99u);
}

}  // namespace
}  // namespace interop
