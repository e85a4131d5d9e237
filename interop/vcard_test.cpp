// Contacts to vCard files and address-book folders and back: the folded lines, what a
// card cannot carry, the cards that people really have, the identifiers and file names of
// a folder, what an import adds or replaces, and what it skips.
#include "interop/vcard.h"

#include <glib.h>
#include <sys/stat.h>

#include <filesystem>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/interop_test_support.h"
#include "interop/vdir.h"

namespace interop::testing {
namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;

class VCardTest : public handheld::testing::SandboxTest {
 protected:
  // `cards` imported from a file into a store of their own.
  std::vector<ContactValues> Imported(const std::string& cards, Moved* moved) {
    const std::string name = "cards" + std::to_string(++files_);
    file_ = sandbox().path(name + ".vcf");
    WriteFileBytes(file_, cards);
    setenv("HANDHELD_STORE", sandbox().path(name + ".db").c_str(), 1);
    *moved = Import(Kind::kContacts, file_);
    Session session;
    return Contacts(session);
  }
  int files_ = 0;
  std::string file_;  // the last one imported
};

TEST_F(VCardTest, LinesAreFoldedUtf8OfAtMost75OctetsNeverInsideACharacter) {
  std::string file;
  for (int n = 0; n < 8; ++n) file += CardFromContact(Generator::Contact(n), nullptr);
  EXPECT_TRUE(g_utf8_validate(file.data(), static_cast<gssize>(file.size()), nullptr));
  size_t folds = 0;
  for (size_t start = 0; start < file.size();) {
    size_t end = file.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    std::string line = file.substr(start, end - start);
    EXPECT_LE(line.size(), 75u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    if (!line.empty() && line[0] == ' ') {
      ++folds;
      ASSERT_GT(line.size(), 1u);
      EXPECT_NE(static_cast<unsigned char>(line[1]) & 0xC0, 0x80) << line;
    }
    start = end + 2;
  }
  EXPECT_GT(folds, 0u);
}

TEST_F(VCardTest, WhatACardCannotCarryIsCountedOnExport) {
  ContactValues c;
  c.texts[kFirstName] = std::u16string(u"zero\0here", 9);
  c.texts[kLastName] = u"lone \xD800 surrogate";
  c.texts[kBody] = u"bare\nline feed";
  c.birthday = At(1980, 5, 15) + 0.3 / 86400;  // 0.3 s past midnight
  Losses losses("contact", "contacts");
  const std::string card = CardFromContact(c, &losses);
  losses.EndItem();
  EXPECT_EQ(losses.Summary(),
            (std::vector<std::string>{"not kept: a lone surrogate on 1 contact",
                                      "not kept: a zero character on 1 contact",
                                      "not kept: a line break other than CR LF on 1 contact",
                                      "not kept: a date's fraction of a second on 1 contact"}));
  Moved moved;
  const std::vector<ContactValues> back = Imported(card, &moved);
  EXPECT_EQ(moved.Said(), "");
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].texts[kFirstName], u"zerohere");
  EXPECT_EQ(back[0].texts[kLastName], u"lone \xFFFD surrogate");
  EXPECT_EQ(back[0].texts[kBody], u"bare\r\nline feed");
  EXPECT_EQ(back[0].birthday, At(1980, 5, 15));
}

// A file's cards and what an import makes of them: (contact, place, value) with the
// places -1 birthday, -2 anniversary, -3 UID; what is not kept; what is skipped.
struct Expected {
  size_t contact;
  int place;
  const char16_t* value;
};
struct CardsCase {
  const char* what;
  const char* file;  // in the test data
  std::vector<Expected> values;
  size_t contacts;
  std::vector<std::string> lost, problems;
};

