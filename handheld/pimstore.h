// The personal information store: its COM object model, under the published
// interface and property names.
//
// Contract (the store's own behaviour, decided for this stand-in):
// - One application object per CoCreateInstance(CLSID_Application, IID_IPOutlookApp).
//   Logon opens the SQLite store file ($HANDHELD_STORE, else
//   ${XDG_DATA_HOME:-$HOME/.local/share}/quillmote/handheld.db), creating it and its
//   folders on first use; HANDHELD_STORE=:memory: is a store in the process's memory,
//   kept until the process ends. Logoff closes it. A failed logon leaves the reason in
//   handheld::LastStoreError().
// - A saved item's identity is its own for good: the store never hands it to another
//   item, not even after the item was removed.
// - A folder's Items is a snapshot: the items it counted, in the order they were first
//   saved, listed at its first call and again at each Count. Item(i) and Remove(i)
//   answer from that list (1-based, out of range fails), whatever was saved or removed
//   since, here or in another program. Remove(i) deletes exactly the list's item i at
//   once and takes it off the list (lower indexes stay valid); when that item is gone
//   already nothing is deleted and Remove gives S_FALSE (a success). An item saved after
//   the count is not in the list, so no Remove of it touches that item. Item(i) of an
//   item gone since the count fails. Each Save and each Remove is one transaction, but
//   within a batch (storebatch.h). Items also answer IItemIdentity (itemidentity.h).
// - A purge never destroys the only copy: the first Remove on a collection first writes
//   all the items of that collection (the ones a purge then removes) to a new file of
//   removed items, vCard for contacts and iCalendar for appointments and tasks, which
//   `handheld import` reads back (itemkeeping.h; where and how: store/removeditems.h).
//   When that file cannot be written, that Remove fails with handheld::kNotKept, removes
//   nothing, and the reason goes to standard error; the next Remove tries again. An
//   update by UID keeps the version it replaces likewise (itemkeeping.h).
// - A new item (CreateItem) exists only in memory until its first Save.
// - Dates never set are handheld::kNoDate. Setters refuse out-of-range values with
//   E_INVALIDARG and leave the property unchanged.
// - String getters hand out a new BSTR (never null; empty for an empty value) that the
//   caller frees. String setters copy SysStringLen characters of a real BSTR (null is
//   the empty string).
// - Recurrence: GetRecurrencePattern gives the item's pattern (a fresh, non-repeating
//   one if the item does not repeat). Setting RecurrenceType on it makes the item repeat
//   once the item is saved; IsRecurring tells the saved state.
// - Recipients::Add(text) adds an unresolved recipient named text. IPOlRecipient::Resolve
//   never shows a dialog; it resolves a name that holds "@" (Address = name) or equals a
//   saved contact's Email1Address or "FirstName LastName" (Address = that Email1Address).
#pragma once

#include <string>

#include "handheld/bstr.h"
#include "handheld/com.h"
#include "handheld/oledate.h"

// Folder identifiers (GetDefaultFolder) and item types (CreateItem).
constexpr LONG olFolderCalendar = 9;
constexpr LONG olFolderContacts = 10;
constexpr LONG olFolderTasks = 13;
constexpr LONG olAppointmentItem = 1;
constexpr LONG olContactItem = 2;
constexpr LONG olTaskItem = 3;

// Recurrence types.
constexpr LONG olRecursDaily = 0;
constexpr LONG olRecursWeekly = 1;
constexpr LONG olRecursMonthly = 2;
constexpr LONG olRecursMonthNth = 3;
constexpr LONG olRecursYearly = 5;
constexpr LONG olRecursYearNth = 6;

