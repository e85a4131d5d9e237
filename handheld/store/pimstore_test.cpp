// The store's object model: persistence, order, removal, defaults, refusals, recurrence
// and recipients.
#include "handheld/pimstore.h"

#include <cmath>
#include <limits>

#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::SandboxTest;

// Every code unit the store must keep: zeros, TAB, CR LF, a lone surrogate, the last unit.
const std::u16string kOddText =
    std::u16string(u"a\0b\tc\r\nd", 8) + u"\xD800" + u"\xFFFF" + u"\u0416\U0001F600";

std::u16string Name(const Ref<IContact>& contact) {
  return contact ? Get(contact, &IContact::get_FirstName) : u"(not fetched)";
}

std::vector<std::u16string> Names(Session& session) {
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  std::vector<std::u16string> names;
  for (INT i = 1; i <= Session::Count(items.get()); ++i) {
    names.push_back(Name(Session::Fetch<IContact>(items.get(), i)));
  }
  return names;
}

class StoreTest : public SandboxTest {};

// Every text as saved (kOddText and a letter per property), FirstName as `first` when given.
void ExpectTexts(const Ref<IContact>& contact, std::u16string_view first = u"") {
  int n = 0;
  auto want = [&](std::string_view name) {
    std::u16string saved = kOddText + std::u16string(1, u'A' + n++);
    return name == "FirstName" && !first.empty() ? std::u16string(first) : saved;
  };
#define CHECK_STRING(Name) EXPECT_EQ(Get(contact, &IContact::get_##Name), want(#Name)) << #Name;
  HANDHELD_CONTACT_STRINGS(CHECK_STRING)
#undef CHECK_STRING
}

// Every text survives a logoff exactly (the dates: the handheld tool's dumps). A fetched
// item hands its texts out from the saved blob until one is changed; a change or a save
// carries every other text along.
TEST_F(StoreTest, EveryContactPropertySurvivesLogoffEditsAndSaves) {
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    Ref<IContact> contact = session.Create<IContact>(olContactItem);
    int n = 0;
#define SET_STRING(Name) \
  EXPECT_EQ(contact->put_##Name(Bstr(kOddText + std::u16string(1, u'A' + n++))), S_OK);
    HANDHELD_CONTACT_STRINGS(SET_STRING)
#undef SET_STRING
    EXPECT_EQ(contact->Save(), S_OK);
  }
  Session session;
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  ASSERT_EQ(Session::Count(items.get()), 1);
  {
    // Saved untouched, then read twice: nothing moves.
    Ref<IContact> contact = Session::Fetch<IContact>(items.get(), 1);
    EXPECT_EQ(contact->Save(), S_OK);
    ExpectTexts(contact);
    ExpectTexts(contact);
  }
  {
    // One text read, another changed: the rest read the same before and after the save.
    Ref<IContact> contact = Session::Fetch<IContact>(items.get(), 1);
    EXPECT_EQ(Get(contact, &IContact::get_LastName), kOddText + u"D");
    EXPECT_EQ(contact->put_FirstName(Bstr(u"Changed")), S_OK);
    ExpectTexts(contact, u"Changed");
    EXPECT_EQ(contact->Save(), S_OK);
    ExpectTexts(contact, u"Changed");
  }
  ExpectTexts(Session::Fetch<IContact>(items.get(), 1), u"Changed");
  {
    // An empty text put over a saved one stays empty.
    Ref<IContact> contact = Session::Fetch<IContact>(items.get(), 1);
    EXPECT_EQ(contact->put_FirstName(nullptr), S_OK);
    EXPECT_EQ(contact->Save(), S_OK);
  }
  Ref<IContact> emptied = Session::Fetch<IContact>(items.get(), 1);
  EXPECT_EQ(Get(emptied, &IContact::get_FirstName), u"");
  EXPECT_EQ(Get(emptied, &IContact::get_LastName), kOddText + u"D");
}