const CardsCase kCards[] = {
    {"an old phone's vCard 2.1: quoted-printable UTF-8 with a soft line break inside a "
     "character, bare type parameters, base64 data up to a blank line, a windows-1251 name "
     "written raw, an N-less card",
     "old-phone-21.vcf",
     {{0, kLastName, u"Иванов"},
      {0, kFirstName, u"Иван"},
      {0, kMobileTelephoneNumber, u"+7 900 000 00 00"},
      {0, kHomeTelephoneNumber, u"111"},
      {0, kHome2TelephoneNumber, u"333"},  // a number of no kind: a home place
      {0, kBusinessFaxNumber, u"222"},
      {0, kBody, u"first\r\nsecond"},
      {0, -1, u"1980-05-15 00:00:00"},
      {1, kFirstName, u"Петр Петров"},
      {1, kBusinessAddressStreet, u"Ул. Ленина"},
      {1, kBusinessAddressCity, u"Москва"}},
     2,
     {"changed: TEL;TYPE=PREF kept without the preference on 1 card", "not kept: PHOTO on 1 card",
      "changed: TEL without a type kept as a home number on 1 card"},
     {}},
    {"Google's 3.0: LF only, a byte-order mark, item groups, a fourth e-mail, IMPP",
     "google.vcf",
     {{0, kFirstName, u"Jane"},
      {0, kMiddleName, u"Q."},
      {0, kEmail1Address, u"jane@home.example"},
      {0, kEmail3Address, u"jane@third.example"},
      {0, kHome2TelephoneNumber, u"+1 555 0103"},
      {0, kHomeAddressPostalCode, u"62701"},
      {0, kCompanyName, u"Acme"},
      {0, kDepartment, u"Research"},
      {0, kWebPage, u"https://example.org/jane"},
      {0, kCategories, u"myContacts,Friends"},
      {0, kBody, u"Met at the\r\nconference"}},
     1,
     {"changed: EMAIL;TYPE=HOME kept without its type on 1 card",
      "changed: EMAIL;TYPE=WORK kept without its type on 1 card",
      "not kept: EMAIL beyond the third on 1 card",
      "not kept: TEL;TYPE=HOME beyond the second on 1 card", "not kept: X-ABLABEL on 1 card",
      "not kept: IMPP on 1 card"},
     {}},
    {"Thunderbird's 4.0: lower-case types, VALUE=TEXT, the 4.0 anniversary and spouse",
     "thunderbird.vcf",
     {{0, kTitle, u"Dr."},
      {0, kEmail1Address, u"max@example.de"},
      {0, kBusinessTelephoneNumber, u"+49 30 1234"},
      {0, kMobileTelephoneNumber, u"+49-170-1234"},
      {0, kBusinessAddressCountry, u"Deutschland"},
      {0, -2, u"2010-06-12 00:00:00"},
      {0, kSpouse, u"Erika Mustermann"},
      {0, kChildren, u"Tom, Lisa"},
      {0, -1, u"none"},
      {0, -3, u"urn:uuid:3fcd4d1d-5ff6-4e6a-9f2b-d0a1f1c0e0b1"}},
     1,
     {"changed: EMAIL;TYPE=PREF kept without the preference on 1 card",
      "not kept: BDAY without a year on 1 card",
      "changed: FN (the store composes it from N) on 1 card"},
     {}},
    {"a fold inside a character, group cards of vCard 4.0 and Apple's, a line that is no "
     "property, text between cards, cards without their end",
     "damaged.vcf",
     {{0, kFirstName, u"Иван"}, {1, kFirstName, u"Kept"}},
     2,
     {"not kept: group card on 2 cards", "not kept: PHOTO on 1 card"},
     {"line 19: a line that does not start with a property name (the card from line 17 is "
      "skipped)",
      "line 21: text outside any card", "line 22: the card has no END:VCARD",
      "line 30: the card has no END:VCARD"}},
    {"numbers of no kind the store has after the typed ones, a post office box, a spouse "
     "who is a link, an FN of its own, an AGENT card inside a card",
     "changed.vcf",
     {{0, kHomeTelephoneNumber, u"103"},
      {0, kHome2TelephoneNumber, u"104"},
      {0, kBusinessTelephoneNumber, u"100"},
      {0, kBusiness2TelephoneNumber, u"101"},
      {0, kMobileTelephoneNumber, u"102"},
      {0, kOtherAddressStreet, u"1 Main St\r\nSuite 5\r\nBox 7"},
      {0, kSpouse, u""},
      {1, kLastName, u"Holder"},
      {1, kHomeTelephoneNumber, u"200"},
      {1, kBusinessTelephoneNumber, u""},
      {1, kEmail1Address, u""},
      {1, kBody, u"the holder's note"}},
     2,
     {"changed: ADR's post office box and extended address joined to the street on 1 card",
      "changed: ADR without a type kept as the other address on 1 card",
      "not kept: RELATED that is a link, not a name on 1 card",
      "changed: TEL;TYPE=ISDN kept as a work number on 1 card",
      "changed: TEL;TYPE=VIDEO kept as a work number on 1 card",
      "changed: TEL without a type kept as a mobile number on 1 card",
      "changed: FN (the store composes it from N) on 1 card", "not kept: AGENT on 1 card"},
     {}},
    {"UTF-16 with its byte-order mark", "utf16.vcf", {{0, kLastName, u"Иванов"}}, 1, {}, {}},
};

TEST_F(VCardTest, TheCardsPeopleHave) {
  for (const CardsCase& c : kCards) {
    Moved moved;
    const std::vector<ContactValues> got =
        Imported(ReadFileBytes(std::string(INTEROP_TEST_DATA) + "/" + c.file), &moved);
    ASSERT_EQ(got.size(), c.contacts) << c.what;
    EXPECT_EQ(moved.result.items, static_cast<long>(c.contacts)) << c.what;
    for (const Expected& e : c.values) {
      const ContactValues& contact = got[e.contact];
      const std::string value = handheld::Utf8FromUtf16(e.value);
      if (e.place >= 0) {
        EXPECT_EQ(handheld::Utf8FromUtf16(contact.texts[e.place]), value)
            << c.what << ": " << kContactTextNames[e.place];
      } else {
        EXPECT_EQ(e.place == -3   ? contact.uid
                  : e.place == -1 ? Text(contact.birthday)
                                  : Text(contact.anniversary),
                  value)
            << c.what;
      }
    }
    EXPECT_EQ(moved.lost, c.lost) << c.what;
    std::vector<std::string> problems;
    for (const std::string& p : c.problems) problems.push_back(file_ + ": " + p);
    EXPECT_EQ(moved.result.problems, problems) << c.what;
  }
}