extern const CLSID CLSID_Application;  // {05058F23-20BE-11D2-8F18-0000F87A4335}
extern const IID IID_IPOutlookApp;     // {05058F22-20BE-11D2-8F18-0000F87A4335}
extern const IID IID_IPOlRecipient;    // {A11C6E30-51B5-11D3-8F39-0000F87A4335}
extern const IID IID_IFolder;
extern const IID IID_IPOutlookItemCollection;
extern const IID IID_IContact;
extern const IID IID_IAppointment;
extern const IID IID_ITask;
extern const IID IID_IRecurrencePattern;
extern const IID IID_IRecipients;
extern const IID IID_IRecipient;

#define HANDHELD_PROPERTY(Type, Name)              \
  virtual HRESULT get_##Name(Type* value) = 0; \
  virtual HRESULT put_##Name(Type value) = 0;

// The contact's string properties in the order of the contact record, then its dates.
#define HANDHELD_CONTACT_STRINGS(X)                                                     \
  X(Title) X(FirstName) X(MiddleName) X(LastName) X(Suffix) X(Categories)               \
  X(MobileTelephoneNumber) X(Email1Address) X(HomeTelephoneNumber)                      \
  X(Home2TelephoneNumber) X(HomeAddressStreet) X(HomeAddressCity) X(HomeAddressState)   \
  X(HomeAddressPostalCode) X(HomeAddressCountry) X(Spouse) X(Children) X(Email2Address) \
  X(Email3Address) X(CompanyName) X(OfficeLocation) X(JobTitle) X(Department)           \
  X(BusinessTelephoneNumber) X(Business2TelephoneNumber) X(BusinessFaxNumber)           \
  X(BusinessAddressStreet) X(BusinessAddressCity) X(BusinessAddressState)               \
  X(BusinessAddressPostalCode) X(BusinessAddressCountry) X(AssistantName)               \
  X(AssistantTelephoneNumber) X(WebPage) X(OtherAddressStreet) X(OtherAddressCity)      \
  X(OtherAddressState) X(OtherAddressPostalCode) X(OtherAddressCountry) X(PagerNumber)  \
  X(CarTelephoneNumber) X(HomeFaxNumber) X(RadioTelephoneNumber) X(Body)
#define HANDHELD_CONTACT_DATES(X) X(Birthday) X(Anniversary)

struct IRecurrencePattern : IDispatch {
  HANDHELD_PROPERTY(LONG, RecurrenceType)
  HANDHELD_PROPERTY(LONG, Interval)
  HANDHELD_PROPERTY(LONG, DayOfWeekMask)
  HANDHELD_PROPERTY(LONG, DayOfMonth)
  HANDHELD_PROPERTY(LONG, Instance)
  HANDHELD_PROPERTY(LONG, MonthOfYear)
  HANDHELD_PROPERTY(DATE, PatternStartDate)
  HANDHELD_PROPERTY(VARIANT_BOOL, NoEndDate)
  HANDHELD_PROPERTY(LONG, Occurrences)
  HANDHELD_PROPERTY(DATE, PatternEndDate)

 protected:
  ~IRecurrencePattern() = default;
};

struct IRecipient : IDispatch {
  HANDHELD_PROPERTY(BSTR, Name)
  HANDHELD_PROPERTY(BSTR, Address)

 protected:
  ~IRecipient() = default;
};

struct IPOlRecipient : IRecipient {
  // *resolved is VARIANT_TRUE when the recipient was resolved. No dialog is shown.
  virtual HRESULT Resolve(VARIANT_BOOL showDialog, VARIANT_BOOL* resolved) = 0;

 protected:
  ~IPOlRecipient() = default;
};

struct IRecipients : IDispatch {
  virtual HRESULT get_Count(INT* count) = 0;
  virtual HRESULT Item(INT index, IRecipient** recipient) = 0;  // 1-based
  virtual HRESULT Add(BSTR name, IRecipient** recipient) = 0;   // recipient may be null
  virtual HRESULT Remove(INT index) = 0;                        // 1-based

 protected:
  ~IRecipients() = default;
};

