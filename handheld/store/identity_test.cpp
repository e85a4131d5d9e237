// Item identifiers and batches of changes (itemidentity.h, storebatch.h).
#include <sqlite3.h>

#include <set>

#include "handheld/itemidentity.h"
#include "handheld/pimstore.h"
#include "handheld/store/storetest.h"
#include "handheld/storebatch.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::SandboxTest;

template <class T>
Ref<IItemIdentity> Identity(const Ref<T>& item) {
  Ref<IItemIdentity> identity;
  EXPECT_EQ(item->QueryInterface(IID_IItemIdentity, reinterpret_cast<void**>(identity.Out())),
            S_OK);
  return identity;
}

template <class T>
std::u16string Uid(const Ref<T>& item) {
  return Get(Identity(item), &IItemIdentity::get_Uid);
}

std::u16string UidAt(Session& session, LONG folder, INT index) {
  Ref<IPOutlookItemCollection> items = session.Items(folder);
  return Uid(Session::Fetch<IDispatch>(items.get(), index));
}

Ref<IStoreBatch> Batch(Session& session) {
  Ref<IStoreBatch> batch;
  EXPECT_EQ(session.app()->QueryInterface(IID_IStoreBatch, reinterpret_cast<void**>(batch.Out())),
            S_OK);
  return batch;
}

class IdentityTest : public SandboxTest {};

TEST_F(IdentityTest, EveryKindKeepsItsIdentifierAcrossFetchesAndLogons) {
  const LONG kinds[3][2] = {{olContactItem, olFolderContacts},
                            {olAppointmentItem, olFolderCalendar},
                            {olTaskItem, olFolderTasks}};
  std::u16string made[3], given[3];
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int k = 0; k < 3; ++k) {
      // One item asked for its identifier only once saved, one given a foreign one.
      Ref<IDispatch> plain = session.Create<IDispatch>(kinds[k][0]);
      Ref<IDispatch> foreign = session.Create<IDispatch>(kinds[k][0]);
      given[k] = u"urn:uuid:Ёлка/😀;" + std::u16string(1, u'0' + k);
      EXPECT_EQ(Identity(foreign)->put_Uid(Bstr(given[k])), S_OK);
      EXPECT_EQ(Identity(foreign)->put_Uid(Bstr(u"")), E_INVALIDARG);
      // Saved through the kind's own interface: the same object.
      if (k == 0) {
        EXPECT_EQ(static_cast<IContact*>(plain.get())->Save(), S_OK);
        EXPECT_EQ(static_cast<IContact*>(foreign.get())->Save(), S_OK);
      } else if (k == 1) {
        EXPECT_EQ(static_cast<IAppointment*>(plain.get())->Save(), S_OK);
        EXPECT_EQ(static_cast<IAppointment*>(foreign.get())->Save(), S_OK);
      } else {
        EXPECT_EQ(static_cast<ITask*>(plain.get())->Save(), S_OK);
        EXPECT_EQ(static_cast<ITask*>(foreign.get())->Save(), S_OK);
      }
      made[k] = UidAt(session, kinds[k][1], 1);
      EXPECT_EQ(made[k].size(), 36u);
      EXPECT_EQ(made[k][14], u'4');
      EXPECT_EQ(UidAt(session, kinds[k][1], 1), made[k]);
      EXPECT_EQ(UidAt(session, kinds[k][1], 2), given[k]);
    }
    EXPECT_NE(made[0], made[1]);
  }
  Session again;
  ASSERT_EQ(again.logon(), S_OK);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(UidAt(again, kinds[k][1], 1), made[k]);
    EXPECT_EQ(UidAt(again, kinds[k][1], 2), given[k]);
  }
}

TEST_F(IdentityTest, ARemovedItemsIdentifierIsNeverInherited) {
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  std::set<std::u16string> seen;
  for (int round = 0; round < 3; ++round) {
    Ref<IContact> contact = session.Create<IContact>(olContactItem);
    EXPECT_EQ(contact->Save(), S_OK);
    std::u16string uid = Uid(contact);
    EXPECT_EQ(UidAt(session, olFolderContacts, 1), uid);
    EXPECT_TRUE(seen.insert(uid).second) << "round " << round;
    // The last row goes, so the next contact is saved in its place.
    EXPECT_EQ(session.Items(olFolderContacts)->Remove(1), S_OK);
  }
}

TEST_F(IdentityTest, AnIdentifierIsHeldByOneItemOfAFolder) {
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  Ref<IContact> first = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(first)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(first->Save(), S_OK);
  EXPECT_EQ(Identity(first)->put_Uid(Bstr(u"shared")), S_OK);  // its own
  Ref<IContact> second = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(second)->put_Uid(Bstr(u"shared")), handheld::kUidTaken);
  EXPECT_EQ(second->Save(), S_OK);
  EXPECT_NE(Uid(second), u"shared");
  // Another folder is another name space; a removed item lets its identifier go.
  Ref<ITask> task = session.Create<ITask>(olTaskItem);
  EXPECT_EQ(Identity(task)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(session.Items(olFolderContacts)->Remove(1), S_OK);
  EXPECT_EQ(Identity(second)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(second->Save(), S_OK);
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), u"shared");
}

TEST_F(IdentityTest, ABatchIsKeptWholeOrDroppedWhole) {
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  Ref<IStoreBatch> batch = Batch(session);
  EXPECT_EQ(batch->EndBatch(VARIANT_TRUE), E_FAIL);  // none open
  auto addTwo = [&](const char16_t* uid) {
    for (int i = 0; i < 2; ++i) {
      Ref<IContact> contact = session.Create<IContact>(olContactItem);
      if (i == 0) {
        EXPECT_EQ(Identity(contact)->put_Uid(Bstr(uid)), S_OK);
      }
      EXPECT_EQ(contact->Save(), S_OK);
    }
  };
  ASSERT_EQ(batch->BeginBatch(), S_OK);
  EXPECT_EQ(batch->BeginBatch(), E_FAIL);  // one at a time
  addTwo(u"dropped");
  EXPECT_EQ(Session::Count(session.Items(olFolderContacts).get()), 2);  // seen at once
  EXPECT_EQ(batch->EndBatch(VARIANT_FALSE), S_OK);
  EXPECT_EQ(Session::Count(session.Items(olFolderContacts).get()), 0);

  ASSERT_EQ(batch->BeginBatch(), S_OK);
  addTwo(u"kept");
  {
    // Another program sees nothing of an open batch.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(sandbox().storePath().c_str(), &other), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT count(*) FROM contacts", -1, &count, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 0);
    sqlite3_finalize(count);
    sqlite3_close(other);
  }
  EXPECT_EQ(batch->EndBatch(VARIANT_TRUE), S_OK);
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), u"kept");
  EXPECT_EQ(Session::Count(session.Items(olFolderContacts).get()), 2);
}

}  // namespace
}  // namespace handheld::store::testing
