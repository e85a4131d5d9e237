// The files against the programs that people use them with, installed from Debian:
// python3-vobject (which khard and Radicale parse with) reads every card to the expected
// values, khard lists every contact of an exported folder, and a Radicale server started
// here on 127.0.0.1 takes every card through vdirsyncer and gives back what imports to
// the same store.
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <map>
#include <set>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/dav_test_support.h"
#include "interop/interop_test_support.h"
#include "interop/vcard.h"

namespace interop {
namespace {

using namespace testing_support;
using handheld::testing::WriteFileBytes;
using Json = nlohmann::json;

constexpr const char* kPython = "/usr/bin/python3";

bool Installed(const char* program) {
  return access(program, X_OK) == 0;
}

// Every card of a file as vobject reads it: for each property (upper-case name), a list
// of [value, sorted TYPE words]; N, ADR, ORG and CATEGORIES values are lists.
const char kVobjectReader[] = R"(
import json, sys, vobject
def flat(v):
    if isinstance(v, list):
        return ",".join(v)
    return v
cards = []
with open(sys.argv[1], encoding="utf-8") as f:
    for card in vobject.readComponents(f.read()):
        out = {}
        for line in card.getChildren():
            name = line.name.upper()
            if name in ("VERSION", "PRODID"):
                continue
            v = line.value
            if name == "N":
                v = [flat(v.family), flat(v.given), flat(v.additional), flat(v.prefix), flat(v.suffix)]
            elif name == "ADR":
                v = [flat(v.box), flat(v.extended), flat(v.street), flat(v.city), flat(v.region),
                     flat(v.code), flat(v.country)]
            elif name == "ORG":
                v = [flat(x) for x in v]
            types = sorted(t.upper() for p in line.params.get("TYPE", []) for t in p.split(","))
            out.setdefault(name, []).append([v, types])
        cards.append(out)
print(json.dumps(cards, ensure_ascii=False))
)";

std::string Utf8(std::u16string_view text) {
  std::string out = handheld::Utf8FromUtf16(text);
  for (size_t at; (at = out.find("\r\n")) != std::string::npos;) out.replace(at, 2, "\n");
  return out;
}

std::string DateText(DATE value) {
  SYSTEMTIME t;
  VariantTimeToSystemTime(value, &t);
  char text[64];
  if (t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0) {
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
  } else {
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
  }
  return text;
}

// What vobject must read from the card of a contact.
Json Expected(const ContactValues& c) {
  const auto& t = c.texts;
  Json card = Json::object();
  auto add = [&card](const char* name, Json value, std::vector<std::string> types = {}) {
    std::sort(types.begin(), types.end());
    card[name].push_back(Json::array({std::move(value), types}));
  };
  auto text = [&](const char* name, int which) {
    if (!t[which].empty()) add(name, Utf8(t[which]));
  };
  add("UID", c.uid);
  add("N", Json::array({Utf8(t[kLastName]), Utf8(t[kFirstName]), Utf8(t[kMiddleName]),
                        Utf8(t[kTitle]), Utf8(t[kSuffix])}));
  std::string full;
  for (int part : {kTitle, kFirstName, kMiddleName, kLastName, kSuffix}) {
    if (t[part].empty()) continue;
    full += (full.empty() ? "" : " ") + Utf8(t[part]);
  }
  add("FN",
      full.empty() ? Utf8(t[kCompanyName].empty() ? t[kEmail1Address] : t[kCompanyName]) : full);
  if (!t[kOfficeLocation].empty()) {
    add("ORG",
        Json::array({Utf8(t[kCompanyName]), Utf8(t[kDepartment]), Utf8(t[kOfficeLocation])}));
  } else if (!t[kDepartment].empty()) {
    add("ORG", Json::array({Utf8(t[kCompanyName]), Utf8(t[kDepartment])}));
  } else if (!t[kCompanyName].empty()) {
    add("ORG", Json::array({Utf8(t[kCompanyName])}));
  }
  text("TITLE", kJobTitle);
  for (int e : {kEmail1Address, kEmail2Address, kEmail3Address}) {
    if (!t[e].empty()) add("EMAIL", Utf8(t[e]), {"INTERNET"});
  }
  const std::pair<int, std::vector<std::string>> phones[] = {
      {kMobileTelephoneNumber, {"CELL"}},
      {kHomeTelephoneNumber, {"HOME", "VOICE"}},
      {kHome2TelephoneNumber, {"HOME", "VOICE"}},
      {kBusinessTelephoneNumber, {"WORK", "VOICE"}},
      {kBusiness2TelephoneNumber, {"WORK", "VOICE"}},
      {kBusinessFaxNumber, {"WORK", "FAX"}},
      {kHomeFaxNumber, {"HOME", "FAX"}},
      {kPagerNumber, {"PAGER"}},
      {kCarTelephoneNumber, {"CAR"}},
      {kRadioTelephoneNumber, {"X-EVOLUTION-RADIO"}},
      {kAssistantTelephoneNumber, {"X-EVOLUTION-ASSISTANT"}}};
  for (const auto& [phone, types] : phones) {
    if (!t[phone].empty()) add("TEL", Utf8(t[phone]), types);
  }
  for (auto [type, street] : {std::pair<const char*, int>{"HOME", kHomeAddressStreet},
                              {"WORK", kBusinessAddressStreet},
                              {"OTHER", kOtherAddressStreet}}) {
    bool any = false;
    for (int i = 0; i < 5; ++i) any = any || !t[street + i].empty();
    if (any) {
      add("ADR",
          Json::array({"", "", Utf8(t[street]), Utf8(t[street + 1]), Utf8(t[street + 2]),
                       Utf8(t[street + 3]), Utf8(t[street + 4])}),
          {type});
    }
  }
  text("URL", kWebPage);
  if (!t[kCategories].empty()) {
    Json list = Json::array();
    std::string all = Utf8(t[kCategories]);
    for (size_t start = 0;;) {
      size_t comma = all.find(',', start);
      list.push_back(all.substr(start, comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    add("CATEGORIES", list);
  }
  text("NOTE", kBody);
  if (c.birthday != handheld::kNoDate) add("BDAY", DateText(c.birthday));
  if (c.anniversary != handheld::kNoDate) {
    add("X-EVOLUTION-ANNIVERSARY", DateText(c.anniversary));
    add("X-ANNIVERSARY", DateText(c.anniversary));
  }
  text("X-EVOLUTION-SPOUSE", kSpouse);
  text("X-CHILDREN", kChildren);
  text("X-EVOLUTION-ASSISTANT", kAssistantName);
  return card;
}

class PeersTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    for (int n = 0; n < 12; ++n) made_.push_back(Generated(n));
    setenv("HANDHELD_STORE", sandbox().path("store.db").c_str(), 1);
    SaveContacts(made_);
    stored_ = StoreContacts();
  }
  void Export(const std::string& path) {
    TransferResult result = Transfer(path, false, false);
    ASSERT_EQ(result.ExitStatus(), 0) << result.error;
  }
  std::set<std::string> StoredUids() const {
    std::set<std::string> uids;
    for (const ContactValues& c : stored_) uids.insert(c.uid);
    return uids;
  }

  std::vector<ContactValues> made_, stored_;
};

TEST_F(PeersTest, VobjectReadsEveryCardToItsValues) {
  if (!Installed(kPython)) GTEST_SKIP() << "python3-vobject is not installed";
  const std::string file = sandbox().path("all.vcf");
  Export(file);
  WriteFileBytes(sandbox().path("read.py"), kVobjectReader);
  Ran read = RunProgram(sandbox().dir(), {kPython, sandbox().path("read.py"), file});
  ASSERT_EQ(read.status, 0) << read.err;
  Json cards = Json::parse(read.out);
  ASSERT_EQ(cards.size(), stored_.size());
  for (size_t n = 0; n < stored_.size(); ++n) {
    Json expected = Expected(stored_[n]);
    EXPECT_EQ(cards[n], expected) << "card " << n << "\nvobject: " << cards[n].dump(1)
                                  << "\nexpected: " << expected.dump(1);
  }
}

TEST_F(PeersTest, KhardListsEveryContactOfAFolder) {
  if (!Installed("/usr/bin/khard")) GTEST_SKIP() << "khard is not installed";
  const std::string book = sandbox().path("book") + "/";
  Export(book);
  mkdir(sandbox().path("config").c_str(), 0700);
  mkdir(sandbox().path("config/khard").c_str(), 0700);
  WriteFileBytes(
      sandbox().path("config/khard/khard.conf"),
      "[addressbooks]\n[[book]]\npath = " + book + "\n[general]\ndefault_action = list\n");
  Ran list = RunProgram(sandbox().dir(), {"/usr/bin/khard", "list", "--parsable"},
                        {"XDG_CONFIG_HOME=" + sandbox().path("config"), "HOME=" + sandbox().dir()});
  ASSERT_EQ(list.status, 0) << list.err;
  // One record per contact: UID, name, address book, by tabs (names may hold line breaks).
  size_t records = 0;
  for (size_t at = 0; (at = list.out.find("\tbook\n", at)) != std::string::npos; ++at) ++records;
  EXPECT_EQ(records, stored_.size()) << list.out;
  for (const std::string& uid : StoredUids()) {
    EXPECT_TRUE(list.out.starts_with(uid + "\t") ||
                list.out.find("\n" + uid + "\t") != std::string::npos)
        << uid << " is not listed:\n"
        << list.out;
  }
}

TEST_F(PeersTest, RadicaleTakesEveryCardAndGivesBackTheSameStore) {
  if (!Installed("/usr/bin/radicale") || !Installed("/usr/bin/vdirsyncer")) {
    GTEST_SKIP() << "radicale or vdirsyncer is not installed";
  }
  const std::string up = sandbox().path("up"), down = sandbox().path("down");
  Export(up + "/book/");
  RadicaleServer server(sandbox().dir());
  ASSERT_TRUE(server.running()) << server.log();
  ASSERT_EQ(server.SyncUpAndBack(DavKind::kAddressBooks, {"book"}, up, down, sandbox().dir()), "");

  // What came back from the server imports to the same contacts.
  setenv("HANDHELD_STORE", sandbox().path("synced.db").c_str(), 1);
  std::vector<std::string> lost;
  TransferResult imported = Transfer(down + "/book/", true, false, &lost);
  EXPECT_EQ(imported.ExitStatus(), 0) << imported.error;
  EXPECT_TRUE(lost.empty()) << lost.front();
  std::map<std::string, ContactValues> back;
  for (const ContactValues& c : StoreContacts()) back[c.uid] = c;
  ASSERT_EQ(back.size(), stored_.size());
  for (size_t n = 0; n < stored_.size(); ++n) {
    ASSERT_EQ(back.count(stored_[n].uid), 1u) << stored_[n].uid;
    ExpectSame(stored_[n], back[stored_[n].uid], n);
  }
}

}  // namespace
}  // namespace interop
