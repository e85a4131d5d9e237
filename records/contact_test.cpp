#include "records/contact.h"

#include <string>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "worker/testing/job_harness.h"

namespace {

using handheld::kNoDate;
using handheld::testing::U16;
using handheld::testing::U8;
using worker_testing::Describe;

// The 44 text properties in record order, as the store's header lists them.
#define CONTACT_NAME(Name) #Name,
#define CONTACT_GETTER(Name) &IContact::get_##Name,
#define CONTACT_SETTER(Name) &IContact::put_##Name,
const char* const kNames[] = {HANDHELD_CONTACT_STRINGS(CONTACT_NAME)};
HRESULT (IContact::*const kGetters[])(BSTR*) = {HANDHELD_CONTACT_STRINGS(CONTACT_GETTER)};
HRESULT (IContact::*const kSetters[])(BSTR) = {HANDHELD_CONTACT_STRINGS(CONTACT_SETTER)};
constexpr int kTexts = 44;

class ContactRecordTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(OpenStore());
  }
  void TearDown() override {
    CloseStore();
    SandboxTest::TearDown();
  }
  std::string Run(JobMode mode) {
    auto run = worker_testing::RunJobInOpenStore({KindContacts, mode, false, path()});
    return Describe(run.notices);
  }
  std::string path() { return sandbox().path("contacts.txt"); }
  // The contact at a 1-based index, or a new one for index 0.
  static IContact* Contact(int index) {
    IPOutlookApp* app = GetStoreApp();
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    IDispatch* item = nullptr;
    app->GetDefaultFolder(olFolderContacts, &folder);
    folder->get_Items(&items);
    index == 0 ? app->CreateItem(olContactItem, &item) : items->Item(index, &item);
    items->Release();
    folder->Release();
    app->Release();
    return static_cast<IContact*>(item);
  }
  static std::string Text(IContact* contact, int i) {
    BSTR value = nullptr;
    (contact->*kGetters[i])(&value);
    const std::string text = U8(std::u16string(value, SysStringLen(value)));
    SysFreeString(value);
    return text;
  }
  static std::pair<DATE, DATE> Dates(int index) {
    IContact* contact = Contact(index);
    DATE birthday = 0, anniversary = 0;
    contact->get_Birthday(&birthday);
    contact->get_Anniversary(&anniversary);
    contact->Release();
    return {birthday, anniversary};
  }
};

TEST_F(ContactRecordTest, ExportedAndImportedBackPropertyForProperty) {
  IContact* original = Contact(0);
  for (int i = 0; i < kTexts; ++i) {
    std::u16string value = U16(kNames[i]) + (i == 1 ? u"\tx" : i == 43 ? u"\r\nline\\" : u"");
    BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    (original->*kSetters[i])(text);
    SysFreeString(text);
  }
  original->put_Birthday(29356.0);  // 15 May 1980
  original->Save();
  original->Release();
  IContact* empty = Contact(0);  // all empty, no dates
  empty->Save();
  empty->Release();

  EXPECT_EQ(Run(ModeExport), "1/500 3/50 3/100 4/515+2 0/0");
  std::u16string expected;
  for (int i = 0; i < kTexts; ++i) {
    if (i == 8) expected += u"15\t5\t1980\t";
    if (i == 16) expected += u"\t\t\t";  // anniversary out of range
    expected += U16(kNames[i]) + (i == 1 ? u",x\t" : i == 43 ? u"\\nline\\\t" : u"\t");
  }
  expected += u"\r\n" + std::u16string(50, u'\t') + u"\r\n";
  ASSERT_EQ(handheld::testing::ReadFileBytes(path()),
            handheld::testing::Utf16LeBytes(expected, true));

  // The all-empty line makes no contact; the first comes back as the third.
  const std::string imported = Run(ModeImport);
  EXPECT_TRUE(imported.ends_with(" 3/100 4/520+1 0/0")) << imported;
  IContact* first = Contact(1);
  IContact* copy = Contact(3);
  ASSERT_NE(copy, nullptr);
  for (int i = 0; i < kTexts; ++i) {
    EXPECT_EQ(Text(copy, i), i == 1 ? "FirstName,x" : Text(first, i)) << kNames[i];
  }
  first->Release();
  copy->Release();
  EXPECT_EQ(Dates(3), std::make_pair(29356.0, kNoDate));
}

TEST_F(ContactRecordTest, ImportedDatesUseOnlyTheirOwnColumns) {
  // Birthday and anniversary columns (8-10, 19-21) of lines that set FirstName.
  const std::u16string dates[][2] = {
      {u"15\t0\t1980", u"\t\t"},           // month 0
      {u"15\t5\t1980", u"\t6\t1990"},      // anniversary without its day
      {u"\t6\t1990", u"\t\t"},             // the day of the line before is not borrowed
      {u"15\t5\t", u"\t6\t1990"},          // year missing
      {u"015\t5\t1980", u"1\t2\t01990"}};  // day over its limit of 2
  std::u16string file;
  for (auto& date : dates) {
    file += u"\tName" + std::u16string(7, u'\t') + date[0] + std::u16string(9, u'\t') + date[1] +
            u"\r\n";
  }
  file += std::u16string(50, u'\t') + u"beyond\r\n";  // a 51st column alone makes a contact
  handheld::testing::WriteFileBytes(path(), handheld::testing::Utf16LeBytes(file, true));
  const std::string imported = Run(ModeImport);
  EXPECT_TRUE(imported.ends_with(" 4/520+6 0/0")) << imported;
  const std::pair<DATE, DATE> expected[] = {{kNoDate, kNoDate},
                                            {29356, kNoDate},
                                            {kNoDate, kNoDate},
                                            {kNoDate, kNoDate},
                                            {kNoDate, 32905}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Dates(i + 1), expected[i]) << "line " << i;
    IContact* contact = Contact(i + 1);
    EXPECT_EQ(Text(contact, 1), "Name");
    contact->Release();
  }
  IContact* sixth = Contact(6);
  ASSERT_NE(sixth, nullptr);
  sixth->Release();
}

TEST_F(ContactRecordTest, FaultsStopTheJobAndReleaseEverything) {
  IContact* contact = Contact(0);
  contact->Save();
  contact->Release();
  std::string error;
  const char* faults[][2] = {{"read:FirstName:1", "2/609"}, {"item:1", "2/530"}};
  for (auto& fault : faults) {
    ASSERT_TRUE(handheld::ArmFaults(fault[0], &error)) << error;
    EXPECT_EQ(Run(ModeExport), "1/500 " + std::string(fault[1]) + " 0/0");
  }
  handheld::testing::WriteFileBytes(path(), handheld::testing::Utf16LeBytes(u"A\r\n", true));
  ASSERT_TRUE(handheld::ArmFaults("create", &error)) << error;
  const std::string refused = Run(ModeImport);
  EXPECT_TRUE(refused.ends_with(" 2/545 0/0")) << refused;
}

}  // namespace