// A card another program wrote, with what the store has no place for.
const char kTheirs[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:5e1b0d2c-0000-4000-8000-00000000b0b0\r\n"
    "N:Roberts;Robert;;;\r\nFN:Bob R.\r\nNICKNAME:Bob\r\nEMAIL;TYPE=WORK:bob@work.example\r\n"
    "TEL;TYPE=ISDN:+1 555 0100\r\nTEL;TYPE=HOME:+1 555 0101\r\nIMPP:xmpp:bob@example.org\r\n"
    "X-JABBER:bob@example.org\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRg\r\n"
    "ADR;TYPE=HOME:;;1 Main St;Springfield;;62701;USA\r\nNOTE:first\r\nEND:VCARD\r\n";
const char kOthers[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:not-in-the-store\r\nFN:Nobody\r\nEND:VCARD\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST_F(VCardTest, AnExportChangesOnlyWhatTheStoreChanged) {
  const std::string book = sandbox().path("book"), file = book + "/bob.vcf",
                    single = sandbox().path("all.vcf");
  ASSERT_EQ(mkdir(book.c_str(), 0700), 0);
  WriteFileBytes(file, kTheirs);
  WriteFileBytes(single, std::string(kTheirs) + kOthers);
  ASSERT_NE(Import(Kind::kContacts, book).result.items, 0);
  struct stat before, after;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  ASSERT_EQ(stat(single.c_str(), &after), 0);
  const Moved once = Export(Kind::kContacts, single);
  EXPECT_EQ(once.result.notes,
            std::vector<std::string>{"kept 1 card of \"" + single +
                                     "\" that no contact of the store holds"});
  // Each change in turn, on top of the ones before: (property, new value, the file's line
  // before and after).
  const struct {
    int place;
    const char16_t* value;
    const char *from, *to;
  } kChanges[] = {
      {-1, u"", "", ""},  // nothing: both files stay as they are, time stamps included
      {kJobTitle, u"Engineer", "END:VCARD\r\n", "TITLE:Engineer\r\nEND:VCARD\r\n"},
      {kHomeTelephoneNumber, u"+1 555 0199", "TEL;TYPE=HOME:+1 555 0101", "TEL;TYPE=HOME:+1 555 0199"},
      {kEmail1Address, u"", "EMAIL;TYPE=WORK:bob@work.example\r\n", ""},
      {kLastName, u"Robertson", "N:Roberts;Robert;;;\r\nFN:Bob R.",
       "N:Robertson;Robert;;;\r\nFN:Robert Robertson"},
      {kBody, u"first\r\nsecond", "NOTE:first", "NOTE:first\\nsecond"},
      {kHomeAddressCity, u"Shelbyville", ";Springfield;", ";Shelbyville;"},
  };
  std::string expected = kTheirs;
  for (const auto& change : kChanges) {
    if (change.place >= 0) {
      Session session;
      Ref<IContact> bob = Session::Fetch<IContact>(session.Items(olFolderContacts).get(), 1);
      ASSERT_EQ((bob.get()->*kContactTextSetters[change.place])(Bstr(change.value)), S_OK);
      ASSERT_EQ(bob->Save(), S_OK);
      expected = Replaced(expected, change.from, change.to);
    }
    EXPECT_EQ(Export(Kind::kContacts, book).Said(), "") << change.to;
    EXPECT_EQ(Export(Kind::kContacts, single).result.ExitStatus(), 0);
    EXPECT_EQ(ReadFileBytes(file), expected);
    EXPECT_EQ(ReadFileBytes(single), expected + kOthers);
    std::vector<std::string> files;
    std::string error;
    ASSERT_TRUE(ListFolder(book, ".vcf", &files, &error));
    EXPECT_EQ(files.size(), 1u);
    if (change.place < 0) {
      struct stat now;
      ASSERT_EQ(stat(file.c_str(), &now), 0);
      EXPECT_EQ(now.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
      EXPECT_EQ(now.st_ino, before.st_ino);
      ASSERT_EQ(stat(single.c_str(), &now), 0);
      EXPECT_EQ(now.st_ino, after.st_ino);
    }
  }
}

// A 20 MiB line of 20 million parts (a parser that walks its list of parts for each new
// one takes minutes).
TEST_F(VCardTest, AHugeLine) {
  const std::string longLine = sandbox().path("long.vcf");
  WriteFileBytes(longLine, "BEGIN:VCARD\r\nN:Long;Line\r\nADR;TYPE=HOME:;;street;city" +
                               std::string(20 << 20, ';') + "\r\nEND:VCARD\r\n");
  EXPECT_EQ(Import(Kind::kContacts, longLine).Said(),
            "not kept: ADR parts beyond the seventh on 1 card\n");
}

}  // namespace
}  // namespace interop::testing
