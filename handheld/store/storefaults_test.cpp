// Every fault point of the store fires where it says, once, and hands out nothing.
#include <string>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/pimstore.h"
#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::SandboxTest;

class StoreFaultTest : public SandboxTest {
 protected:
  void Arm(const char* list) {
    std::string error;
    ASSERT_TRUE(ArmFaults(list, &error)) << error;
  }
  // Three saved items of each kind; the second appointment repeats and has a recipient.
  void Fill(Session& session) {
    for (int i = 1; i <= 3; ++i) {
      Ref<IContact> contact = session.Create<IContact>(olContactItem);
      contact->put_FirstName(Bstr(std::u16string(1, u'0' + i)));
      contact->Save();
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
  }
};

TEST_F(StoreFaultTest, LogonFolderItemsAndCreateFailOnceAtTheirOccurrence) {
  Arm("logon");
  {
    Session session;
    EXPECT_EQ(session.logon(), E_FAIL);
    EXPECT_NE(LastStoreError().find("logon"), std::string::npos);
    EXPECT_EQ(session.app()->Logon(0), S_OK) << "a fault fires once";
    EXPECT_EQ(LastStoreError(), "");
  }
  Arm("folder:2,items:2,create:3");
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  Ref<IFolder> folder;
  EXPECT_EQ(session.app()->GetDefaultFolder(olFolderContacts, folder.Out()), S_OK);
  Ref<IFolder> failed;
  EXPECT_EQ(session.app()->GetDefaultFolder(olFolderContacts, failed.Out()), E_FAIL);
  EXPECT_FALSE(failed);
  Ref<IPOutlookItemCollection> items;
  EXPECT_EQ(folder->get_Items(items.Out()), S_OK);
  EXPECT_EQ(folder->get_Items(items.Out()), E_FAIL);
  EXPECT_FALSE(items);
  Ref<IContact> item;
  EXPECT_EQ(session.app()->CreateItem(olContactItem, item.OutDispatch()), S_OK);
  EXPECT_EQ(session.app()->CreateItem(olTaskItem, item.OutDispatch()), S_OK);
  EXPECT_EQ(session.app()->CreateItem(olContactItem, item.OutDispatch()), E_FAIL);
  EXPECT_FALSE(item);
  EXPECT_EQ(session.app()->CreateItem(olContactItem, item.OutDispatch()), S_OK);
}

// Item fails for its index, Remove for its occurrence; a read fault names the Nth item
// fetched, and the item's pattern and recipients belong to it.
TEST_F(StoreFaultTest, ItemRemoveAndReadFailOnlyWhereArmedAndOnce) {
  Session session;
  Fill(session);
  Arm("item:2,remove:2");
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  Ref<IContact> contact;
  EXPECT_EQ(items->Item(1, contact.OutDispatch()), S_OK);
  EXPECT_EQ(items->Item(2, contact.OutDispatch()), E_FAIL);
  EXPECT_FALSE(contact);
  EXPECT_EQ(items->Item(2, contact.OutDispatch()), S_OK);
  EXPECT_EQ(items->Remove(3), S_OK);
  EXPECT_EQ(items->Remove(2), E_FAIL);
  EXPECT_EQ(Session::Count(items.get()), 2) << "a failed removal removes nothing";
  EXPECT_EQ(items->Remove(2), S_OK);
  EXPECT_EQ(Session::Count(items.get()), 1);
  contact.Reset();
  items.Reset();
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
  EXPECT_EQ(third->GetRecurrencePattern(pattern.Out()), E_FAIL);
  EXPECT_FALSE(pattern);
  ASSERT_EQ(third->GetRecurrencePattern(pattern.Out()), S_OK);
  LONG number = 0;
  EXPECT_EQ(pattern->get_Interval(&number), E_FAIL);
  EXPECT_EQ(pattern->get_RecurrenceType(&number), S_OK);

  Ref<IContact> fourth = Session::Fetch<IContact>(session.Items(olFolderContacts).get(), 1);
  Census before = TakeCensus();
  EXPECT_EQ(fourth->get_FirstName(&text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(CensusChange(before), "") << "a failing getter hands out nothing";
  Get(fourth, &IContact::get_LastName);

  Ref<ITask> fifth = Session::Fetch<ITask>(session.Items(olFolderTasks).get(), 3);
  EXPECT_EQ(fifth->get_ReminderSet(&flag), E_FAIL);
  EXPECT_EQ(fifth->get_Complete(&flag), S_OK);
}

}  // namespace
}  // namespace handheld::store::testing
