// The store in Evolution Data Server (HANDHELD_STORE=eds:...) as the tools use it: the real
// quillmote-batch and handheld run as child processes against this program's private data
// server, and what they leave there is read back through EDS's own clients and tools.
#include <gtest/gtest.h>
#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handheld/eds/eds.h"
#include "handheld/eds/eds_test_support.h"
#include "handheld/process.h"
#include "handheld/testing/sandbox.h"

namespace handheld::eds {
namespace {

using handheld::testing::BinDir;
using handheld::testing::ReadFileBytes;
using Result = testing::Ran;

const std::string kExamples = QUILLMOTE_EXAMPLES_DIR;

// The records of a backup file (UTF-16LE behind its mark, one record a CRLF line), each
// split at its tabs.
std::vector<std::vector<std::string>> Records(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  std::vector<std::vector<std::string>> records;
  for (size_t at = 0, end; (end = text.find(u"\r\n", at)) != std::u16string::npos; at = end + 2) {
    std::vector<std::string> fields(1);
    for (char16_t c : text.substr(at, end - at)) {
      if (c == u'\t') {
        fields.emplace_back();
      } else {
        fields.back() += handheld::testing::U8(std::u16string(1, c));
      }
    }
    records.push_back(std::move(fields));
  }
  return records;
}

// A contact as "given|middle|family|emails|phones", the lists sorted: from a backup record
// (its columns) or from a vCard as EDS's own parser reads it.
std::string Person(std::string given, std::string middle, std::string family,
                   std::vector<std::string> emails, std::vector<std::string> phones) {
  std::string text = given + "|" + middle + "|" + family + "|";
  for (auto* list : {&emails, &phones}) {
    list->erase(std::remove(list->begin(), list->end(), ""), list->end());
    std::sort(list->begin(), list->end());
    for (const std::string& item : *list) text += item + ",";
    text += "|";
  }
  return text;
}
std::string Person(const std::vector<std::string>& r) {
  std::vector<std::string> phones;
  for (int column : {6, 11, 12, 29, 30, 31, 38, 45, 46, 47, 48}) phones.push_back(r.at(column));
  return Person(r.at(1), r.at(2), r.at(3), {r.at(7), r.at(23), r.at(24)}, phones);
}
std::string Person(EContact* contact) {
  auto* name = static_cast<EContactName*>(e_contact_get(contact, E_CONTACT_NAME));
  auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
  std::vector<std::string> emails, phones;
  for (auto [field, list] : {std::pair(EVC_EMAIL, &emails), std::pair(EVC_TEL, &phones)}) {
    for (GList* a = e_vcard_get_attributes(E_VCARD(contact)); a != nullptr; a = a->next) {
      auto* attribute = static_cast<EVCardAttribute*>(a->data);
      if (g_ascii_strcasecmp(e_vcard_attribute_get_name(attribute), field) != 0) continue;
      gchar* value = e_vcard_attribute_get_value(attribute);
      list->push_back(text(value));
      g_free(value);
    }
  }
  std::string person =
      Person(text(name ? name->given : nullptr), text(name ? name->additional : nullptr),
             text(name ? name->family : nullptr), emails, phones);
  e_contact_name_free(name);
  return person;
}

// Every contact of an open address book, UID to vCard text.
std::map<std::string, std::string> Cards(EBookClient* book) {
  std::map<std::string, std::string> cards;
  GSList* contacts = nullptr;
  EXPECT_TRUE(e_book_client_get_contacts_sync(book, "", &contacts, nullptr, nullptr));
  for (GSList* c = contacts; c != nullptr; c = c->next) {
    auto* contact = static_cast<EContact*>(c->data);
    gchar* card = e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30);
    cards[static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID))] = card;
    g_free(card);
  }
  g_slist_free_full(contacts, g_object_unref);
  return cards;
}

class EdsStoreTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_;
  }
  void TearDown() override {
    clients_.clear();
    registry_.reset();
    SandboxTest::TearDown();
  }
  Client& Open(Kind kind, const std::string& uid) {
    clients_.push_back(registry_->Open(kind, uid, kDefaultLimit, &error_));
    EXPECT_TRUE(clients_.back()) << error_;
    return *clients_.back();
  }
  // quillmote-batch on the store `store` (the tools' own for HANDHELD_STORE).
  Result BatchOn(const std::string& store, const std::vector<std::string>& args,
                 const std::string& zone = "", const std::string& faults = "") {
    std::vector<std::string> env = {"HANDHELD_STORE=" + store};
    if (!zone.empty()) env.push_back("TZ=" + zone);
    if (!faults.empty()) env.push_back("HANDHELD_FAULTS=" + faults);
    std::vector<std::string> argv = {BinDir() + "/quillmote-batch"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::RunChild(argv, env);
  }

  std::string error_;
  std::unique_ptr<Registry> registry_;
  std::vector<std::unique_ptr<Client>> clients_;
};

