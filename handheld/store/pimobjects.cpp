// The store's COM objects: the application, folders, item collections, contacts,
// appointments, tasks, recurrence patterns and recipients.
//
// Items hold their values in memory; Save writes them to the store (itembackend.h) as one
// blob. A fetched item remembers its fetch ordinal, which names it in the read:PROPERTY:N
// and pattern:N fault points; its pattern and recipient objects carry the same ordinal.
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/faults.h"
#include "handheld/itemidentity.h"
#include "handheld/itemkeeping.h"
#include "handheld/pimstore.h"
#include "handheld/store/comobject.h"
#include "handheld/store/itemdata.h"
#include "handheld/store/removeditems.h"
#include "handheld/store/storefile.h"
#include "handheld/storebatch.h"
#include "handheld/utf16.h"

const CLSID CLSID_Application = {
    0x05058F23, 0x20BE, 0x11D2, {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IPOutlookApp = {
    0x05058F22, 0x20BE, 0x11D2, {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IPOlRecipient = {
    0xA11C6E30, 0x51B5, 0x11D3, {0x8F, 0x39, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
// The store's own interface identifiers.
const IID IID_IFolder = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x01}};
const IID IID_IPOutlookItemCollection = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x02}};
const IID IID_IContact = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x03}};
const IID IID_IAppointment = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x04}};
const IID IID_ITask = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x05}};
const IID IID_IRecurrencePattern = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x06}};
const IID IID_IRecipients = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x07}};
const IID IID_IRecipient = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x08}};
const IID IID_IItemIdentity = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x09}};
const IID IID_IStoreBatch = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x0A}};
const IID IID_IStoreAddGroups = {
    0x6F1A2C40, 0x9B3D, 0x4E51, {0xA7, 0xC2, 0x0D, 0x5E, 0x8B, 0x3F, 0x4A, 0x0B}};

namespace handheld::store {
namespace {

using StoreRef = std::shared_ptr<ItemBackend>;

[[gnu::noinline]] bool FaultAtOrdinal(const char* point, long ordinal) {
  return FaultAt(point, ordinal);
}

// A getter's fault point fires only for items fetched with Item (ordinal from 1). Made
// on every property read, so the common answer (nothing armed) is given in place.
inline bool ReadFails(long ordinal, const char* point) {
  return ordinal != 0 && FaultsArmed() && FaultAtOrdinal(point, ordinal);
}

// A string getter: a copy of the `length` code units at `text`, unless the read fault
// point of that item fires.
HRESULT HandOutString(long ordinal, const char* point, const char16_t* text, size_t length,
                      BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (ReadFails(ordinal, point)) return E_FAIL;
  *out = SysAllocStringLen(text, static_cast<UINT>(length));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT HandOutString(long ordinal, const char* point, const std::u16string& text, BSTR* out) {
  return HandOutString(ordinal, point, text.data(), text.size(), out);
}

void TakeString(BSTR value, std::u16string* into) {
  if (value == nullptr) {
    into->clear();
  } else {
    into->assign(value, SysStringLen(value));
  }
}

VARIANT_BOOL AsBool(double value) {
  return value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
}

// ---------------------------------------------------------------------------------------
// Recurrence pattern: shares its state with the item that handed it out.

class RecurrencePattern : public ComObject<IRecurrencePattern> {
 public:
  RecurrencePattern(std::shared_ptr<PatternState> state, long ordinal)
      : ComObject("com:RecurrencePattern"), state_(std::move(state)), ordinal_(ordinal) {}

#define HANDHELD_PATTERN_LONG(Name, field, valid)          \
  HRESULT get_##Name(LONG* value) override {               \
    if (value == nullptr) return E_POINTER;                \
    if (ReadFails(ordinal_, "read:" #Name)) return E_FAIL; \
    *value = state_->data.field;                           \
    return S_OK;                                           \
  }                                                        \
  HRESULT put_##Name(LONG value) override {                \
    if (!(valid)) return E_INVALIDARG;                     \
    state_->data.field = value;                            \
    return S_OK;                                           \
  }
#define HANDHELD_PATTERN_DATE(Name, field)                 \
  HRESULT get_##Name(DATE* value) override {               \
    if (value == nullptr) return E_POINTER;                \
    if (ReadFails(ordinal_, "read:" #Name)) return E_FAIL; \
    *value = state_->data.field;                           \
    return S_OK;                                           \
  }                                                        \
  HRESULT put_##Name(DATE value) override {                \
    if (!IsStoreDate(value)) return E_INVALIDARG;          \
    state_->data.field = value;                            \
    return S_OK;                                           \
  }

  HRESULT get_RecurrenceType(LONG* value) override {
    if (value == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, "read:RecurrenceType")) return E_FAIL;
    *value = state_->data.recurrenceType;
    return S_OK;
  }
  // Setting the type is what makes the item repeat (once the item is saved).
  HRESULT put_RecurrenceType(LONG value) override {
    if (!IsRecurrenceType(value)) return E_INVALIDARG;
    state_->data.recurrenceType = value;
    state_->repeats = true;
    return S_OK;
  }
  HANDHELD_PATTERN_LONG(Interval, interval, InRange(value, 1, 999))
  HANDHELD_PATTERN_LONG(DayOfWeekMask, dayOfWeekMask, InRange(value, 0, 127))
  HANDHELD_PATTERN_LONG(DayOfMonth, dayOfMonth, InRange(value, 1, 31))
  HANDHELD_PATTERN_LONG(Instance, instance, InRange(value, 1, 5))
  HANDHELD_PATTERN_LONG(MonthOfYear, monthOfYear, InRange(value, 1, 12))
  HANDHELD_PATTERN_LONG(Occurrences, occurrences, value >= 1)
  HANDHELD_PATTERN_DATE(PatternStartDate, patternStartDate)
  HANDHELD_PATTERN_DATE(PatternEndDate, patternEndDate)
#undef HANDHELD_PATTERN_LONG
#undef HANDHELD_PATTERN_DATE

  HRESULT get_NoEndDate(VARIANT_BOOL* value) override {
    if (value == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, "read:NoEndDate")) return E_FAIL;
    *value = state_->data.noEndDate;
    return S_OK;
  }
  HRESULT put_NoEndDate(VARIANT_BOOL value) override {
    state_->data.noEndDate = AsBool(value);
    return S_OK;
  }