// A collection answers from the items it counted, whatever another program (here another
// connection) removed or saved since: a purge removes exactly those items, skips the
// ones gone already and leaves the ones saved after its count. An item's id is never
// given to another item, so a gone item's place in the list cannot name a newer one.
TEST_F(StoreTest, ACollectionIsTheSnapshotOfWhatItCounted) {
  Session session;
  for (auto name : {u"A", u"B", u"C", u"D"}) SaveContact(session, name);
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  ASSERT_EQ(Session::Count(items.get()), 4);
  Ref<IContact> held = Session::Fetch<IContact>(items.get(), 3);  // out of order: no read-ahead
  {
    Session program;
    Ref<IPOutlookItemCollection> theirs = program.Items(olFolderContacts);
    EXPECT_EQ(theirs->Remove(4), S_OK);
    EXPECT_EQ(theirs->Remove(2), S_OK);
    SaveContact(program, u"E");  // would have taken D's id, had ids been given twice
  }
  Ref<IContact> none;
  EXPECT_EQ(items->Item(2, none.OutDispatch()), E_FAIL) << "B is gone";
  EXPECT_EQ(items->Item(5, none.OutDispatch()), E_INVALIDARG);
  EXPECT_EQ(items->Item(0, none.OutDispatch()), E_INVALIDARG);
  EXPECT_EQ(items->Remove(5), E_INVALIDARG);
  EXPECT_EQ(items->Remove(0), E_INVALIDARG);
  EXPECT_EQ(items->Remove(4), S_FALSE) << "D is gone: nothing removed";
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 3)), u"C");
  EXPECT_EQ(items->Remove(3), S_OK);
  EXPECT_EQ(items->Remove(2), S_FALSE);
  EXPECT_EQ(items->Remove(1), S_OK);
  EXPECT_TRUE(FAILED(held->Save())) << "a removed item does not come back";
  EXPECT_EQ(Names(session), (std::vector<std::u16string>{u"E"}));
  // Count lists the folder again.
  SaveContact(session, u"F");
  EXPECT_EQ(Session::Count(items.get()), 2);
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 2)), u"F");
}

// Items fetched in order are read ahead in batches; what the application writes itself
// and what another program writes are seen at once.
TEST_F(StoreTest, ItemsReadAheadNeverHideAWrite) {
  Session session;
  for (auto name : {u"A", u"B", u"C", u"D", u"E"}) SaveContact(session, name);
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  Ref<IPOutlookItemCollection> other = session.Items(olFolderContacts);
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 1)), u"A");

  // Saved and removed through another collection of the same application after the batch.
  Ref<IContact> c = Session::Fetch<IContact>(other.get(), 3);
  c->put_FirstName(Bstr(u"C2"));
  ASSERT_EQ(c->Save(), S_OK);
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 2)), u"B");
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 3)), u"C2");
  ASSERT_EQ(other->Remove(4), S_OK);
  Ref<IContact> none;
  EXPECT_EQ(items->Item(4, none.OutDispatch()), E_FAIL);
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 5)), u"E");

  // An item handed out already, out of order or twice, still comes whole.
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 2)), u"B");
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 2)), u"B");
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 1)), u"A");

  // Another program (its own connection) changes an item of the batch just read.
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 2)), u"B");
  {
    Session program;
    Ref<IPOutlookItemCollection> theirs = program.Items(olFolderContacts);
    Ref<IContact> e = Session::Fetch<IContact>(theirs.get(), 4);
    e->put_FirstName(Bstr(u"E2"));
    ASSERT_EQ(e->Save(), S_OK);
  }
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 3)), u"C2");
  EXPECT_EQ(Name(Session::Fetch<IContact>(items.get(), 5)), u"E2");
}