struct IContact : IDispatch {
#define HANDHELD_CONTACT_STRING_PROPERTY(Name) HANDHELD_PROPERTY(BSTR, Name)
#define HANDHELD_CONTACT_DATE_PROPERTY(Name) HANDHELD_PROPERTY(DATE, Name)
  HANDHELD_CONTACT_STRINGS(HANDHELD_CONTACT_STRING_PROPERTY)
  HANDHELD_CONTACT_DATES(HANDHELD_CONTACT_DATE_PROPERTY)
#undef HANDHELD_CONTACT_STRING_PROPERTY
#undef HANDHELD_CONTACT_DATE_PROPERTY
  virtual HRESULT Save() = 0;

 protected:
  ~IContact() = default;
};

struct IAppointment : IDispatch {
  HANDHELD_PROPERTY(BSTR, Subject)
  HANDHELD_PROPERTY(BSTR, Location)
  HANDHELD_PROPERTY(DATE, Start)
  HANDHELD_PROPERTY(DATE, End)
  HANDHELD_PROPERTY(VARIANT_BOOL, AllDayEvent)
  HANDHELD_PROPERTY(VARIANT_BOOL, ReminderSet)
  HANDHELD_PROPERTY(LONG, ReminderMinutesBeforeStart)
  HANDHELD_PROPERTY(BSTR, Categories)
  HANDHELD_PROPERTY(LONG, BusyStatus)
  HANDHELD_PROPERTY(LONG, Sensitivity)
  HANDHELD_PROPERTY(BSTR, Body)
  virtual HRESULT get_Recipients(IRecipients** recipients) = 0;
  virtual HRESULT get_IsRecurring(VARIANT_BOOL* recurring) = 0;
  virtual HRESULT GetRecurrencePattern(IRecurrencePattern** pattern) = 0;
  virtual HRESULT Save() = 0;

 protected:
  ~IAppointment() = default;
};

struct ITask : IDispatch {
  HANDHELD_PROPERTY(BSTR, Subject)
  HANDHELD_PROPERTY(LONG, Importance)
  HANDHELD_PROPERTY(VARIANT_BOOL, Complete)
  HANDHELD_PROPERTY(DATE, StartDate)
  HANDHELD_PROPERTY(DATE, DueDate)
  HANDHELD_PROPERTY(VARIANT_BOOL, ReminderSet)
  HANDHELD_PROPERTY(DATE, ReminderTime)
  HANDHELD_PROPERTY(BSTR, Categories)
  HANDHELD_PROPERTY(LONG, Sensitivity)
  HANDHELD_PROPERTY(BSTR, Body)
  virtual HRESULT get_IsRecurring(VARIANT_BOOL* recurring) = 0;
  virtual HRESULT GetRecurrencePattern(IRecurrencePattern** pattern) = 0;
  virtual HRESULT Save() = 0;

 protected:
  ~ITask() = default;
};

struct IPOutlookItemCollection : IDispatch {
  virtual HRESULT get_Count(INT* count) = 0;
  virtual HRESULT Item(INT index, IDispatch** item) = 0;  // 1-based
  virtual HRESULT Remove(INT index) = 0;                  // 1-based

 protected:
  ~IPOutlookItemCollection() = default;
};

struct IFolder : IDispatch {
  virtual HRESULT get_Items(IPOutlookItemCollection** items) = 0;

 protected:
  ~IFolder() = default;
};

struct IPOutlookApp : IDispatch {
  virtual HRESULT Logon(LONG window) = 0;
  virtual HRESULT Logoff() = 0;
  virtual HRESULT GetDefaultFolder(LONG folder, IFolder** result) = 0;
  virtual HRESULT CreateItem(LONG itemType, IDispatch** item) = 0;

 protected:
  ~IPOutlookApp() = default;
};

#undef HANDHELD_PROPERTY

namespace handheld {
// Why the last Logon failed ("" after a successful one).
std::string LastStoreError();
// The store file that Logon would open now.
std::string StorePath();
}  // namespace handheld