 protected:
  bool Answers(REFIID riid) const override {
    return riid == IID_IRecurrencePattern;
  }

 private:
  std::shared_ptr<PatternState> state_;
  long ordinal_;
};

// ---------------------------------------------------------------------------------------
// Recipients of an appointment: the collection and each recipient share the
// appointment's list, so changes are saved with the appointment.

class Recipient : public ComObject<IPOlRecipient> {
 public:
  Recipient(std::shared_ptr<RecipientEntry> entry, StoreRef store, long ordinal)
      : ComObject("com:Recipient"),
        entry_(std::move(entry)),
        store_(std::move(store)),
        ordinal_(ordinal) {}

  HRESULT get_Name(BSTR* value) override {
    return HandOutString(ordinal_, "read:Name", entry_->name, value);
  }
  HRESULT put_Name(BSTR value) override {
    TakeString(value, &entry_->name);
    return S_OK;
  }
  HRESULT get_Address(BSTR* value) override {
    return HandOutString(ordinal_, "read:Address", entry_->address, value);
  }
  HRESULT put_Address(BSTR value) override {
    TakeString(value, &entry_->address);
    return S_OK;
  }

  // Never shows a dialog. A name with "@" is its own address; otherwise the name must be
  // a saved contact's Email1Address or "FirstName LastName".
  HRESULT Resolve(VARIANT_BOOL /*showDialog*/, VARIANT_BOOL* resolved) override {
    if (resolved == nullptr) return E_POINTER;
    if (entry_->name.find(u'@') != std::u16string::npos) {
      entry_->address = entry_->name;
      *resolved = VARIANT_TRUE;
      return S_OK;
    }
    if (store_ == nullptr || !store_->isOpen()) return E_FAIL;
    std::optional<std::u16string> address = store_->FindContactAddress(entry_->name);
    if (address) entry_->address = std::move(*address);
    *resolved = address ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

 protected:
  bool Answers(REFIID riid) const override {
    return riid == IID_IRecipient || riid == IID_IPOlRecipient;
  }

 private:
  std::shared_ptr<RecipientEntry> entry_;
  StoreRef store_;
  long ordinal_;
};

class Recipients : public ComObject<IRecipients> {
 public:
  Recipients(std::shared_ptr<RecipientList> list, StoreRef store, long ordinal)
      : ComObject("com:Recipients"),
        list_(std::move(list)),
        store_(std::move(store)),
        ordinal_(ordinal) {}

  HRESULT get_Count(INT* count) override {
    if (count == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, "read:Count")) return E_FAIL;
    *count = static_cast<INT>(list_->size());
    return S_OK;
  }
  HRESULT Item(INT index, IRecipient** recipient) override {
    if (recipient == nullptr) return E_POINTER;
    *recipient = nullptr;
    if (index < 1 || static_cast<size_t>(index) > list_->size()) return E_INVALIDARG;
    *recipient = new Recipient((*list_)[static_cast<size_t>(index) - 1], store_, ordinal_);
    return S_OK;
  }
  HRESULT Add(BSTR name, IRecipient** recipient) override {
    if (recipient != nullptr) *recipient = nullptr;
    auto entry = std::make_shared<RecipientEntry>();
    TakeString(name, &entry->name);
    list_->push_back(entry);
    if (recipient != nullptr) *recipient = new Recipient(std::move(entry), store_, ordinal_);
    return S_OK;
  }
  HRESULT Remove(INT index) override {
    if (index < 1 || static_cast<size_t>(index) > list_->size()) return E_INVALIDARG;
    list_->erase(list_->begin() + (index - 1));
    return S_OK;
  }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_IRecipients; }