// Store file -> backup -> EDS's default source (emptied first) -> backup again gives the
// same bytes, for each kind and in zones on either side of UTC; and EDS's own exporter
// reads the loaded contacts as the backup has them. The zone that counts is the tools':
// EDS keeps each time with its TZID and VTIMEZONE, and its factories run in this
// program's zone, whatever that is.
TEST_F(EdsStoreTest, EveryKindRoundTripsThroughEdsInThreeZones) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
    const std::string file = sandbox().path(std::string(zone).substr(0, 4) + ".db");
    for (const std::string kind : {"contacts", "calendar", "tasks"}) {
      SCOPED_TRACE(std::string(zone) + " " + kind);
      const std::string saved = sandbox().path(kind + "-file.txt");
      const std::string again = sandbox().path(kind + "-eds.txt");
      const Result added = testing::RunChild({BinDir() + "/handheld", "add", kind},
                                             {"HANDHELD_STORE=" + file, std::string("TZ=") + zone},
                                             ReadFileBytes(kExamples + "/" + kind + ".jsonl"));
      ASSERT_EQ(added.status, 0) << added.err;
      for (const auto& [store, args] :
           {std::pair(file, std::vector<std::string>{"--overwrite", "save-" + kind, saved}),
            std::pair(std::string("eds:"),
                      std::vector<std::string>{"--replace", "load-" + kind, saved}),
            std::pair(std::string("eds:"),
                      std::vector<std::string>{"--overwrite", "save-" + kind, again})}) {
        const Result ran = BatchOn(store, args, zone);
        ASSERT_EQ(ran.status, 0) << args[1] << ": " << ran.out << ran.err;
      }
      EXPECT_EQ(Records(saved).size(), 3u);
      EXPECT_TRUE(ReadFileBytes(saved) == ReadFileBytes(again)) << "the backups differ";
      if (kind != "contacts") continue;
      handheld::ChildStart launch;  // EDS's exporter, of the default address book
      launch.argv = {"/usr/libexec/evolution-data-server/addressbook-export"};
      launch.out = sandbox().path("exported.vcf");
      ASSERT_EQ(handheld::WaitChild(handheld::StartChild(launch)), 0);
      const std::string exported = ReadFileBytes(launch.out);
      std::multiset<std::string> inEds, inBackup;
      for (size_t at = 0, end; (at = exported.find("BEGIN:VCARD", at)) != std::string::npos &&
                               (end = exported.find("END:VCARD", at)) != std::string::npos;
           at = end) {
        EContact* contact = e_contact_new_from_vcard(exported.substr(at, end + 9 - at).c_str());
        inEds.insert(Person(contact));
        g_object_unref(contact);
      }
      for (const auto& record : Records(saved)) inBackup.insert(Person(record));
      EXPECT_EQ(inEds, inBackup);
    }
  }
}

