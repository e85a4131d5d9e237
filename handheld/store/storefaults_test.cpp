// Every fault point of the store fires where it says, once, and hands out nothing (what a
// failing call would leak, the fixture's census check sees).
#include <string>

#include "handheld/faults.h"
#include "handheld/pimstore.h"
#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

class StoreFaultTest : public handheld::testing::SandboxTest {
 protected:
  void Arm(const char* list) {
    std::string error;
    ASSERT_TRUE(ArmFaults(list, &error)) << error;
  }
};

// Of the calls call(1), call(2), ... only the `at`-th fails, and hands out nothing:
// `handedOut()` tells whether the call before handed an object out.
template <class Call, class HandedOut>
void FailsOnlyAt(int at, Call call, HandedOut handedOut) {
  for (int n = 1; n <= at + 1; ++n) {
    EXPECT_EQ(call(n), n == at ? E_FAIL : S_OK) << n;
    EXPECT_EQ(handedOut(), n != at) << n;
  }
}

TEST_F(StoreFaultTest, EachPointFailsOnlyWhereArmedAndOnce) {
  Arm("logon");
  Session session;
  EXPECT_EQ(session.logon(), E_FAIL);
  EXPECT_NE(LastStoreError().find("logon"), std::string::npos);
  ASSERT_EQ(session.app()->Logon(0), S_OK) << "a fault fires once";
  EXPECT_EQ(LastStoreError(), "");
  // Three saved items of each kind; the second appointment repeats and has a recipient.
  for (int i = 1; i <= 3; ++i) {
    SaveContact(session, std::u16string(1, u'0' + i));
    Ref<IAppointment> appointment = session.Create<IAppointment>(olAppointmentItem);
    if (i == 2) {
      Ref<IRecurrencePattern> pattern;
      appointment->GetRecurrencePattern(pattern.Out());
      pattern->put_RecurrenceType(olRecursDaily);
      Ref<IRecipients> recipients;
      appointment->get_Recipients(recipients.Out());
      recipients->Add(Bstr(u"r"), nullptr);
    }
    appointment->Save();
    session.Create<ITask>(olTaskItem)->Save();
  }
  Arm("folder:2,items:2,create:3,item:2,remove:2");
  Ref<IFolder> folder;
  FailsOnlyAt(
      2, [&](int) { return session.app()->GetDefaultFolder(olFolderContacts, folder.Out()); },
      [&] { return !!folder; });
  Ref<IPOutlookItemCollection> items;
  FailsOnlyAt(2, [&](int) { return folder->get_Items(items.Out()); }, [&] { return !!items; });
  Ref<IDispatch> item;
  FailsOnlyAt(  // counted over every kind
      3,
      [&](int n) {
        return session.app()->CreateItem(n % 2 ? olContactItem : olTaskItem, item.Out());
      },
      [&] { return !!item; });
  // Item fails for its index, Remove for its occurrence.
  FailsOnlyAt(2, [&](int n) { return items->Item(n == 3 ? 2 : n, item.Out()); },
              [&] { return !!item; });
  item.Reset();
  EXPECT_EQ(items->Remove(3), S_OK);
  EXPECT_EQ(items->Remove(2), E_FAIL);
  EXPECT_EQ(items->Remove(2), S_OK);
  items.Reset();

  // A read fault names the Nth item fetched; the item's pattern and recipients belong to it.
  Arm("read:Recipients:1,read:Count:2,read:Name:2,read:IsRecurring:2,pattern:3,"
      "read:Interval:3,read:FirstName:4,read:ReminderSet:5");
  // Created items have no fetch ordinal and never fail a read.
  Get(session.Create<IContact>(olContactItem), &IContact::get_FirstName);
  Ref<IPOutlookItemCollection> calendar = session.Items(olFolderCalendar);
  Ref<IRecipients> recipients;
  Ref<IAppointment> first = Session::Fetch<IAppointment>(calendar.get(), 2);
  EXPECT_EQ(first->get_Recipients(recipients.Out()), E_FAIL);
  EXPECT_FALSE(recipients);
  EXPECT_EQ(Get(first, &IAppointment::get_IsRecurring), VARIANT_TRUE);

  Ref<IAppointment> second = Session::Fetch<IAppointment>(calendar.get(), 2);
  ASSERT_EQ(second->get_Recipients(recipients.Out()), S_OK);
  INT count = 0;
  EXPECT_EQ(recipients->get_Count(&count), E_FAIL);
  Ref<IRecipient> recipient;
  ASSERT_EQ(recipients->Item(1, recipient.Out()), S_OK);
  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(recipient->get_Name(&text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  Get(recipient, &IRecipient::get_Address);
  VARIANT_BOOL flag = 0;
  EXPECT_EQ(second->get_IsRecurring(&flag), E_FAIL);
  EXPECT_EQ(Get(second, &IAppointment::get_IsRecurring), VARIANT_TRUE) << "a fault fires once";

  Ref<IAppointment> third = Session::Fetch<IAppointment>(calendar.get(), 2);
  Ref<IRecurrencePattern> pattern;
  FailsOnlyAt(1, [&](int) { return third->GetRecurrencePattern(pattern.Out()); },
              [&] { return !!pattern; });
  LONG number = 0;
  EXPECT_EQ(pattern->get_Interval(&number), E_FAIL);
  EXPECT_EQ(pattern->get_RecurrenceType(&number), S_OK);

  Ref<IContact> fourth = Session::Fetch<IContact>(session.Items(olFolderContacts).get(), 1);
  EXPECT_EQ(fourth->get_FirstName(&text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  Get(fourth, &IContact::get_LastName);

  Ref<ITask> fifth = Session::Fetch<ITask>(session.Items(olFolderTasks).get(), 3);
  EXPECT_EQ(fifth->get_ReminderSet(&flag), E_FAIL);
  EXPECT_EQ(fifth->get_Complete(&flag), S_OK);
}

}  // namespace
}  // namespace handheld::store::testing