 private:
  std::shared_ptr<RecipientList> list_;
  StoreRef store_;
  long ordinal_;
};

// ---------------------------------------------------------------------------------------
// Items.
//
// Every item also answers IItemIdentity, as a second interface of the same object.

// The files of the saved versions that SaveAsUid replaces: one per kind, shared by the
// items that one logon of the application creates.
struct UpdateKeeping {
  RemovedItems contacts{Kind::kContact}, appointments{Kind::kAppointment}, tasks{Kind::kTask};
  RemovedItems& Of(Kind kind) {
    return kind == Kind::kContact ? contacts : kind == Kind::kAppointment ? appointments : tasks;
  }
};
using KeepingRef = std::shared_ptr<UpdateKeeping>;

IDispatch* MakeItem(StoreRef store, ItemValues values, int64_t id, long ordinal,
                    KeepingRef keeping = nullptr);

template <class Interface>
class Item : public ComObject<Interface>, public IItemIdentity {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object != nullptr && riid == IID_IItemIdentity) {
      AddRef();
      *object = static_cast<IItemIdentity*>(this);
      return S_OK;
    }
    return ComObject<Interface>::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ComObject<Interface>::AddRef(); }
  ULONG Release() override { return ComObject<Interface>::Release(); }

  HRESULT get_Uid(BSTR* uid) override {
    if (uid == nullptr) return E_POINTER;
    *uid = nullptr;
    if (uid_.empty() && id_ == 0) {
      if (store_ == nullptr) return E_FAIL;
      uid_ = store_->NewUid();  // kept at the first Save
      keepUid_ = true;
    } else if (uid_.empty()) {
      if (store_ == nullptr) return E_FAIL;
      const LONG folder = FolderOf(values_.kind);
      std::optional<std::u16string> kept = store_->ItemUid(folder, id_);
      if (kept && kept->empty()) kept = store_->GiveDerivedUids(folder, id_);
      if (!kept) return E_FAIL;
      // An item that another program removed since its fetch is given one of its own.
      uid_ = kept->empty() ? store_->NewUid() : std::move(*kept);
    }
    *uid = SysAllocStringLen(uid_.data(), static_cast<UINT>(uid_.size()));
    return *uid != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT put_Uid(BSTR uid) override {
    if (SysStringLen(uid) == 0) return E_INVALIDARG;
    if (store_ == nullptr) return E_FAIL;
    const int64_t holder =
        store_->UidHolder(FolderOf(values_.kind), std::u16string_view(uid, SysStringLen(uid)));
    if (holder < 0) return E_FAIL;
    if (holder != 0 && holder != id_) return handheld::kUidTaken;
    TakeString(uid, &uid_);
    keepUid_ = true;
    return S_OK;
  }

  HRESULT SaveAsUid(BSTR uid, LONG* outcome) override {
    if (outcome == nullptr) return E_POINTER;
    *outcome = kItemAdded;
    if (SysStringLen(uid) == 0) return E_INVALIDARG;
    if (id_ != 0) return E_FAIL;
    if (store_ == nullptr || FaultNext("save")) return E_FAIL;
    const Kind kind = values_.kind;
    const LONG folder = FolderOf(kind);
    std::u16string wanted(uid, SysStringLen(uid));
    const int64_t holder = store_->UidHolder(folder, wanted);
    if (holder < 0) return E_FAIL;
    if (holder == 0) {
      uid_ = std::move(wanted);
      keepUid_ = true;
      return WriteValues();
    }
    // The holder's values as saved, in the form this item's would be saved in.
    std::string blob;
    ItemValues saved = NewItemValues(kind, SYSTEMTIME{});
    if (!store_->LoadItem(holder, folder, &blob) || !DecodeItem(blob, &saved)) return E_FAIL;
    // A reminder that is off and whose lead (minutes, or time) this item was never given
    // says nothing about the lead: the holder's stands, as no difference and through an
    // update. (A file carries no lead for a reminder that is off, so an import would
    // otherwise see the store's default lead as a change.)
    if (const int lead = ReminderLeadSlot(kind);
        lead >= 0 && !AsBool(values_.numbers[ReminderSetSlot(kind)]) && !leadGiven_) {
      values_.numbers[lead] = saved.numbers[lead];
    }
    if (EncodeItem(saved) != EncodeItem(values_)) {
      if (keeping_ == nullptr) return E_FAIL;
      const FetchItem fetch = [&](size_t, IDispatch** item, std::u16string* itsUid,
                                  std::string* native) {
        *itsUid = wanted;
        *native = store_->NativeText(folder, holder);
        *item = MakeItem(store_, std::move(saved), holder, 0);
        return S_OK;
      };
      HRESULT hr = keeping_->Of(kind).Keep(0, fetch, "with UID " + Utf8FromUtf16(wanted));
      if (FAILED(hr)) return hr;
      id_ = holder;
      keepUid_ = false;  // the holder's stays, whatever this item was given before
      if (hr = WriteValues(); FAILED(hr)) {
        id_ = 0;
        return hr;
      }
      *outcome = kItemUpdated;
    } else {
      id_ = holder;
      savedRepeats_ = values_.pattern != nullptr && values_.pattern->repeats;
      *outcome = kItemUnchanged;
    }
    uid_ = std::move(wanted);
    keepUid_ = false;
    return S_OK;
  }

 protected:
  Item(const char* censusName, StoreRef store, ItemValues values, int64_t id, long ordinal,
       KeepingRef keeping)
      : ComObject<Interface>(censusName),
        store_(std::move(store)),
        keeping_(std::move(keeping)),
        values_(std::move(values)),
        id_(id),
        ordinal_(ordinal),
        savedRepeats_(id != 0 && values_.pattern != nullptr && values_.pattern->repeats) {}

  HRESULT GetString(const char* point, int slot, BSTR* value) {
    return HandOutString(ordinal_, point, values_.strings[slot], value);
  }
  HRESULT PutString(int slot, BSTR value) {
    TakeString(value, &values_.strings[slot]);
    return S_OK;
  }
  HRESULT GetNumber(const char* point, int slot, DATE* value) {
    if (value == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, point)) return E_FAIL;
    *value = values_.numbers[slot];
    return S_OK;
  }
  HRESULT GetNumber(const char* point, int slot, LONG* value) {
    if (value == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, point)) return E_FAIL;
    *value = static_cast<LONG>(values_.numbers[slot]);
    return S_OK;
  }
  HRESULT GetNumber(const char* point, int slot, VARIANT_BOOL* value) {
    if (value == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, point)) return E_FAIL;
    *value = AsBool(values_.numbers[slot]);
    return S_OK;
  }
  HRESULT PutDate(int slot, DATE value) {
    if (!IsStoreDate(value)) return E_INVALIDARG;
    values_.numbers[slot] = value;
    leadGiven_ = leadGiven_ || slot == ReminderLeadSlot(values_.kind);
    return S_OK;
  }
  HRESULT PutLong(int slot, LONG value, LONG low, LONG high) {
    if (!InRange(value, low, high)) return E_INVALIDARG;
    values_.numbers[slot] = value;
    leadGiven_ = leadGiven_ || slot == ReminderLeadSlot(values_.kind);
    return S_OK;
  }
  HRESULT PutBool(int slot, VARIANT_BOOL value) {
    values_.numbers[slot] = AsBool(value);
    return S_OK;
  }

  HRESULT SaveItem() {
    if (store_ == nullptr || FaultNext("save")) return E_FAIL;
    return WriteValues();
  }

  // Writes the values as a new item (id_ 0) or over item id_, and the identifier to keep.
  HRESULT WriteValues() {
    std::string blob = EncodeItem(values_);
    std::u16string email, fullName;
    if (values_.kind == Kind::kContact) {
      email = ContactEmailKey(values_);
      fullName = ContactNameKey(values_);
    }
    if (id_ == 0) {
      int64_t id = store_->InsertItem(FolderOf(values_.kind), blob, email, fullName,
                                      keepUid_ ? std::u16string_view(uid_) : u"");
      if (id == 0) return E_FAIL;
      id_ = id;
      keepUid_ = false;
    } else if (!store_->UpdateItem(FolderOf(values_.kind), id_, blob, email, fullName)) {
      return E_FAIL;
    }
    if (keepUid_) {
      if (!store_->SetItemUid(FolderOf(values_.kind), id_, uid_)) return E_FAIL;
      keepUid_ = false;
    }
    savedRepeats_ = values_.pattern != nullptr && values_.pattern->repeats;
    return S_OK;
  }

  HRESULT GetIsRecurring(VARIANT_BOOL* recurring) {
    if (recurring == nullptr) return E_POINTER;
    if (ReadFails(ordinal_, "read:IsRecurring")) return E_FAIL;
    *recurring = savedRepeats_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT GetPattern(IRecurrencePattern** pattern) {
    if (pattern == nullptr) return E_POINTER;
    *pattern = nullptr;
    if (ReadFails(ordinal_, "pattern")) return E_FAIL;
    if (values_.pattern == nullptr) values_.pattern = std::make_shared<PatternState>();
    *pattern = new RecurrencePattern(values_.pattern, ordinal_);
    return S_OK;
  }

  StoreRef store_;
  KeepingRef keeping_;  // new items only
  ItemValues values_;
  int64_t id_;  // 0 until the first Save
  long ordinal_;
  bool savedRepeats_;
  std::u16string uid_;    // "" until known
  bool keepUid_ = false;  // uid_ is to be kept at the next Save
  bool leadGiven_ = false;  // the reminder's minutes or time were put on this object

 private:
  // The slot of the reminder's lead (-1 for contacts) and of its on/off.
  static int ReminderLeadSlot(Kind kind) {
    if (kind == Kind::kAppointment) return kAppointmentReminderMinutesBeforeStart;
    return kind == Kind::kTask ? kTaskReminderTime : -1;
  }
  static int ReminderSetSlot(Kind kind) {
    if (kind == Kind::kAppointment) return kAppointmentReminderSet;
    return kTaskReminderSet;
  }
};