TEST_F(StoreTest, NewItemsStartWithTheStoreDefaults) {
  Session session;
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  Ref<IAppointment> a = session.Create<IAppointment>(olAppointmentItem);
  GetLocalTime(&after);
  const DATE start = Get(a, &IAppointment::get_Start);
  SYSTEMTIME fields;
  ASSERT_TRUE(VariantTimeToSystemTime(start, &fields));
  EXPECT_EQ(fields.wMinute + fields.wSecond, 0);
  EXPECT_TRUE(fields.wHour == (before.wHour + 1) % 24 || fields.wHour == (after.wHour + 1) % 24);
  EXPECT_NEAR((Get(a, &IAppointment::get_End) - start) * 24 * 60, 30.0, 1e-6);
  EXPECT_EQ(Get(a, &IAppointment::get_Sensitivity), 0);
  BSTR text = nullptr;
  ASSERT_EQ(a->get_Location(&text), S_OK);
  ASSERT_NE(text, nullptr);  // empty, never null
  EXPECT_EQ(Take(text), u"");
  // The other defaults: the handheld tool's dumps of items added with keys left out.
  EXPECT_EQ(a->put_AllDayEvent(1), S_OK);  // any non-zero is true
  EXPECT_EQ(Get(a, &IAppointment::get_AllDayEvent), VARIANT_TRUE);
  Ref<IContact> none;
  EXPECT_EQ(session.app()->CreateItem(4, none.OutDispatch()), E_INVALIDARG);
  Ref<IFolder> folder;
  EXPECT_EQ(session.app()->GetDefaultFolder(11, folder.Out()), E_INVALIDARG);
}

// Each pair: a value that must be taken, then one that must be refused and leave it.
template <class Object, class Value>
void ExpectRange(Object* object, HRESULT (Object::*put)(Value), HRESULT (Object::*get)(Value*),
                 std::initializer_list<std::pair<Value, Value>> pairs) {
  for (auto [good, bad] : pairs) {
    EXPECT_EQ((object->*put)(good), S_OK) << good;
    EXPECT_EQ((object->*put)(bad), E_INVALIDARG) << bad;
    Value now{};
    (object->*get)(&now);
    EXPECT_EQ(now, good) << "a refused value must leave the property unchanged";
  }
}

TEST_F(StoreTest, SettersRefuseValuesOutsideTheirRanges) {
  Session session;
  Ref<IAppointment> a = session.Create<IAppointment>(olAppointmentItem);
  using A = IAppointment;
  using Longs = std::initializer_list<std::pair<LONG, LONG>>;
  using Dates = std::initializer_list<std::pair<DATE, DATE>>;
  ExpectRange(a.get(), &A::put_BusyStatus, &A::get_BusyStatus, Longs{{3, 4}, {0, -1}});
  ExpectRange(a.get(), &A::put_Sensitivity, &A::get_Sensitivity, Longs{{3, 4}});
  ExpectRange(a.get(), &A::put_ReminderMinutesBeforeStart, &A::get_ReminderMinutesBeforeStart,
              Longs{{0, -1}});
  // Dates: years 100 to 9999, or exactly the store's "no date".
  ExpectRange(a.get(), &A::put_Start, &A::get_Start,
              Dates{{-657434.0, -657435.0}, {2958465.99998, 2958466.0}});
  ExpectRange(a.get(), &A::put_End, &A::get_End,
              Dates{{kNoDate, std::numeric_limits<double>::quiet_NaN()},
                    {0.0, std::numeric_limits<double>::infinity()}});

  Ref<ITask> t = session.Create<ITask>(olTaskItem);
  ExpectRange(t.get(), &ITask::put_Importance, &ITask::get_Importance, Longs{{2, 3}, {0, -1}});
  ExpectRange(t.get(), &ITask::put_Sensitivity, &ITask::get_Sensitivity, Longs{{0, 4}});
  ExpectRange(t.get(), &ITask::put_ReminderTime, &ITask::get_ReminderTime, Dates{{1.0, 1e9}});
  Ref<IContact> c = session.Create<IContact>(olContactItem);
  ExpectRange(c.get(), &IContact::put_Birthday, &IContact::get_Birthday, Dates{{kNoDate, -1e7}});

  Ref<IRecurrencePattern> p;
  ASSERT_EQ(t->GetRecurrencePattern(p.Out()), S_OK);
  using P = IRecurrencePattern;
  ExpectRange(p.get(), &P::put_RecurrenceType, &P::get_RecurrenceType,
              Longs{{6, 4}, {5, 7}, {0, -1}});
  ExpectRange(p.get(), &P::put_Interval, &P::get_Interval, Longs{{999, 1000}, {1, 0}});
  ExpectRange(p.get(), &P::put_DayOfWeekMask, &P::get_DayOfWeekMask, Longs{{127, 128}, {0, -1}});
  ExpectRange(p.get(), &P::put_DayOfMonth, &P::get_DayOfMonth, Longs{{31, 32}, {1, 0}});
  ExpectRange(p.get(), &P::put_Instance, &P::get_Instance, Longs{{5, 6}, {1, 0}});
  ExpectRange(p.get(), &P::put_MonthOfYear, &P::get_MonthOfYear, Longs{{12, 13}, {1, 0}});
  ExpectRange(p.get(), &P::put_Occurrences, &P::get_Occurrences, Longs{{1, 0}});
  ExpectRange(p.get(), &P::put_PatternEndDate, &P::get_PatternEndDate, Dates{{40000.0, 3e6}});
}