// What an EDS item holds beyond the store's values (a photo, a second work address, a
// series' exception) stays byte for byte through a load of other items and a save, and
// through an update of the item itself; the save says what the backup does not carry.
TEST_F(EdsStoreTest, WhatOnlyEdsHoldsSurvivesLoadSaveAndUpdate) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:kept-photo\r\nN:Fotografova;Irina;;;\r\n"
      "FN:Irina Fotografova\r\nEMAIL;TYPE=INTERNET:irina@example.org\r\n"
      "ADR;TYPE=WORK:;;1 First Office;Worktown;;11111;\r\n"
      "ADR;TYPE=WORK:;;2 Second Office;Worktown;;22222;\r\n"
      "PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\nEND:VCARD\r\n";
  EBookClient* book = Open(Kind::kAddressBook, "system-address-book").book();
  ECalClient* calendar = Open(Kind::kCalendar, "system-calendar").calendar();
  EContact* contact = e_contact_new_from_vcard(card.c_str());
  ASSERT_TRUE(e_book_client_add_contact_sync(book, contact, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                             nullptr, nullptr));
  g_object_unref(contact);
  ICalComponent* series = i_cal_component_new_from_string(
      "BEGIN:VEVENT\r\nUID:kept-series\r\nDTSTAMP:20260101T000000Z\r\n"
      "DTSTART:20260105T090000Z\r\nDTEND:20260105T100000Z\r\nSUMMARY:Stand-up\r\n"
      "RRULE:FREQ=DAILY;COUNT=5\r\nEXDATE:20260107T090000Z\r\nEND:VEVENT\r\n");
  ASSERT_TRUE(e_cal_client_create_object_sync(calendar, series, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                              nullptr, nullptr));
  g_object_unref(series);
  // One occurrence moved: the series is listed in parts, and saved by its master.
  ICalComponent* moved = i_cal_component_new_from_string(
      "BEGIN:VEVENT\r\nUID:kept-series\r\nRECURRENCE-ID:20260106T090000Z\r\n"
      "DTSTAMP:20260101T000000Z\r\nDTSTART:20260106T110000Z\r\nDTEND:20260106T120000Z\r\n"
      "SUMMARY:Stand-up moved\r\nEND:VEVENT\r\n");
  ASSERT_TRUE(e_cal_client_modify_object_sync(calendar, moved, E_CAL_OBJ_MOD_THIS,
                                              E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr));
  g_object_unref(moved);
  auto event = [&] {
    ICalComponent* held = nullptr;
    EXPECT_TRUE(
        e_cal_client_get_object_sync(calendar, "kept-series", nullptr, &held, nullptr, nullptr));
    gchar* text = held != nullptr ? i_cal_component_as_ical_string(held) : nullptr;
    const std::string copy = text != nullptr ? text : "";
    g_free(text);
    if (held != nullptr) g_object_unref(held);
    return copy;
  };
  const std::string cardBefore = Cards(book)["kept-photo"], eventBefore = event();
  ASSERT_NE(cardBefore.find("PHOTO"), std::string::npos);
  ASSERT_NE(eventBefore.find("EXDATE"), std::string::npos);

  for (const std::string kind : {"contacts", "calendar"}) {
    const Result loaded = BatchOn("eds:", {"load-" + kind, kExamples + "/" + kind + ".txt"});
    EXPECT_EQ(loaded.status, 0) << loaded.out << loaded.err;
    const Result saved = BatchOn("eds:", {"--overwrite", "save-" + kind, sandbox().path(kind)});
    EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
    if (kind == "contacts") {
      EXPECT_NE(saved.err.find("1 contact read from Evolution Data Server holds more than a "
                               "backup file carries; that stays in Evolution Data Server only:"),
                std::string::npos)
          << saved.err;
      EXPECT_NE(saved.err.find("PHOTO"), std::string::npos) << saved.err;
      bool found = false;
      for (const auto& record : Records(sandbox().path(kind))) found |= record.at(1) == "Irina";
      EXPECT_TRUE(found) << "the contact is not in the backup";
    } else {
      int series = 0;
      for (const auto& record : Records(sandbox().path(kind))) {
        series += std::count(record.begin(), record.end(), "Stand-up");
        EXPECT_EQ(std::count(record.begin(), record.end(), "Stand-up moved"), 0);
      }
      EXPECT_EQ(series, 1);
    }
  }
  EXPECT_EQ(Cards(book)["kept-photo"], cardBefore);
  EXPECT_EQ(event(), eventBefore);

  // A changed version from a vCard file: the new address replaces the old, the rest stays.
  std::string changed = card;
  changed.replace(changed.find("irina@"), 6, "irina.new@");
  changed.erase(changed.find("ADR;TYPE=WORK:;;2"),
                changed.find("PHOTO") - changed.find("ADR;TYPE=WORK:;;2"));
  changed.erase(changed.find("PHOTO"), changed.find("END:") - changed.find("PHOTO"));
  handheld::testing::WriteFileBytes(sandbox().path("changed.vcf"), changed);
  const Result imported = testing::RunChild(
      {BinDir() + "/handheld", "import", "contacts", sandbox().path("changed.vcf")},
      {"HANDHELD_STORE=eds:"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_NE(imported.out.find("0 added, 1 updated"), std::string::npos) << imported.out;
  auto withoutRevision = [](std::string card) {
    const size_t at = card.find("\nREV:");
    return at == std::string::npos ? card : card.erase(at, card.find('\n', at + 1) - at);
  };
  std::string expected = withoutRevision(cardBefore);
  expected.replace(expected.find("irina@"), 6, "irina.new@");
  EXPECT_EQ(withoutRevision(Cards(book)["kept-photo"]), expected);

  // A purge keeps the contact whole in its removed-items file: the photo (which EDS keeps
  // in a file of its own, gone with the contact) written into the card, both addresses.
  const std::string state = sandbox().path("state");
  const Result cleared = testing::RunChild({BinDir() + "/handheld", "clear", "contacts"},
                                           {"HANDHELD_STORE=eds:", "XDG_STATE_HOME=" + state});
  EXPECT_EQ(cleared.status, 0) << cleared.err;
  EXPECT_EQ(Cards(book).count("kept-photo"), 0u);
  std::string removed;
  for (const auto& file : std::filesystem::directory_iterator(state + "/quillmote/removed")) {
    removed += handheld::testing::ReadFileBytes(file.path().string());
  }
  const size_t kept = removed.find("UID:kept-photo");
  ASSERT_NE(kept, std::string::npos) << removed;
  const std::string whole = removed.substr(kept, removed.find("END:VCARD", kept) - kept);
  EXPECT_NE(whole.find("ENCODING=b"), std::string::npos) << whole;
  EXPECT_NE(whole.find("ADR;TYPE=WORK:;;2"), std::string::npos) << whole;
}

// The count a batch run printed after `label` ("Сохранено записей: "); -1 when none.
long Printed(const std::string& out, const std::string& label) {
  const size_t at = out.find(label);
  return at == std::string::npos ? -1 : std::atol(out.c_str() + at + label.size());
}

// Another client adds and removes contacts while a save and a load run on the same
// address book: none of its changes is undone, and the counts printed are the records
// written and the contacts added.
TEST_F(EdsStoreTest, AnotherClientChangingTheBookDuringSaveAndLoadLosesNothing) {
  const std::string uid = testing::AddAddressBook("Busy");
  ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_;
  EBookClient* book = Open(Kind::kAddressBook, uid).book();
  GSList* many = nullptr;
  for (int i = 0; i < 2000; ++i) {
    EContact* contact = e_contact_new();
    e_contact_set(contact, E_CONTACT_FULL_NAME, ("Person " + std::to_string(i)).c_str());
    many = g_slist_prepend(many, contact);
  }
  GSList* madeUids = nullptr;
  ASSERT_TRUE(e_book_client_add_contacts_sync(book, many, E_BOOK_OPERATION_FLAG_NONE, &madeUids,
                                              nullptr, nullptr));
  g_slist_free_full(many, g_object_unref);
  std::vector<std::string> originals;
  for (GSList* u = madeUids; u != nullptr; u = u->next)
    originals.emplace_back(static_cast<char*>(u->data));
  g_slist_free_full(madeUids, g_free);

  // The other client's changes: contacts it added, originals it renamed or removed.
  std::vector<std::string> added, renamed, removed;
  // Runs quillmote-batch while the other client alternately adds a contact and renames
  // (`remove` false) or removes an original.
  auto whileChanging = [&](const std::vector<std::string>& args, bool remove) {
    std::atomic<bool> done{false};
    std::atomic<size_t> changes{0};
    std::thread other([&] {
      for (int i = 0; !done; ++i, ++changes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (i % 2 == 0) {
          EContact* contact = e_contact_new();
          e_contact_set(contact, E_CONTACT_FULL_NAME, ("Other " + std::to_string(i)).c_str());
          gchar* made = nullptr;
          if (e_book_client_add_contact_sync(book, contact, E_BOOK_OPERATION_FLAG_NONE, &made,
                                             nullptr, nullptr)) {
            added.emplace_back(made);
          }
          g_free(made);
          g_object_unref(contact);
          continue;
        }
        const size_t next = renamed.size() + removed.size();
        if (next == originals.size()) continue;
        const std::string& uid = originals[next];
        if (remove) {
          if (e_book_client_remove_contact_by_uid_sync(
                  book, uid.c_str(), E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr)) {
            removed.push_back(uid);
          }
          continue;
        }
        EContact* contact = nullptr;
        if (e_book_client_get_contact_sync(book, uid.c_str(), &contact, nullptr, nullptr)) {
          e_contact_set(contact, E_CONTACT_FULL_NAME, ("Renamed " + uid).c_str());
          if (e_book_client_modify_contact_sync(book, contact, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                                nullptr)) {
            renamed.push_back(uid);
          }
          g_object_unref(contact);
        }
      }
    });
    const Result ran = BatchOn("eds:Busy", args);
    const size_t during = changes;
    done = true;
    other.join();
    EXPECT_GT(during, 2u) << "the other client did not change the book during the run";
    EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
    return ran;
  };
  auto nothingUndone = [&](size_t expected) {
    const std::map<std::string, std::string> cards = Cards(book);
    for (const std::string& u : added) EXPECT_TRUE(cards.count(u)) << "lost: " << u;
    for (const std::string& u : removed) EXPECT_FALSE(cards.count(u)) << "back: " << u;
    for (const std::string& u : renamed) {
      const auto card = cards.find(u);
      EXPECT_TRUE(card != cards.end() && card->second.find("FN:Renamed " + u) != std::string::npos)
          << "rename undone: " << u;
    }
    EXPECT_EQ(cards.size(), expected);
  };

  const std::string file = sandbox().path("busy.txt");
  const Result saved = whileChanging({"save-contacts", file}, false);
  EXPECT_EQ(Printed(saved.out, "Сохранено записей: "), static_cast<long>(Records(file).size()));
  const size_t held = 2000 + added.size();
  nothingUndone(held);

  // The load's adds go in groups, one made while the next gathers.
  const size_t addedBefore = added.size(), records = Records(file).size();
  const Result loaded = whileChanging({"load-contacts", file}, true);
  EXPECT_EQ(Printed(loaded.out, "Загружено записей: "), static_cast<long>(records));
  nothingUndone(held + records + (added.size() - addedBefore) - removed.size());
}

// A load whose adds EDS stops taking, or that stops on its own, tells the count of records
// that EDS holds: a group that failed is not counted, and the adds held when the load
// stopped are made before the count is told.
TEST_F(EdsStoreTest, ALoadStoppedMidwayTellsTheCountEdsHolds) {
  const std::string uid = testing::AddAddressBook("Stops");
  ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_;
  EBookClient* book = Open(Kind::kAddressBook, uid).book();
  const std::string examples = ReadFileBytes(kExamples + "/contacts.txt");
  std::string bytes = examples.substr(0, 2);
  for (int copy = 0; copy < 400; ++copy) bytes += examples.substr(2);
  const std::string file = sandbox().path("many.txt");
  handheld::testing::WriteFileBytes(file, bytes);
  ASSERT_EQ(Records(file).size(), 1200u);
  const struct {
    std::string faults, err;
    long held;
  } runs[] = {
      // The second group of 500 is refused: the third is never made.
      {"addgroup:2", "Quillmote: a group of 500 adds to Evolution Data Server failed", 500},
      // The 700th record is not saved: the 199 held before it are made.
      {"save:700", "", 699},
  };
  for (const auto& run : runs) {
    const Result ran = BatchOn("eds:Stops", {"--replace", "load-contacts", file}, "", run.faults);
    EXPECT_EQ(ran.status, 1) << run.faults;
    EXPECT_NE(ran.out.find("Не удалось создать Контакт!\n"), std::string::npos) << ran.out;
    EXPECT_EQ(Printed(ran.out, "Загружено записей до остановки: "), run.held) << ran.out;
    EXPECT_NE(ran.err.find(run.err), std::string::npos) << ran.err;
    EXPECT_EQ(Cards(book).size(), static_cast<size_t>(run.held)) << run.faults;
  }
}

// "eds:NAME" and "eds:UID" load into that address book and leave the default alone.
TEST_F(EdsStoreTest, ANamedSourceTakesTheLoadAndTheDefaultStaysAsItWas) {
  const std::string uid = testing::AddAddressBook("Second");
  ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_;
  EBookClient* second = Open(Kind::kAddressBook, uid).book();
  EBookClient* standard = Open(Kind::kAddressBook, "system-address-book").book();
  EContact* contact = e_contact_new();
  e_contact_set(contact, E_CONTACT_FULL_NAME, "Stays Here");
  ASSERT_TRUE(e_book_client_add_contact_sync(standard, contact, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                             nullptr, nullptr));
  g_object_unref(contact);
  const auto before = Cards(standard);
  for (const std::string& named : {std::string("eds:Second"), "eds:" + uid}) {
    const Result loaded =
        BatchOn(named, {"--replace", "load-contacts", kExamples + "/contacts.txt"});
    EXPECT_EQ(loaded.status, 0) << named << ": " << loaded.out << loaded.err;
    EXPECT_EQ(Cards(second).size(), 3u) << named;
    EXPECT_EQ(Cards(standard), before) << named;
  }
}

}  // namespace
}  // namespace handheld::eds