#define HANDHELD_ITEM_STRING(Name, slot)          \
  HRESULT get_##Name(BSTR* value) override {      \
    return GetString("read:" #Name, slot, value); \
  }                                               \
  HRESULT put_##Name(BSTR value) override {       \
    return PutString(slot, value);                \
  }
#define HANDHELD_ITEM_DATE(Name, slot)            \
  HRESULT get_##Name(DATE* value) override {      \
    return GetNumber("read:" #Name, slot, value); \
  }                                               \
  HRESULT put_##Name(DATE value) override {       \
    return PutDate(slot, value);                  \
  }
#define HANDHELD_ITEM_LONG(Name, slot, low, high) \
  HRESULT get_##Name(LONG* value) override {      \
    return GetNumber("read:" #Name, slot, value); \
  }                                               \
  HRESULT put_##Name(LONG value) override {       \
    return PutLong(slot, value, low, high);       \
  }
#define HANDHELD_ITEM_BOOL(Name, slot)               \
  HRESULT get_##Name(VARIANT_BOOL* value) override { \
    return GetNumber("read:" #Name, slot, value);    \
  }                                                  \
  HRESULT put_##Name(VARIANT_BOOL value) override {  \
    return PutBool(slot, value);                     \
  }

class Contact : public Item<IContact> {
 public:
  Contact(StoreRef store, ItemValues values, int64_t id, long ordinal, KeepingRef keeping)
      : Item("com:Contact", std::move(store), std::move(values), id, ordinal, std::move(keeping)) {}

#define HANDHELD_CONTACT_STRING(Name) HANDHELD_ITEM_STRING(Name, kContact##Name)
#define HANDHELD_CONTACT_DATE(Name) HANDHELD_ITEM_DATE(Name, kContact##Name)
  HANDHELD_CONTACT_STRINGS(HANDHELD_CONTACT_STRING)
  HANDHELD_CONTACT_DATES(HANDHELD_CONTACT_DATE)
#undef HANDHELD_CONTACT_STRING
#undef HANDHELD_CONTACT_DATE

