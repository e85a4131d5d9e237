// Item identifiers and batches of changes (itemidentity.h, storebatch.h).
#include <sqlite3.h>

#include <filesystem>

#include "handheld/faults.h"
#include "handheld/itemidentity.h"
#include "handheld/itemkeeping.h"
#include "handheld/pimstore.h"
#include "handheld/store/store_test_support.h"
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

// Items saved without an identifier are named by their values and their rank among equal
// items: another store loaded alike names them alike, and a name held already is passed
// over.
TEST_F(IdentityTest, ItemsWithoutOneAreNamedByTheirValuesAndRank) {
  std::vector<std::u16string> uids[2];
  for (int store = 0; store < 2; ++store) {
    setenv("HANDHELD_STORE", sandbox().path("store" + std::to_string(store) + ".db").c_str(), 1);
    Session session;
    for (auto name : {u"X", u"Y", u"X"}) SaveContact(session, name);
    for (INT i : {3, 1, 2}) uids[store].push_back(UidAt(session, olFolderContacts, i));
    if (store == 1) {
      // The first X goes and another comes: its rank's name is the second X's already.
      EXPECT_EQ(session.Items(olFolderContacts)->Remove(1), S_OK);
      SaveContact(session, u"X");
      EXPECT_NE(UidAt(session, olFolderContacts, 3), uids[1][0]);
      EXPECT_EQ(UidAt(session, olFolderContacts, 2), uids[1][0]);
    }
  }
  EXPECT_EQ(uids[0], uids[1]);
  EXPECT_EQ(uids[0][0].size(), 36u);
  EXPECT_EQ(uids[0][0][14], u'5');  // a UUID made from a name
  EXPECT_NE(uids[0][0], uids[0][1]);
  EXPECT_NE(uids[0][0], uids[0][2]);
}

// SaveAsUid: a new item under a UID no item holds is added; under one an item holds, that
// item takes its values in place, its saved version kept first (the updates of a logon in
// one file), or is left alone, unwritten, when nothing differs; a version that cannot be
// kept changes nothing.
TEST_F(IdentityTest, SaveAsUidAddsUpdatesOrLeavesAlone) {
  Session session;
  auto saveAs = [&](const char16_t* name, LONG* outcome) {
    Ref<IContact> contact = session.Create<IContact>(olContactItem);
    contact->put_FirstName(Bstr(name));
    return Identity(contact)->SaveAsUid(Bstr(u"a"), outcome);
  };
  auto nameOf = [&](INT index) {
    return Get(Session::Fetch<IContact>(session.Items(olFolderContacts).get(), index),
               &IContact::get_FirstName);
  };
  LONG outcome = -1;
  EXPECT_EQ(saveAs(u"Ann", &outcome), S_OK);
  EXPECT_EQ(outcome, kItemAdded);
  SaveContact(session, u"Bo");
  sqlite3* other = nullptr;  // sees every commit
  ASSERT_EQ(sqlite3_open(sandbox().storePath().c_str(), &other), SQLITE_OK);
  auto dataVersion = [&] {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(other, "PRAGMA data_version", -1, &s, nullptr);
    sqlite3_step(s);
    const int version = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return version;
  };
  const int before = dataVersion();
  EXPECT_EQ(saveAs(u"Ann", &outcome), S_OK);
  EXPECT_EQ(outcome, kItemUnchanged);
  EXPECT_EQ(dataVersion(), before);
  sqlite3_close(other);

  EXPECT_EQ(saveAs(u"Anna", &outcome), S_OK);
  EXPECT_EQ(outcome, kItemUpdated);
  std::string error;  // the update after it: its version is added to the same file
  ASSERT_TRUE(ArmFaults("keep", &error)) << error;
  EXPECT_EQ(saveAs(u"Anya", &outcome), kNotKept);
  EXPECT_EQ(nameOf(1), u"Anna");
  EXPECT_EQ(saveAs(u"Anya", &outcome), S_OK);  // the fault fires once
  EXPECT_EQ(nameOf(1), u"Anya");
  EXPECT_EQ(nameOf(2), u"Bo");
  EXPECT_EQ(Session::Count(session.Items(olFolderContacts).get()), 2);
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), u"a");
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(sandbox().removedPath())) {
    kept.push_back(handheld::testing::ReadFileBytes(entry.path().string()));
  }
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_LT(kept[0].find("N:;Ann;"), kept[0].find("N:;Anna;")) << kept[0];
  EXPECT_EQ(kept[0].find("Anya"), std::string::npos) << kept[0];
  EXPECT_NE(kept[0].find("UID:a\r\n"), kept[0].rfind("UID:a\r\n"));  // each under its UID

  // An identifier given before is not the one kept: the holder's stays.
  Ref<IContact> given = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(given)->put_Uid(Bstr(u"c")), S_OK);
  EXPECT_EQ(Identity(given)->SaveAsUid(Bstr(u"a"), &outcome), S_OK);
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), u"a");
  Ref<IContact> saved = Session::Fetch<IContact>(session.Items(olFolderContacts).get(), 2);
  EXPECT_EQ(Identity(saved)->SaveAsUid(Bstr(u"b"), &outcome), E_FAIL);
  EXPECT_EQ(Identity(saved)->SaveAsUid(Bstr(u""), &outcome), E_INVALIDARG);
}

