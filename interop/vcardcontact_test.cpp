// Contacts as vCards and back: the round trip of every property, the folded lines, the
// cards that people really have, and what is counted as not kept.
#include "interop/vcardcontact.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "handheld/utf16.h"
#include "interop/interop_test_support.h"

namespace interop {
namespace {

using handheld::Utf8FromUtf16;
using testing_support::Date;
using testing_support::ExpectSame;
using testing_support::Generated;

struct Read {
  std::vector<ContactValues> contacts;
  std::vector<std::string> problems;
  long groups = 0;
};

// Every card of a file's bytes, read as an import reads them.
Read ReadCards(const std::string& bytes, Losses* losses) {
  Read read;
  FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  CardReader reader(file);
  Card card;
  std::string problem;
  for (;;) {
    CardReader::Next next = reader.Read(&card, &problem);
    if (next == CardReader::Next::kEnd) break;
    if (next == CardReader::Next::kProblem) {
      read.problems.push_back(problem);
      continue;
    }
    ContactValues contact;
    if (ContactFromCard(card, &contact, losses) == CardKind::kGroup) {
      ++read.groups;
    } else {
      read.contacts.push_back(contact);
    }
    losses->EndItem();
  }
  std::fclose(file);
  return read;
}

ContactValues One(const std::string& card, Losses* losses) {
  Read read = ReadCards(card, losses);
  EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  EXPECT_EQ(read.contacts.size(), 1u);
  return read.contacts.empty() ? ContactValues{} : read.contacts.front();
}

std::string Text(const ContactValues& c, ContactText which) {
  return Utf8FromUtf16(c.texts[which]);
}

TEST(VCardContactTest, EveryPropertyComesBackIdentical) {
  std::string file;
  std::vector<ContactValues> written;
  Losses exportLosses("contact", "contacts");
  for (int n = 0; n < 40; ++n) {
    written.push_back(Generated(n));
    file += CardFromContact(written.back(), &exportLosses);
    exportLosses.EndItem();
  }
  // One contact with every text filled and one with none.
  ContactValues full = Generated(1), empty;
  for (std::u16string& text : full.texts) {
    if (text.empty()) text = u"filled";
  }
  for (const ContactValues& c : {full, empty}) {
    written.push_back(c);
    file += CardFromContact(c, &exportLosses);
  }
  EXPECT_TRUE(exportLosses.empty()) << exportLosses.Summary().front();

  Losses importLosses("card", "cards");
  Read read = ReadCards(file, &importLosses);
  EXPECT_TRUE(read.problems.empty());
  EXPECT_TRUE(importLosses.empty()) << importLosses.Summary().front();
  ASSERT_EQ(read.contacts.size(), written.size());
  for (size_t n = 0; n < written.size(); ++n) ExpectSame(written[n], read.contacts[n], n);
}

TEST(VCardContactTest, CardsAreVCard30InFoldedUtf8Lines) {
  std::string file;
  for (int n = 0; n < 8; ++n) file += CardFromContact(Generated(n), nullptr);
  EXPECT_EQ(file.substr(0, 26), "BEGIN:VCARD\r\nVERSION:3.0\r\n");
  EXPECT_NE(file.find("\r\nPRODID:-//Quillmote//"), std::string::npos);
  EXPECT_TRUE(g_utf8_validate(file.data(), file.size(), nullptr));
  size_t folds = 0;
  for (size_t start = 0; start < file.size();) {
    size_t end = file.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    std::string line = file.substr(start, end - start);
    EXPECT_LE(line.size(), 75u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    // A continuation never starts inside a character.
    if (!line.empty() && line[0] == ' ') {
      ++folds;
      ASSERT_GT(line.size(), 1u);
      EXPECT_NE(static_cast<unsigned char>(line[1]) & 0xC0, 0x80) << line;
    }
    start = end + 2;
  }
  EXPECT_GT(folds, 0u);
}

TEST(VCardContactTest, WhatACardCannotCarryIsCountedOnExport) {
  ContactValues c;
  c.texts[kFirstName] = std::u16string(u"zero\0here", 9);
  c.texts[kLastName] = u"lone \xD800 surrogate";
  c.texts[kBody] = u"bare\nline feed";
  c.birthday = Date(1980, 5, 15) + 0.3 / 86400;  // 0.3 s past midnight
  Losses losses("contact", "contacts");
  std::string card = CardFromContact(c, &losses);
  losses.EndItem();
  EXPECT_EQ(losses.Summary(),
            (std::vector<std::string>{"not kept: a lone surrogate on 1 contact",
                                      "not kept: a zero character on 1 contact",
                                      "not kept: a line break other than CR LF on 1 contact",
                                      "not kept: a date's fraction of a second on 1 contact"}));
  Losses none("card", "cards");
  ContactValues back = One(card, &none);
  EXPECT_EQ(Text(back, kFirstName), "zerohere");
  EXPECT_EQ(Text(back, kLastName), "lone \xEF\xBF\xBD surrogate");
  EXPECT_EQ(Text(back, kBody), "bare\r\nline feed");
  EXPECT_EQ(back.birthday, Date(1980, 5, 15));
}

TEST(VCardContactTest, AnOldPhonesVCard21) {
  // Quoted-printable UTF-8 with a soft line break inside a character, a windows-1251
  // name written raw, bare type parameters, an N-less card.
  const std::string file =
      "BEGIN:VCARD\r\n"
      "VERSION:2.1\r\n"
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=98=D0=B2=D0=B0=D0=BD=D0=BE=D0=B2;=D0=98=D0=B2="
      "D0=B0=\r\n"
      "=D0=BD\r\n"
      "TEL;CELL;PREF:+7 900 000 00 00\r\n"
      "TEL;HOME:111\r\n"
      "TEL;WORK;FAX:222\r\n"
      "TEL:333\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:first=0D=0Asecond\r\n"
      "BDAY:19800515\r\n"
      "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n"
      "/9j/4AAQSkZJRgABAQ\r\n"
      "AAAQABAAD\r\n"
      "\r\n"
      "END:VCARD\r\n"
      "BEGIN:VCARD\r\n"
      "VERSION:2.1\r\n"
      "FN;CHARSET=windows-1251:\xCF\xE5\xF2\xF0 \xCF\xE5\xF2\xF0\xEE\xE2\r\n"
      "ADR;WORK;CHARSET=windows-1251;ENCODING=QUOTED-PRINTABLE:;;=D3=EB. "
      "=CB=E5=ED=E8=ED=E0;=CC=EE=F1=EA=E2=E0\r\n"
      "END:VCARD\r\n";
  Losses losses("card", "cards");
  Read read = ReadCards(file, &losses);
  ASSERT_TRUE(read.problems.empty()) << read.problems.front();
  ASSERT_EQ(read.contacts.size(), 2u);
  const ContactValues& a = read.contacts[0];
  EXPECT_EQ(Text(a, kLastName), "Иванов");
  EXPECT_EQ(Text(a, kFirstName), "Иван");
  EXPECT_EQ(Text(a, kMobileTelephoneNumber), "+7 900 000 00 00");
  EXPECT_EQ(Text(a, kHomeTelephoneNumber), "111");
  EXPECT_EQ(Text(a, kHome2TelephoneNumber), "333");  // a number of no kind: a home place
  EXPECT_EQ(Text(a, kBusinessFaxNumber), "222");
  EXPECT_EQ(Text(a, kBody), "first\r\nsecond");
  EXPECT_EQ(a.birthday, Date(1980, 5, 15));
  const ContactValues& b = read.contacts[1];
  EXPECT_EQ(Text(b, kFirstName), "Петр Петров");
  EXPECT_EQ(Text(b, kBusinessAddressStreet), "Ул. Ленина");
  EXPECT_EQ(Text(b, kBusinessAddressCity), "Москва");
  EXPECT_EQ(losses.Summary(), std::vector<std::string>{"not kept: PHOTO on 1 card"});
}

TEST(VCardContactTest, GoogleAndThunderbirdCards) {
  // Google's 3.0: LF only, a byte-order mark, item groups, a fourth e-mail, IMPP.
  const std::string google =
      "\xEF\xBB\xBF"
      "BEGIN:VCARD\n"
      "VERSION:3.0\n"
      "FN:Jane Q. Public\n"
      "N:Public;Jane;Q.;;\n"
      "EMAIL;TYPE=INTERNET;TYPE=HOME:jane@home.example\n"
      "EMAIL;TYPE=INTERNET;TYPE=WORK:jane@work.example\n"
      "EMAIL;TYPE=INTERNET:jane@third.example\n"
      "EMAIL;TYPE=INTERNET:jane@fourth.example\n"
      "TEL;TYPE=CELL:+1 555 0101\n"
      "TEL;TYPE=HOME:+1 555 0102\n"
      "TEL;TYPE=HOME:+1 555 0103\n"
      "TEL;TYPE=HOME:+1 555 0104\n"
      "item1.ADR;TYPE=HOME:;;1 Main St;Springfield;IL;62701;USA\n"
      "item1.X-ABLabel:\n"
      "ORG:Acme;Research\n"
      "TITLE:Scientist\n"
      "BDAY:1979-07-04\n"
      "item2.URL:https\\://example.org/jane\n"
      "IMPP:xmpp:jane@example.org\n"
      "CATEGORIES:myContacts,Friends\n"
      "NOTE:Met at the\\nconference\n"
      "END:VCARD\n";
  Losses losses("card", "cards");
  ContactValues g = One(google, &losses);
  EXPECT_EQ(Text(g, kFirstName), "Jane");
  EXPECT_EQ(Text(g, kMiddleName), "Q.");
  EXPECT_EQ(Text(g, kEmail1Address), "jane@home.example");
  EXPECT_EQ(Text(g, kEmail3Address), "jane@third.example");
  EXPECT_EQ(Text(g, kHome2TelephoneNumber), "+1 555 0103");
  EXPECT_EQ(Text(g, kHomeAddressPostalCode), "62701");
  EXPECT_EQ(Text(g, kCompanyName), "Acme");
  EXPECT_EQ(Text(g, kDepartment), "Research");
  EXPECT_EQ(Text(g, kWebPage), "https://example.org/jane");
  EXPECT_EQ(Text(g, kCategories), "myContacts,Friends");
  EXPECT_EQ(Text(g, kBody), "Met at the\r\nconference");
  EXPECT_EQ(losses.Summary(), (std::vector<std::string>{
                                  "not kept: EMAIL beyond the third on 1 card",
                                  "not kept: TEL;TYPE=HOME beyond the second on 1 card",
                                  "not kept: X-ABLABEL on 1 card", "not kept: IMPP on 1 card"}));

  // Thunderbird's 4.0: lower-case types, VALUE=TEXT, the 4.0 anniversary and spouse.
  const std::string thunderbird =
      "BEGIN:VCARD\r\n"
      "VERSION:4.0\r\n"
      "FN:Max Mustermann\r\n"
      "N:Mustermann;Max;;Dr.;\r\n"
      "EMAIL;PREF=1:max@example.de\r\n"
      "TEL;VALUE=TEXT;TYPE=work:+49 30 1234\r\n"
      "TEL;VALUE=uri;TYPE=\"voice,cell\":tel:+49-170-1234\r\n"
      "ADR;TYPE=work:;;Hauptstr. 1;Berlin;;10115;Deutschland\r\n"
      "ANNIVERSARY:20100612\r\n"
      "RELATED;TYPE=spouse;VALUE=text:Erika Mustermann\r\n"
      "RELATED;TYPE=child;VALUE=text:Tom\r\n"
      "RELATED;TYPE=child;VALUE=text:Lisa\r\n"
      "BDAY;VALUE=date:--0304\r\n"
      "UID:urn:uuid:3fcd4d1d-5ff6-4e6a-9f2b-d0a1f1c0e0b1\r\n"
      "END:VCARD\r\n";
  Losses more("card", "cards");
  ContactValues t = One(thunderbird, &more);
  EXPECT_EQ(Text(t, kTitle), "Dr.");
  EXPECT_EQ(Text(t, kEmail1Address), "max@example.de");
  EXPECT_EQ(Text(t, kBusinessTelephoneNumber), "+49 30 1234");
  EXPECT_EQ(Text(t, kMobileTelephoneNumber), "+49-170-1234");
  EXPECT_EQ(Text(t, kBusinessAddressCountry), "Deutschland");
  EXPECT_EQ(t.anniversary, Date(2010, 6, 12));
  EXPECT_EQ(Text(t, kSpouse), "Erika Mustermann");
  EXPECT_EQ(Text(t, kChildren), "Tom, Lisa");
  EXPECT_EQ(t.birthday, handheld::kNoDate);
  EXPECT_EQ(t.uid, "urn:uuid:3fcd4d1d-5ff6-4e6a-9f2b-d0a1f1c0e0b1");
  EXPECT_EQ(more.Summary(), std::vector<std::string>{"not kept: BDAY without a year on 1 card"});
}

TEST(VCardContactTest, GroupsFoldsAndCardsThatCannotBeRead) {
  const std::string ivan = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // Иван, 8 bytes
  const std::string file =
      // A fold cut inside the second byte pair of "Иван".
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;" + ivan.substr(0, 3) + "\r\n " + ivan.substr(3) +
      ";;;\r\nEND:VCARD\r\n"
      // A group card of vCard 4.0 and one of Apple's.
      "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\nMEMBER:urn:uuid:1\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nX-ADDRESSBOOKSERVER-KIND:group\r\nFN:Team\r\nEND:VCARD\r\n"
      // Line 17: a card with a line that is not a property.
      "BEGIN:VCARD\r\nVERSION:3.0\r\nthis is not a property\r\nEND:VCARD\r\n"
      // Line 21: text between cards.
      "garbage\r\n"
      // Line 22: a card without its end, cut off by the next one.
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Lost\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kept\r\nEND:VCARD\r\n"
      // Line 29: a card that the file's end cuts off.
      "BEGIN:VCARD\r\nFN:Cut\r\n";
  Losses losses("card", "cards");
  Read read = ReadCards(file, &losses);
  ASSERT_EQ(read.contacts.size(), 2u);
  EXPECT_EQ(Text(read.contacts[0], kFirstName), "Иван");
  EXPECT_EQ(Text(read.contacts[1], kFirstName), "Kept");
  EXPECT_EQ(read.groups, 2);
  EXPECT_EQ(losses.Summary(), std::vector<std::string>{"not kept: group card on 2 cards"});
  EXPECT_EQ(read.problems,
            (std::vector<std::string>{
                "line 19: a line that does not start with a property name (the card from "
                "line 17 is skipped)",
                "line 21: text outside any card", "line 22: the card has no END:VCARD",
                "line 29: the card has no END:VCARD"}));
}

}  // namespace
}  // namespace interop
