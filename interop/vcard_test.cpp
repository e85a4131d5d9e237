// Contacts to vCard files and back: the folded lines, what a card cannot carry, and a line
// of 20 MiB.
#include "interop/vcard.h"

#include <glib.h>

#include <algorithm>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/interop_test_support.h"

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

// A 20 MiB line of 20 million parts (a parser that walks its list of parts for each new
// one takes minutes).
TEST_F(VCardTest, AHugeLine) {
  const std::string longLine = sandbox().path("long.vcf");
  WriteFileBytes(longLine, "BEGIN:VCARD\r\nN:Long;Line\r\nADR;TYPE=HOME:;;street;city" +
                               std::string(20 << 20, ';') + "\r\nEND:VCARD\r\n");
  EXPECT_EQ(Import(Kind::kContacts, longLine).Said(),
            "not kept: ADR parts beyond the seventh on 1 card\n");
}

// 100,000 kinds of property that no mapping reads (counting each by a scan of those seen
// took 20 s): the first ones are named, the rest counted in one line.
TEST_F(VCardTest, ManyKindsOfLoss) {
  const std::string path = sandbox().path("many.vcf");
  std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Many;Kinds\r\n";
  for (int n = 0; n < 100000; ++n) card += "X-K" + std::to_string(n) + ":v\r\n";
  WriteFileBytes(path, card + "END:VCARD\r\n");
  const std::string said = Import(Kind::kContacts, path).Said();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), Losses::kSummaryKinds + 1) << said;
  EXPECT_TRUE(said.ends_with("\nnot kept or changed: " +
                             std::to_string(100000 - Losses::kSummaryKinds) +
                             " more kinds, not named here\n"))
      << said.substr(said.size() - std::min<size_t>(said.size(), 200));
}

}  // namespace
}  // namespace interop::testing