  HRESULT Save() override {
    return SaveItem();
  }

 protected:
  bool Answers(REFIID riid) const override {
    return riid == IID_IContact;
  }
};

class Appointment : public Item<IAppointment> {
 public:
  Appointment(StoreRef store, ItemValues values, int64_t id, long ordinal, KeepingRef keeping)
      : Item("com:Appointment", std::move(store), std::move(values), id, ordinal, std::move(keeping)) {}

  HANDHELD_ITEM_STRING(Subject, kAppointmentSubject)
  HANDHELD_ITEM_STRING(Location, kAppointmentLocation)
  HANDHELD_ITEM_DATE(Start, kAppointmentStart)
  HANDHELD_ITEM_DATE(End, kAppointmentEnd)
  HANDHELD_ITEM_BOOL(AllDayEvent, kAppointmentAllDayEvent)
  HANDHELD_ITEM_BOOL(ReminderSet, kAppointmentReminderSet)
  HANDHELD_ITEM_LONG(ReminderMinutesBeforeStart, kAppointmentReminderMinutesBeforeStart, 0,
                     INT32_MAX)
  HANDHELD_ITEM_STRING(Categories, kAppointmentCategories)
  HANDHELD_ITEM_LONG(BusyStatus, kAppointmentBusyStatus, 0, 3)
  HANDHELD_ITEM_LONG(Sensitivity, kAppointmentSensitivity, 0, 3)
  HANDHELD_ITEM_STRING(Body, kAppointmentBody)

