// Contacts to vCard files and back: the folded lines, what a card cannot carry, what an
// export into another program's card changes, and a line of 20 MiB.
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

using VCardTest = handheld::testing::SandboxTest;

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
  WriteFileBytes(sandbox().path("card.vcf"), card);
  EXPECT_EQ(Import(Kind::kContacts, sandbox().path("card.vcf")).Said(), "");
  Session session;
  const std::vector<ContactValues> back = Contacts(session);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].texts[kFirstName], u"zerohere");
  EXPECT_EQ(back[0].texts[kLastName], u"lone \xFFFD surrogate");
  EXPECT_EQ(back[0].texts[kBody], u"bare\r\nline feed");
  EXPECT_EQ(back[0].birthday, At(1980, 5, 15));
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