// A reminder that is off takes a lead that is put, as a difference. (Without one, the
// holder's lead stands: the interop engine's imports of their own exports.)
TEST_F(IdentityTest, AnOffReminderTakesALeadThatIsPut) {
  Session session;
  for (LONG lead : {60, 5}) {
    Ref<IAppointment> item = session.Create<IAppointment>(olAppointmentItem);
    item->put_ReminderSet(VARIANT_FALSE);
    item->put_ReminderMinutesBeforeStart(lead);
    LONG outcome = -1;
    EXPECT_EQ(Identity(item)->SaveAsUid(Bstr(u"r"), &outcome), S_OK);
    EXPECT_EQ(outcome, lead == 60 ? kItemAdded : kItemUpdated);
  }
  EXPECT_EQ(Get(Session::Fetch<IAppointment>(session.Items(olFolderCalendar).get(), 1),
                &IAppointment::get_ReminderMinutesBeforeStart),
            5);
}

// A store file of the first version handed out the id of a removed last item again. It
// is brought up to date at the first logon with its items, their order and identifiers,
// and from then on a list taken before a removal cannot name a newer item.
TEST_F(IdentityTest, AnOldStoreKeepsItsItemsAndNeverGivesAnIdTwice) {
  std::u16string uid;
  {
    Session session;
    for (auto name : {u"A", u"B", u"C"}) SaveContact(session, name);
    uid = UidAt(session, olFolderContacts, 1);
  }
  sqlite3* old = nullptr;
  ASSERT_EQ(sqlite3_open(sandbox().storePath().c_str(), &old), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(old,
                         "BEGIN; CREATE TABLE c(id INTEGER PRIMARY KEY, data BLOB NOT NULL,"
                         " email BLOB, fullname BLOB); INSERT INTO c SELECT * FROM contacts;"
                         "DROP TABLE contacts; ALTER TABLE c RENAME TO contacts;"
                         "CREATE TRIGGER contacts_forget_uid AFTER DELETE ON contacts BEGIN"
                         " DELETE FROM item_uids WHERE folder=10 AND id=old.id; END;"
                         "PRAGMA user_version=1; COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(old);

  Session session;
  ASSERT_EQ(session.logon(), S_OK) << LastStoreError();
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  ASSERT_EQ(Session::Count(items.get()), 3);
  EXPECT_EQ(Get(Session::Fetch<IContact>(items.get(), 3), &IContact::get_FirstName), u"C");
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), uid);
  {
    Session program;
    EXPECT_EQ(program.Items(olFolderContacts)->Remove(3), S_OK);
    SaveContact(program, u"D");
  }
  EXPECT_EQ(items->Remove(3), S_FALSE);
  EXPECT_EQ(Session::Count(items.get()), 3);
  // The identifiers' triggers came along: a removed item lets its identifier go.
  EXPECT_EQ(items->Remove(1), S_OK);
  Ref<IContact> heir = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(heir)->put_Uid(Bstr(uid)), S_OK);
}

// What each kind's items keep of their identifiers through logons: the tools' and the
// interop tests' exports and imports.
TEST_F(IdentityTest, AnIdentifierIsHeldByOneItemOfAFolder) {
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  Ref<IContact> first = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(first)->put_Uid(Bstr(u"")), E_INVALIDARG);
  EXPECT_EQ(Identity(first)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(first->Save(), S_OK);
  EXPECT_EQ(Identity(first)->put_Uid(Bstr(u"shared")), S_OK);  // its own
  Ref<IContact> second = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(second)->put_Uid(Bstr(u"shared")), handheld::kUidTaken);
  EXPECT_EQ(second->Save(), S_OK);
  EXPECT_NE(Uid(second), u"shared");
  // Given while no item held it, then taken by another before the save: the save fails
  // and the holder keeps it.
  Ref<IContact> early = session.Create<IContact>(olContactItem);
  Ref<IContact> late = session.Create<IContact>(olContactItem);
  EXPECT_EQ(Identity(early)->put_Uid(Bstr(u"raced")), S_OK);
  EXPECT_EQ(Identity(late)->put_Uid(Bstr(u"raced")), S_OK);
  EXPECT_EQ(late->Save(), S_OK);
  EXPECT_EQ(early->Save(), E_FAIL);
  EXPECT_EQ(UidAt(session, olFolderContacts, 3), u"raced");
  // Another folder is another name space; a removed item lets its identifier go.
  Ref<ITask> task = session.Create<ITask>(olTaskItem);
  EXPECT_EQ(Identity(task)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(session.Items(olFolderContacts)->Remove(1), S_OK);
  EXPECT_EQ(Identity(second)->put_Uid(Bstr(u"shared")), S_OK);
  EXPECT_EQ(second->Save(), S_OK);
  EXPECT_EQ(UidAt(session, olFolderContacts, 1), u"shared");
}

// One batch at a time. What a dropped batch leaves (nothing) and a kept one (all): the
// interop engine's imports that stop, which hold their changes in one.
TEST_F(IdentityTest, ABatchIsOneAtATime) {
  Session session;
  Ref<IStoreBatch> batch = Batch(session);
  EXPECT_EQ(batch->EndBatch(VARIANT_TRUE), E_FAIL);  // none open
  ASSERT_EQ(batch->BeginBatch(), S_OK);
  EXPECT_EQ(batch->BeginBatch(), E_FAIL);
  EXPECT_EQ(batch->EndBatch(VARIANT_FALSE), S_OK);
}

}  // namespace
}  // namespace handheld::store::testing