  HRESULT get_Recipients(IRecipients** recipients) override {
    if (recipients == nullptr) return E_POINTER;
    *recipients = nullptr;
    if (ReadFails(ordinal_, "read:Recipients")) return E_FAIL;
    *recipients = new Recipients(values_.recipients, store_, ordinal_);
    return S_OK;
  }
  HRESULT get_IsRecurring(VARIANT_BOOL* recurring) override { return GetIsRecurring(recurring); }
  HRESULT GetRecurrencePattern(IRecurrencePattern** pattern) override {
    return GetPattern(pattern);
  }
  HRESULT Save() override { return SaveItem(); }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_IAppointment; }
};

class Task : public Item<ITask> {
 public:
  Task(StoreRef store, ItemValues values, int64_t id, long ordinal, KeepingRef keeping)
      : Item("com:Task", std::move(store), std::move(values), id, ordinal, std::move(keeping)) {}

  HANDHELD_ITEM_STRING(Subject, kTaskSubject)
  HANDHELD_ITEM_LONG(Importance, kTaskImportance, 0, 2)
  HANDHELD_ITEM_BOOL(Complete, kTaskComplete)
  HANDHELD_ITEM_DATE(StartDate, kTaskStartDate)
  HANDHELD_ITEM_DATE(DueDate, kTaskDueDate)
  HANDHELD_ITEM_BOOL(ReminderSet, kTaskReminderSet)
  HANDHELD_ITEM_DATE(ReminderTime, kTaskReminderTime)
  HANDHELD_ITEM_STRING(Categories, kTaskCategories)
  HANDHELD_ITEM_LONG(Sensitivity, kTaskSensitivity, 0, 3)
  HANDHELD_ITEM_STRING(Body, kTaskBody)

  HRESULT get_IsRecurring(VARIANT_BOOL* recurring) override { return GetIsRecurring(recurring); }
  HRESULT GetRecurrencePattern(IRecurrencePattern** pattern) override {
    return GetPattern(pattern);
  }
  HRESULT Save() override { return SaveItem(); }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_ITask; }
};

#undef HANDHELD_ITEM_STRING
#undef HANDHELD_ITEM_DATE
#undef HANDHELD_ITEM_LONG
#undef HANDHELD_ITEM_BOOL

IDispatch* MakeItem(StoreRef store, ItemValues values, int64_t id, long ordinal,
                    KeepingRef keeping) {
  switch (values.kind) {
    case Kind::kContact:
      return new Contact(std::move(store), std::move(values), id, ordinal, std::move(keeping));
    case Kind::kAppointment:
      return new Appointment(std::move(store), std::move(values), id, ordinal,
                             std::move(keeping));
    case Kind::kTask:
      break;
  }
  return new Task(std::move(store), std::move(values), id, ordinal, std::move(keeping));
}

ItemValues FreshValues(Kind kind) {
  SYSTEMTIME now{};
  if (kind == Kind::kAppointment) GetLocalTime(&now);
  return NewItemValues(kind, now);
}

// ---------------------------------------------------------------------------------------
// A folder's items: the ids of the items it counted, in first-save order, taken at the
// first call and again at each Count. Item and Remove answer from that list, so a purge
// removes exactly the items it counted, whatever other programs (or other collections)
// saved or removed since; ids are never handed out twice, so an id in the list names
// that item or nothing.
//
// Items read in order are read ahead: when Item(i) follows Item(i-1), the blobs of the
// next kReadAhead items come in one statement, and the following Item calls are served
// from them. Rows read ahead are dropped at any change of the store since they were
// read: a write through the same logon, or one that another program committed where the
// backend can tell (ItemBackend::Changes), so every item comes as it is now, as when each
// is read alone.
// No read transaction outlives the call that opened it.

class Items : public ComObject<IPOutlookItemCollection> {
 public:
  Items(StoreRef store, Kind kind)
      : ComObject("com:Items"), store_(std::move(store)), kind_(kind), removed_(kind) {}

  HRESULT get_Count(INT* count) override {
    if (count == nullptr) return E_POINTER;
    if (!store_->isOpen() || !List()) return E_FAIL;
    *count = static_cast<INT>(ids_.size());
    return S_OK;
  }