TEST_F(StoreTest, RecurrencePatternSharesStateWithItsItem) {
  Session session;
  Ref<ITask> task = session.Create<ITask>(olTaskItem);
  using P = IRecurrencePattern;
  {
    // A fresh pattern: daily, interval 1, masks 0, no end, one occurrence, no dates.
    Ref<P> fresh;
    ASSERT_EQ(task->GetRecurrencePattern(fresh.Out()), S_OK);
    EXPECT_EQ(Get(fresh, &P::get_RecurrenceType), olRecursDaily);
    EXPECT_EQ(Get(fresh, &P::get_Interval), 1);
    for (auto get :
         {&P::get_DayOfWeekMask, &P::get_DayOfMonth, &P::get_Instance, &P::get_MonthOfYear}) {
      EXPECT_EQ(Get(fresh, get), 0);
    }
    EXPECT_EQ(Get(fresh, &P::get_NoEndDate), VARIANT_TRUE);
    EXPECT_EQ(Get(fresh, &P::get_Occurrences), 1);
    EXPECT_EQ(Get(fresh, &P::get_PatternStartDate), kNoDate);
    EXPECT_EQ(Get(fresh, &P::get_PatternEndDate), kNoDate);
    fresh->put_Interval(3);  // no type set: the item still does not repeat
  }
  task->Save();
  EXPECT_EQ(Get(task, &ITask::get_IsRecurring), VARIANT_FALSE);

  // The import's order: open the pattern, set the type, save the item, then release the
  // pattern. IsRecurring tells the saved state only.
  Ref<P> pattern;
  ASSERT_EQ(task->GetRecurrencePattern(pattern.Out()), S_OK);
  pattern->put_RecurrenceType(olRecursWeekly);
  EXPECT_EQ(Get(task, &ITask::get_IsRecurring), VARIANT_FALSE);
  ASSERT_EQ(task->Save(), S_OK);
  EXPECT_EQ(Get(task, &ITask::get_IsRecurring), VARIANT_TRUE);
  pattern.Reset();
  task.Reset();

  Ref<IPOutlookItemCollection> items = session.Items(olFolderTasks);
  Ref<ITask> saved = Session::Fetch<ITask>(items.get(), 1);
  EXPECT_EQ(Get(saved, &ITask::get_IsRecurring), VARIANT_TRUE);
  Ref<P> first, second;
  ASSERT_EQ(saved->GetRecurrencePattern(first.Out()), S_OK);
  ASSERT_EQ(saved->GetRecurrencePattern(second.Out()), S_OK);
  EXPECT_EQ(Get(first, &P::get_Interval), 3);
  first->put_DayOfWeekMask(64);
  EXPECT_EQ(Get(second, &P::get_DayOfWeekMask), 64) << "two patterns of one item are one";
}

