// The contact record: 50 columns in a fixed order, the same on export and import.
// 44 text columns and two dates (birthday, anniversary) of three columns each.
#include "records/contact.h"

#include "format/linebuffer.h"
#include "records/recordfields.h"

namespace {

using TextGetter = HRESULT (IContact::*)(BSTR*);
using TextSetter = HRESULT (IContact::*)(BSTR);
struct TextProperty {
  TextGetter get;
  TextSetter put;
};

#define CONTACT_TEXT(Name) \
  { &IContact::get_##Name, &IContact::put_##Name }
#define CONTACT_DATE_PART \
  { nullptr, nullptr }

// The text property of each column; date columns have none.
const TextProperty kColumnText[kContactColumns] = {
    CONTACT_TEXT(Title),                      // 0
    CONTACT_TEXT(FirstName),                  // 1
    CONTACT_TEXT(MiddleName),                 // 2
    CONTACT_TEXT(LastName),                   // 3
    CONTACT_TEXT(Suffix),                     // 4
    CONTACT_TEXT(Categories),                 // 5
    CONTACT_TEXT(MobileTelephoneNumber),      // 6
    CONTACT_TEXT(Email1Address),              // 7
    CONTACT_DATE_PART,                        // 8 birthday day
    CONTACT_DATE_PART,                        // 9 birthday month
    CONTACT_DATE_PART,                        // 10 birthday year
    CONTACT_TEXT(HomeTelephoneNumber),        // 11
    CONTACT_TEXT(Home2TelephoneNumber),       // 12
    CONTACT_TEXT(HomeAddressStreet),          // 13
    CONTACT_TEXT(HomeAddressCity),            // 14
    CONTACT_TEXT(HomeAddressState),           // 15
    CONTACT_TEXT(HomeAddressPostalCode),      // 16
    CONTACT_TEXT(HomeAddressCountry),         // 17
    CONTACT_TEXT(Spouse),                     // 18
    CONTACT_DATE_PART,                        // 19 anniversary day
    CONTACT_DATE_PART,                        // 20 anniversary month
    CONTACT_DATE_PART,                        // 21 anniversary year
    CONTACT_TEXT(Children),                   // 22
    CONTACT_TEXT(Email2Address),              // 23
    CONTACT_TEXT(Email3Address),              // 24
    CONTACT_TEXT(CompanyName),                // 25
    CONTACT_TEXT(OfficeLocation),             // 26
    CONTACT_TEXT(JobTitle),                   // 27
    CONTACT_TEXT(Department),                 // 28
    CONTACT_TEXT(BusinessTelephoneNumber),    // 29
    CONTACT_TEXT(Business2TelephoneNumber),   // 30
    CONTACT_TEXT(BusinessFaxNumber),          // 31
    CONTACT_TEXT(BusinessAddressStreet),      // 32
    CONTACT_TEXT(BusinessAddressCity),        // 33
    CONTACT_TEXT(BusinessAddressState),       // 34
    CONTACT_TEXT(BusinessAddressPostalCode),  // 35
    CONTACT_TEXT(BusinessAddressCountry),     // 36
    CONTACT_TEXT(AssistantName),              // 37
    CONTACT_TEXT(AssistantTelephoneNumber),   // 38
    CONTACT_TEXT(WebPage),                    // 39
    CONTACT_TEXT(OtherAddressStreet),         // 40
    CONTACT_TEXT(OtherAddressCity),           // 41
    CONTACT_TEXT(OtherAddressState),          // 42
    CONTACT_TEXT(OtherAddressPostalCode),     // 43
    CONTACT_TEXT(OtherAddressCountry),        // 44
    CONTACT_TEXT(PagerNumber),                // 45
    CONTACT_TEXT(CarTelephoneNumber),         // 46
    CONTACT_TEXT(HomeFaxNumber),              // 47
    CONTACT_TEXT(RadioTelephoneNumber),       // 48
    CONTACT_TEXT(Body),                       // 49 notes
};

#undef CONTACT_TEXT
#undef CONTACT_DATE_PART

constexpr int32_t kBirthdayDay = 8;
constexpr int32_t kAnniversaryDay = 19;

// Applies a part (0 day, 1 month, 2 year) of the birthday or the anniversary.
void ApplyDateColumn(HRESULT (IContact::*put)(DATE), int32_t part) {
  if (part == 0) {
    DateDay(LineBuffer);
  } else if (part == 1) {
    DateMonth(LineBuffer);
  } else if (DateYear(LineBuffer, true)) {
    (NewContact->*put)(BuiltDate);
  }
}

}  // namespace

void WriteContactRecord(int32_t itemIndex) {
  auto* contact = static_cast<IContact*>(FetchItem(itemIndex));
  if (contact == nullptr) {
    RunFault = FaultFetch;
    return;
  }
  // Once RunFault is set the writers write nothing, but every getter is still called
  // and every string it hands out is released.
  for (int32_t column = 0; column < kContactColumns; ++column) {
    const TextProperty& text = kColumnText[column];
    if (text.get != nullptr) {
      WriteTextProperty(contact, text.get);
    } else if (column == kBirthdayDay) {
      WriteDateProperty(contact, &IContact::get_Birthday);
    } else if (column == kAnniversaryDay) {
      WriteDateProperty(contact, &IContact::get_Anniversary);
    }
  }
  WriteChar(u'\r');
  WriteChar(u'\n');
  contact->Release();
}

int32_t ContactColumnLimit(int32_t column) {
  switch (column) {
    case kBirthdayDay:
    case kBirthdayDay + 1:
    case kAnniversaryDay:
    case kAnniversaryDay + 1:
      return 2;
    case kBirthdayDay + 2:
    case kAnniversaryDay + 2:
    case 49:  // notes
      return kLineBufferChars;
    default:
      return 1024;
  }
}

bool ContactRecordStarted() {
  return NewContact != nullptr;
}

bool StartContactRecord() {
  if (NewContact != nullptr) return true;
  ForgetDateGroup();
  NewContact = static_cast<IContact*>(CreateRecordItem(olContactItem));
  return NewContact != nullptr;
}

void ApplyContactColumn(int32_t column) {
  if (NewContact == nullptr || column < 0 || column >= kContactColumns) return;
  const TextProperty& text = kColumnText[column];
  TrackDateGroup(column, {{kBirthdayDay, 3}, {kAnniversaryDay, 3}});
  if (text.put != nullptr) {
    PutTextProperty(NewContact, text.put, UnescapeText());
  } else if (column < kAnniversaryDay) {
    ApplyDateColumn(&IContact::put_Birthday, column - kBirthdayDay);
  } else {
    ApplyDateColumn(&IContact::put_Anniversary, column - kAnniversaryDay);
  }
}

bool EndContactRecord() {
  ForgetDateGroup();
  if (NewContact == nullptr) return true;
  const bool saved = SUCCEEDED(NewContact->Save());
  NewContact->Release();
  NewContact = nullptr;
  return saved;
}
