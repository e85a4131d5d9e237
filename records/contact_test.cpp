#include "records/contact.h"

#include <string>

#include "records/record_test_support.h"

namespace {

using handheld::kNoDate;
using handheld::testing::U16;
using handheld::testing::U8;

// The 44 text properties in record order, as the store's header lists them.
#define CONTACT_NAME(Name) #Name,
#define CONTACT_GETTER(Name) &IContact::get_##Name,
const char* const kNames[] = {HANDHELD_CONTACT_STRINGS(CONTACT_NAME)};
HRESULT (IContact::*const kGetters[])(BSTR*) = {HANDHELD_CONTACT_STRINGS(CONTACT_GETTER)};
constexpr int kTexts = 44;

class ContactRecordTest : public record_testing::RecordTest {
 protected:
  std::pair<DATE, DATE> Dates(int index) {
    IContact* contact = Fetch<IContact>(olFolderContacts, index);
    DATE birthday = 0, anniversary = 0;
    contact->get_Birthday(&birthday);
    contact->get_Anniversary(&anniversary);
    contact->Release();
    return {birthday, anniversary};
  }
};

TEST_F(ContactRecordTest, EveryColumnGoesToItsOwnPropertyAndTravelsOutAndBack) {
  // Each text column holds its property's name; the birthday is set, the anniversary not.
  std::u16string line;
  for (int i = 0; i < kTexts; ++i) {
    if (i == 8) line += u"15\t5\t1980\t";
    if (i == 16) line += u"\t\t\t";
    line += U16(kNames[i]) + (i == 43 ? u"\\nline\\" : u"") + u"\t";
  }
  ExpectRoundTrip(KindContacts, line + u"\r\n");
  IContact* contact = Fetch<IContact>(olFolderContacts, 1);
  ASSERT_NE(contact, nullptr);
  for (int i = 0; i < kTexts; ++i) {
    BSTR value = nullptr;
    (contact->*kGetters[i])(&value);
    EXPECT_EQ(U8(std::u16string(value, SysStringLen(value))),
              kNames[i] + std::string(i == 43 ? "\r\nline\\" : ""));
    SysFreeString(value);
  }
  contact->Release();
  EXPECT_EQ(Dates(1), std::make_pair(29356.0, kNoDate));  // 15 May 1980
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
  EXPECT_EQ(Import(KindContacts, file), 5);
  const std::pair<DATE, DATE> expected[] = {{kNoDate, kNoDate},
                                            {29356, kNoDate},
                                            {kNoDate, kNoDate},
                                            {kNoDate, kNoDate},
                                            {kNoDate, 32905}};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Dates(i + 1), expected[i]) << "line " << i;
}

}  // namespace