  HRESULT Item(INT index, IDispatch** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (FaultAt("item", index)) return E_FAIL;
    if (!store_->isOpen() || (!listed_ && !List())) return E_FAIL;
    if (index < 1 || static_cast<size_t>(index) > ids_.size()) return E_INVALIDARG;
    size_t at = static_cast<size_t>(index) - 1;
    int64_t id = ids_[at];
    std::string blob;
    if (!TakeReadAhead(at, &blob) && !store_->LoadItem(id, FolderOf(kind_), &blob)) {
      return E_FAIL;
    }
    // A saved item carries every value of its kind, so the defaults under it need no
    // clock (reading the local time costs a stat of the zone file per item).
    ItemValues values = NewItemValues(kind_, SYSTEMTIME{});
    if (!DecodeItem(blob, &values)) return E_FAIL;
    *item = MakeItem(store_, std::move(values), id, NextFetchOrdinal());
    return S_OK;
  }

  HRESULT Remove(INT index) override {
    if (FaultNext("remove")) return E_FAIL;
    if (!store_->isOpen() || (!listed_ && !List())) return E_FAIL;
    if (index < 1 || static_cast<size_t>(index) > ids_.size()) return E_INVALIDARG;
    if (HRESULT hr = removed_.BeforeRemove(ids_.size(), Saved()); FAILED(hr)) return hr;
    return RemoveListed(static_cast<size_t>(index) - 1);
  }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_IPOutlookItemCollection; }

 private:
  // The listed items as the removed-items file reads them: as saved, without fault points.
  FetchItem Saved() {
    return [this](size_t at, IDispatch** item, std::u16string* uid, std::string* native) {
      std::string blob;
      ItemValues values = NewItemValues(kind_, SYSTEMTIME{});
      std::optional<std::u16string> kept = store_->ItemUid(FolderOf(kind_), ids_[at]);
      if (!kept) return E_FAIL;
      if (!TakeReadAhead(at, &blob) && !store_->LoadItem(ids_[at], FolderOf(kind_), &blob)) {
        // Gone since the count (another program removed it): nothing of it to keep, and
        // the purge's Remove of it removes nothing.
        std::vector<int64_t> now;
        if (!store_->ListItems(FolderOf(kind_), &now)) return E_FAIL;
        return std::find(now.begin(), now.end(), ids_[at]) == now.end() ? S_FALSE : E_FAIL;
      }
      if (!DecodeItem(blob, &values)) return E_FAIL;
      *uid = std::move(*kept);
      *native = store_->NativeText(FolderOf(kind_), ids_[at]);
      *item = MakeItem(store_, std::move(values), ids_[at], 0);
      return S_OK;
    };
  }

  bool List() {
    listed_ = store_->ListItems(FolderOf(kind_), &ids_);
    ahead_.clear();
    return listed_;
  }

  // Where an item of the list leaves the store: exactly that item, or nothing when it is
  // gone already (S_FALSE, still a success). Either way it leaves the list, and the
  // items above it move down one place.
  HRESULT RemoveListed(size_t at) {
    const int removed = store_->DeleteItem(FolderOf(kind_), ids_[at]);
    if (removed < 0) return E_FAIL;
    ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(at));
    ahead_.clear();
    return removed != 0 ? S_OK : S_FALSE;
  }

  // Moves the blob of the item at `at` out of the rows read ahead, reading the next rows
  // first when the items are being read in order. False when the caller must read it.
  bool TakeReadAhead(size_t at, std::string* blob) {
    bool inOrder = at == next_;
    next_ = at + 1;
    if (!ahead_.empty() && store_->Changes() != aheadChanges_) ahead_.clear();
    if (at < aheadFirst_ || at >= aheadFirst_ + ahead_.size()) {
      if (!inOrder || !ReadAhead(at)) return false;
    }
    std::optional<std::string>& row = ahead_[at - aheadFirst_];
    if (!row) return false;
    *blob = std::move(*row);
    row.reset();
    return true;
  }

  bool ReadAhead(size_t at) {
    ahead_.clear();
    size_t count = std::min(kReadAhead, ids_.size() - at);
    if (count < 2) return false;
    aheadChanges_ = store_->Changes();
    if (!store_->LoadItems(FolderOf(kind_), std::span(ids_).subspan(at, count), &ahead_)) {
      ahead_.clear();
      return false;
    }
    aheadFirst_ = at;
    return true;
  }

  static constexpr size_t kReadAhead = 256;

  StoreRef store_;
  Kind kind_;
  RemovedItems removed_;  // what a purge has kept
  std::vector<int64_t> ids_;
  bool listed_ = false;
  // Rows read ahead: ahead_[k] is the blob of item aheadFirst_ + k (0-based), empty once
  // handed out or when the row was missing.
  std::vector<std::optional<std::string>> ahead_;
  size_t aheadFirst_ = 0;
  std::pair<uint64_t, int64_t> aheadChanges_;
  size_t next_ = 0;  // the index (0-based) that would continue the order
};