TEST_F(StoreTest, RecipientsAddRemoveAndResolve) {
  Session session;
  SaveContact(session, u"Ann", u"Lee", u"ann@example.org");
  SaveContact(session, u"Bob", u"", u"bob@example.org");
  SaveContact(session, u"Nomail", u"Person");
  {
    Ref<IContact> unsaved = session.Create<IContact>(olContactItem);
    unsaved->put_Email1Address(Bstr(u"ghost@example.org"));
    unsaved->put_FirstName(Bstr(u"Ghost"));
  }

  Ref<IAppointment> appointment = session.Create<IAppointment>(olAppointmentItem);
  Ref<IRecipients> recipients;
  ASSERT_EQ(appointment->get_Recipients(recipients.Out()), S_OK);
  // Each name, whether Resolve resolves it, and the address it then has.
  const struct {
    const char16_t* name;
    bool resolved;
    const char16_t* address;
  } cases[] = {{u"Ann Lee", true, u"ann@example.org"},
               {u"bob@example.org", true, u"bob@example.org"},
               {u"x@y", true, u"x@y"},
               {u"Ghost", false, u""},  // not saved
               {u"", false, u""},
               {u"Bob", true, u"bob@example.org"},
               {u"Nomail Person", true, u""},
               {u"ann lee", false, u""}};
  for (const auto& c : cases) {
    Ref<IRecipient> added;
    ASSERT_EQ(recipients->Add(Bstr(c.name), added.Out()), S_OK);
    EXPECT_EQ(Get(added, &IRecipient::get_Address), u"") << "a new recipient is unresolved";
  }
  for (INT i = 1; i <= 8; ++i) {
    Ref<IRecipient> recipient;
    Ref<IPOlRecipient> resolvable;
    ASSERT_EQ(recipients->Item(i, recipient.Out()), S_OK);
    ASSERT_EQ(
        recipient->QueryInterface(IID_IPOlRecipient, reinterpret_cast<void**>(resolvable.Out())),
        S_OK);
    VARIANT_BOOL resolved = 0;
    ASSERT_EQ(resolvable->Resolve(VARIANT_TRUE, &resolved), S_OK);
    EXPECT_EQ(resolved, cases[i - 1].resolved ? VARIANT_TRUE : VARIANT_FALSE) << i;
    EXPECT_EQ(Get(recipient, &IRecipient::get_Address), cases[i - 1].address) << i;
  }
  Ref<IRecipient> none;
  EXPECT_EQ(recipients->Item(0, none.Out()), E_INVALIDARG);
  EXPECT_EQ(recipients->Item(9, none.Out()), E_INVALIDARG);
  EXPECT_EQ(recipients->Remove(9), E_INVALIDARG);
  // Remove from the top down, as the import drops unresolved recipients.
  for (INT i : {8, 5, 4}) EXPECT_EQ(recipients->Remove(i), S_OK);
  EXPECT_EQ(Get(recipients, &IRecipients::get_Count), 5);
  // Saved with their item: the records' appointment test.
}

// Objects answer their own interfaces, outlive the item and the logoff that made them,
// and then fail cleanly.
TEST_F(StoreTest, ObjectsAnswerTheirInterfacesAndOutliveTheLogoff) {
  Session session;
  Ref<IContact> contact = session.Create<IContact>(olContactItem);
  void* answer = nullptr;
  for (const IID* iid : {&IID_IContact, &IID_IDispatch, &IID_IUnknown}) {
    ASSERT_EQ(contact->QueryInterface(*iid, &answer), S_OK);
    EXPECT_EQ(answer, contact.get());
    contact->Release();
  }
  EXPECT_EQ(contact->QueryInterface(IID_ITask, &answer), E_NOINTERFACE);
  EXPECT_EQ(answer, nullptr);
  Ref<IAppointment> appointment = session.Create<IAppointment>(olAppointmentItem);
  Ref<IRecipients> recipients;
  appointment->get_Recipients(recipients.Out());
  Ref<IPOutlookItemCollection> items = session.Items(olFolderTasks);
  appointment.Reset();
  session.app()->Logoff();
  EXPECT_EQ(contact->Save(), E_FAIL);
  INT count = 0;
  EXPECT_EQ(items->get_Count(&count), E_FAIL);
  EXPECT_EQ(recipients->Add(Bstr(u"y"), nullptr), S_OK);
}

}  // namespace
}  // namespace handheld::store::testing
