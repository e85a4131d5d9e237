#include "records/contact.h"

#include <cstring>
#include <string>
#include <vector>

#include "format/linebuffer.h"
#include "handheld/faults.h"
#include "handheld/files.h"
#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "records/kinds.h"
#include "worker/jobcontext.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::U8;

#define CONTACT_NAME(Name) #Name,
#define CONTACT_GETTER(Name) &IContact::get_##Name,
#define CONTACT_SETTER(Name) &IContact::put_##Name,
const char* const kNames[] = {HANDHELD_CONTACT_STRINGS(CONTACT_NAME)};
HRESULT (IContact::*const kGetters[])(BSTR*) = {HANDHELD_CONTACT_STRINGS(CONTACT_GETTER)};
HRESULT (IContact::*const kSetters[])(BSTR) = {HANDHELD_CONTACT_STRINGS(CONTACT_SETTER)};
constexpr int kTexts = 44;

// The stored value of each text property in the round trip; the exported form escapes
// the TAB and the CR LF.
std::u16string Value(int i) {
  std::u16string value = U16(kNames[i]);
  if (value == u"FirstName") value += u"\tx";
  if (value == u"Body") value += u"\r\nline\r";
  return value;
}

class ContactRecordTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(OpenStore());
    JobContext.app = GetStoreApp();
    ASSERT_TRUE(SUCCEEDED(JobContext.app->GetDefaultFolder(olFolderContacts, &JobContext.folder)));
    ASSERT_TRUE(SUCCEEDED(JobContext.folder->get_Items(&JobContext.items)));
    path_ = sandbox().path("contacts.txt");
    JobContext.file = CreateFileW(U16(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    RunFault = FaultNone;
  }
  void TearDown() override {
    CloseFile();
    EndContactRecord();
    for (IUnknown** held : {reinterpret_cast<IUnknown**>(&JobContext.items),
                            reinterpret_cast<IUnknown**>(&JobContext.folder),
                            reinterpret_cast<IUnknown**>(&JobContext.app)}) {
      if (*held != nullptr) (*held)->Release();
      *held = nullptr;
    }
    CloseStore();
    SandboxTest::TearDown();
  }
  void CloseFile() {
    if (JobContext.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
  std::u16string Written() {
    CloseFile();
    const std::string bytes = ReadFileBytes(path_);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
  }
  IContact* Contact(int index) {
    IDispatch* item = nullptr;
    EXPECT_TRUE(SUCCEEDED(JobContext.items->Item(index, &item)));
    return static_cast<IContact*>(item);
  }
  std::u16string Text(IContact* contact, int i) {
    BSTR value = nullptr;
    (contact->*kGetters[i])(&value);
    std::u16string text(value, SysStringLen(value));
    SysFreeString(value);
    return text;
  }
  // Feeds one line's fields as the reader does: empty and over-long fields only
  // advance the column.
  static void ImportLine(const std::vector<std::u16string>& fields) {
    for (int32_t column = 0; column < static_cast<int32_t>(fields.size()); ++column) {
      const std::u16string& field = fields[column];
      if (field.empty() || static_cast<int32_t>(field.size()) > ContactColumnLimit(column)) {
        continue;
      }
      std::memcpy(LineBuffer, field.c_str(), (field.size() + 1) * sizeof(char16_t));
      if (!ContactRecordStarted()) ASSERT_TRUE(StartContactRecord());
      ApplyContactColumn(column);
    }
    EndContactRecord();
  }
  std::string path_;
};

TEST_F(ContactRecordTest, ExportedAndImportedBackPropertyForProperty) {
  IDispatch* item = nullptr;
  ASSERT_TRUE(SUCCEEDED(JobContext.app->CreateItem(olContactItem, &item)));
  IContact* original = static_cast<IContact*>(item);
  for (int i = 0; i < kTexts; ++i) {
    BSTR value = SysAllocStringLen(Value(i).data(), static_cast<UINT>(Value(i).size()));
    (original->*kSetters[i])(value);
    SysFreeString(value);
  }
  original->put_Birthday(29356.0);  // 15 May 1980
  original->Save();
  original->Release();
  ASSERT_TRUE(SUCCEEDED(JobContext.app->CreateItem(olContactItem, &item)));
  static_cast<IContact*>(item)->Save();  // all empty, no dates
  item->Release();

  WriteContactRecord(1);
  WriteContactRecord(2);
  EXPECT_EQ(RunFault, FaultNone);
  std::u16string expected;
  for (int i = 0; i < kTexts; ++i) {
    if (i == 8) expected += u"15\t5\t1980\t";
    if (i == 16) expected += u"\t\t\t";  // anniversary out of range
    std::u16string value = Value(i);
    if (i == 1) value = u"FirstName,x";
    if (i == kTexts - 1) value = u"Body\\nline\r";
    expected += value + u"\t";
  }
  expected += u"\r\n" + std::u16string(50, u'\t') + u"\r\n";
  const std::u16string written = Written();
  ASSERT_EQ(U8(written), U8(expected));

  ImportLine({});  // nothing: no contact
  std::vector<std::u16string> fields;
  std::u16string line = written.substr(0, written.find(u"\r\n"));
  for (size_t at = 0, tab; (tab = line.find(u'\t', at)) != std::u16string::npos; at = tab + 1) {
    fields.push_back(line.substr(at, tab - at));
  }
  ASSERT_EQ(fields.size(), 50u);
  ImportLine(fields);
  IContact* first = Contact(1);
  IContact* copy = Contact(3);
  ASSERT_NE(copy, nullptr);
  for (int i = 0; i < kTexts; ++i) {
    const std::u16string want = i == 1 ? u"FirstName,x" : Text(first, i);
    EXPECT_EQ(U8(Text(copy, i)), U8(want)) << kNames[i];
  }
  DATE birthday = 0, anniversary = 0;
  copy->get_Birthday(&birthday);
  copy->get_Anniversary(&anniversary);
  EXPECT_EQ(birthday, 29356.0);
  EXPECT_EQ(anniversary, handheld::kNoDate);
  first->Release();
  copy->Release();
}

TEST_F(ContactRecordTest, ImportedDatesUseOnlyTheirOwnColumns) {
  auto line = [](std::u16string day, std::u16string month, std::u16string year, std::u16string aDay,
                 std::u16string aMonth, std::u16string aYear) {
    std::vector<std::u16string> fields(22);
    fields[1] = u"Name";
    fields[8] = day, fields[9] = month, fields[10] = year;
    fields[19] = aDay, fields[20] = aMonth, fields[21] = aYear;
    return fields;
  };
  ImportLine(line(u"15", u"0", u"1980", u"", u"", u""));          // month 0
  ImportLine(line(u"15", u"5", u"1980", u"", u"6", u"1990"));     // anniversary without day
  ImportLine(line(u"", u"6", u"1990", u"", u"", u""));            // day of the record before
  ImportLine(line(u"15", u"5", u"", u"", u"6", u"1990"));         // year missing
  ImportLine(line(u"015", u"5", u"1980", u"1", u"2", u"01990"));  // day too long
  std::vector<std::u16string> beyond(51);
  beyond[50] = u"ignored";
  ImportLine(beyond);  // a 51st column alone still makes a contact
  const DATE expected[][2] = {{handheld::kNoDate, handheld::kNoDate},
                              {29356.0, handheld::kNoDate},
                              {handheld::kNoDate, handheld::kNoDate},
                              {handheld::kNoDate, handheld::kNoDate},
                              {handheld::kNoDate, 32905.0}};
  INT count = 0;
  JobContext.items->get_Count(&count);
  ASSERT_EQ(count, 6);
  for (int i = 0; i < 5; ++i) {
    IContact* contact = Contact(i + 1);
    DATE birthday = 0, anniversary = 0;
    contact->get_Birthday(&birthday);
    contact->get_Anniversary(&anniversary);
    EXPECT_EQ(birthday, expected[i][0]) << "line " << i;
    EXPECT_EQ(anniversary, expected[i][1]) << "line " << i;
    EXPECT_EQ(Text(contact, 1), u"Name");
    contact->Release();
  }
}

TEST_F(ContactRecordTest, FaultsStopTheRecordAndReleaseEverything) {
  IDispatch* item = nullptr;
  ASSERT_TRUE(SUCCEEDED(JobContext.app->CreateItem(olContactItem, &item)));
  BSTR title = SysAllocString(u"Dr");
  static_cast<IContact*>(item)->put_Title(title);
  SysFreeString(title);
  static_cast<IContact*>(item)->Save();
  item->Release();

  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("read:FirstName:1", &error)) << error;
  WriteContactRecord(1);
  EXPECT_EQ(RunFault, FaultRead);
  RunFault = FaultNone;
  ASSERT_TRUE(handheld::ArmFaults("item:1", &error)) << error;
  WriteContactRecord(1);
  EXPECT_EQ(RunFault, FaultFetch);
  RunFault = FaultNone;
  WriteContactRecord(2);  // no such item
  EXPECT_EQ(RunFault, FaultFetch);
  EXPECT_EQ(U8(Written()), "Dr\t");

  ASSERT_TRUE(handheld::ArmFaults("create", &error)) << error;
  EXPECT_FALSE(StartContactRecord());
  EXPECT_FALSE(ContactRecordStarted());
}

}  // namespace