class Folder : public ComObject<IFolder> {
 public:
  Folder(StoreRef store, Kind kind)
      : ComObject("com:Folder"), store_(std::move(store)), kind_(kind) {}

  HRESULT get_Items(IPOutlookItemCollection** items) override {
    if (items == nullptr) return E_POINTER;
    *items = nullptr;
    if (FaultNext("items")) return E_FAIL;
    if (!store_->isOpen()) return E_FAIL;
    *items = new Items(store_, kind_);
    return S_OK;
  }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_IFolder; }

 private:
  StoreRef store_;
  Kind kind_;
};

class Application : public ComObject<IPOutlookApp>, public IStoreBatch, public IStoreAddGroups {
 public:
  Application() : ComObject("com:Application") {}

  // IStoreBatch and IStoreAddGroups are further interfaces of the same object.
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object != nullptr && riid == IID_IStoreBatch) {
      AddRef();
      *object = static_cast<IStoreBatch*>(this);
      return S_OK;
    }
    if (object != nullptr && riid == IID_IStoreAddGroups) {
      AddRef();
      *object = static_cast<IStoreAddGroups*>(this);
      return S_OK;
    }
    return ComObject::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ComObject::AddRef(); }
  ULONG Release() override { return ComObject::Release(); }
  HRESULT BeginBatch() override {
    return store_ != nullptr && store_->BeginBatch() ? S_OK : E_FAIL;
  }
  HRESULT EndBatch(VARIANT_BOOL keep) override {
    return store_ != nullptr && store_->EndBatch(keep != VARIANT_FALSE) ? S_OK : E_FAIL;
  }
  // The worker ends a load's grouped adds also while the exit command logs off.
  HRESULT GroupAdds() override {
    const StoreRef store = Store();
    if (store == nullptr) return E_FAIL;
    if (!store->GroupsAdds()) return E_NOTIMPL;
    return store->GroupAdds() ? S_OK : E_FAIL;
  }
  HRESULT KeepAdds(LONG* kept) override {
    if (kept == nullptr) return E_POINTER;
    long held = 0;
    const StoreRef store = Store();
    const bool all = store != nullptr && store->KeepAdds(&held);
    *kept = static_cast<LONG>(held);
    return all ? S_OK : E_FAIL;
  }
  ~Application() override {
    // Objects handed out keep the store open until their own release.
  }

  HRESULT Logon(LONG /*window*/) override {
    if (FaultNext("logon")) {
      SetLastStoreError("the logon was refused (fault injected at \"logon\")");
      return E_FAIL;
    }
    if (store_ == nullptr || !store_->isOpen()) {
      std::string error;
      std::unique_ptr<ItemBackend> file = OpenItemBackend(&error);
      if (file == nullptr) {
        SetLastStoreError(error);
        return E_FAIL;
      }
      std::lock_guard<std::mutex> lock(storeMutex_);
      store_ = std::move(file);
      keeping_ = std::make_shared<UpdateKeeping>();
    }
    SetLastStoreError("");
    return S_OK;
  }

  HRESULT Logoff() override {
    if (store_ != nullptr) store_->Close();
    std::lock_guard<std::mutex> lock(storeMutex_);
    store_.reset();
    return S_OK;
  }

  HRESULT GetDefaultFolder(LONG folder, IFolder** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (FaultNext("folder")) return E_FAIL;
    Kind kind;
    if (!KindOfFolder(folder, &kind)) return E_INVALIDARG;
    if (store_ == nullptr || !store_->OpenFolder(folder)) return E_FAIL;
    *result = new Folder(store_, kind);
    return S_OK;
  }

  HRESULT CreateItem(LONG itemType, IDispatch** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (FaultNext("create")) return E_FAIL;
    Kind kind;
    if (!KindOfItemType(itemType, &kind)) return E_INVALIDARG;
    if (store_ == nullptr || !store_->isOpen()) return E_FAIL;
    *item = MakeItem(store_, FreshValues(kind), 0, 0, keeping_);
    return S_OK;
  }

 protected:
  bool Answers(REFIID riid) const override { return riid == IID_IPOutlookApp; }

 private:
  StoreRef Store() {
    std::lock_guard<std::mutex> lock(storeMutex_);
    return store_;
  }

  StoreRef store_;
  std::mutex storeMutex_;  // store_'s changes, and its reads by GroupAdds and KeepAdds
  KeepingRef keeping_;  // the files of SaveAsUid's replaced versions, per logon
};

HRESULT CreateApplication(REFIID riid, void** object) {
  auto* application = new Application;
  HRESULT hr = application->QueryInterface(riid, object);
  application->Release();
  return hr;
}

[[maybe_unused]] const bool registered =
    (RegisterComClass(CLSID_Application, &CreateApplication), true);

}  // namespace
}  // namespace handheld::store
