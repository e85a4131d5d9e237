// The contact record: 50 columns in a fixed order, the same on export and import.
// 44 text columns and two dates (birthday, anniversary) of three columns each.
#include "records/contact.h"

#include <cmath>

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
void ApplyDateColumn(RecordContext& job, HRESULT (IContact::*put)(DATE), int32_t part,
                     const char16_t* field) {
  if (part == 0) {
    DateDay(job.dateParts, field);
  } else if (part == 1) {
    DateMonth(job.dateParts, field);
  } else if (const auto date = DateYear(job.dateParts, field, true)) {
    (job.newContact->*put)(*date);
  }
}

// A birthday or anniversary is written as a day: a time of day on it is told.
void WriteDayProperty(RecordContext& job, IContact* contact, HRESULT (IContact::*getter)(DATE*)) {
  DATE value = 0;
  const HRESULT status = (contact->*getter)(&value);
  if (SUCCEEDED(status) && value > kEarliestDate && value < kLatestDate &&
      std::llround((value - std::floor(value)) * 86400000.0) >= 1000) {
    NoteLoss(job, LossTimeOfDay);
  }
  WriteDateField(job, status, value);
}

}  // namespace

void WriteContactRecord(RecordContext& job, int32_t itemIndex) {
  auto* contact = static_cast<IContact*>(FetchItem(job, itemIndex));
  if (contact == nullptr) {
    job.runFault = FaultFetch;
    return;
  }
  // Once runFault is set the writers write nothing, but every getter is still called
  // and every string it hands out is released.
  for (int32_t column = 0; column < kContactColumns; ++column) {
    const TextProperty& text = kColumnText[column];
    if (text.get != nullptr) {
      WriteTextProperty(job, contact, text.get);
    } else if (column == kBirthdayDay) {
      WriteDayProperty(job, contact, &IContact::get_Birthday);
    } else if (column == kAnniversaryDay) {
      WriteDayProperty(job, contact, &IContact::get_Anniversary);
    }
  }
  WriteChar(job, u'\r');
  WriteChar(job, u'\n');
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

bool ContactRecordStarted(const RecordContext& job) {
  return job.newContact != nullptr;
}

bool StartContactRecord(RecordContext& job) {
  if (job.newContact != nullptr) return true;
  job.dateGroup = -1;
  job.newContact = static_cast<IContact*>(CreateRecordItem(job, olContactItem));
  return job.newContact != nullptr;
}

void ApplyContactColumn(RecordContext& job, int32_t column, char16_t* field) {
  if (job.newContact == nullptr || column < 0 || column >= kContactColumns) return;
  const TextProperty& text = kColumnText[column];
  TrackDateGroup(job, column, {{kBirthdayDay, 3}, {kAnniversaryDay, 3}});
  if (text.put != nullptr) {
    PutTextProperty(job.newContact, text.put, UnescapeText(field));
  } else if (column < kAnniversaryDay) {
    ApplyDateColumn(job, &IContact::put_Birthday, column - kBirthdayDay, field);
  } else {
    ApplyDateColumn(job, &IContact::put_Anniversary, column - kAnniversaryDay, field);
  }
}

bool EndContactRecord(RecordContext& job) {
  job.dateGroup = -1;
  if (job.newContact == nullptr) return true;
  const bool saved = SUCCEEDED(job.newContact->Save());
  ReleaseAndClear(job.newContact);
  return saved;
}
