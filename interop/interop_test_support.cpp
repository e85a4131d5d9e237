#include "interop/interop_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/identity.h"
#include "interop/storesession.h"
#include "interop/vcard.h"

extern char** environ;

namespace interop::testing_support {

using handheld::Utf16FromUtf8;
using handheld::Utf8FromUtf16;

DATE Date(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t{year, month, 0, day, hour, minute, second, 0};
  DATE value = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&t, &value));
  return value;
}

ContactValues Generated(int n) {
  static const std::u16string kAwkward[] = {
      u"comma, semicolon; backslash\\ colon:",
      u"Ёжик в тумане",
      u"emoji 😀 and 𝄞 clef",
      u"two\r\nlines\r\n\r\nand a blank one",
      u"a very long text that goes well beyond seventy-five octets: "
      u"Съешь же ещё этих мягких французских булок да выпей чаю 😀😀😀",
      u"\\n is not a line break, \\, is not a comma",
      u"quotes \" and ' and <angles>",
      u"tab\there",
      u" leading and trailing spaces ",
  };
  ContactValues c;
  for (int i = 0; i < kContactTextCount; ++i) {
    if ((i + n) % 5 == 0) continue;  // left empty
    c.texts[i] = kAwkward[(i + n) % 9] + u" " + Utf16FromUtf8(kContactTextNames[i]) + u" " +
                 Utf16FromUtf8(std::to_string(n));
  }
  const DATE dates[] = {handheld::kNoDate,
                        Date(100, 1, 1),
                        Date(9999, 12, 31, 23, 59, 59),
                        Date(1600, 2, 29),
                        Date(1899, 12, 29, 6, 0, 0),
                        Date(1985, 12, 10)};
  c.birthday = dates[n % 6];
  c.anniversary = dates[(n + 3) % 6];
  c.uid = n % 4 == 0 ? "" : "uid-" + std::to_string(n) + (n % 3 == 0 ? "/with;odd,chars\\" : "");
  return c;
}

void ExpectSame(const ContactValues& expected, const ContactValues& got, int n) {
  for (int i = 0; i < kContactTextCount; ++i) {
    EXPECT_EQ(Utf8FromUtf16(got.texts[i]), Utf8FromUtf16(expected.texts[i]))
        << kContactTextNames[i] << " of contact " << n;
  }
  EXPECT_EQ(got.birthday, expected.birthday) << "contact " << n;
  EXPECT_EQ(got.anniversary, expected.anniversary) << "contact " << n;
  if (!expected.uid.empty()) {
    EXPECT_EQ(got.uid, expected.uid) << "contact " << n;
  }
}

std::vector<ContactValues> StoreContacts() {
  StoreSession session;
  std::string error;
  EXPECT_TRUE(session.Open(olFolderContacts, &error)) << error;
  std::vector<ContactValues> contacts;
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* item = nullptr;
    EXPECT_EQ(session.items()->Item(i, &item), S_OK);
    if (item == nullptr) break;
    auto* contact = static_cast<IContact*>(item);
    ContactValues c;
    for (int t = 0; t < kContactTextCount; ++t) {
      BSTR text = nullptr;
      EXPECT_EQ((contact->*kContactTextGetters[t])(&text), S_OK);
      c.texts[t].assign(text, SysStringLen(text));
      SysFreeString(text);
    }
    contact->get_Birthday(&c.birthday);
    contact->get_Anniversary(&c.anniversary);
    EXPECT_EQ(GetItemUid(item, &c.uid), S_OK);
    item->Release();
    contacts.push_back(std::move(c));
  }
  return contacts;
}

void SaveContacts(const std::vector<ContactValues>& contacts) {
  StoreSession session;
  std::string error;
  ASSERT_TRUE(session.Open(olFolderContacts, &error)) << error;
  for (const ContactValues& c : contacts) {
    IDispatch* item = nullptr;
    ASSERT_EQ(session.app()->CreateItem(olContactItem, &item), S_OK);
    auto* contact = static_cast<IContact*>(item);
    for (int t = 0; t < kContactTextCount; ++t) {
      BSTR text = SysAllocStringLen(c.texts[t].data(), static_cast<UINT>(c.texts[t].size()));
      EXPECT_EQ((contact->*kContactTextSetters[t])(text), S_OK);
      SysFreeString(text);
    }
    EXPECT_EQ(contact->put_Birthday(c.birthday), S_OK);
    EXPECT_EQ(contact->put_Anniversary(c.anniversary), S_OK);
    if (!c.uid.empty()) {
      EXPECT_EQ(SetItemUid(item, c.uid), S_OK);
    }
    EXPECT_EQ(contact->Save(), S_OK);
    item->Release();
  }
}

TransferResult Transfer(const std::string& path, bool import, bool replace,
                        std::vector<std::string>* lost) {
  StoreSession session;
  std::string error;
  TransferResult result;
  if (!session.Open(olFolderContacts, &error)) {
    ADD_FAILURE() << error;
    return result;
  }
  Losses losses(import ? "card" : "contact", import ? "cards" : "contacts");
  if (import) {
    ImportContacts(session, path, replace, &losses, &result);
  } else {
    ExportContacts(session, path, &losses, &result);
  }
  if (lost != nullptr) *lost = losses.Summary();
  return result;
}

Ran RunProgram(const std::string& dir, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, int seconds) {
  std::vector<std::string> envStore = env;
  for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
  std::vector<char*> args, envp;
  std::vector<std::string> argStore = argv;
  for (std::string& a : argStore) args.push_back(a.data());
  for (std::string& e : envStore) envp.push_back(e.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const std::string out = dir + "/run.out", err = dir + "/run.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Ran ran;
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return ran;
  int raw = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ran.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  ran.out = handheld::testing::ReadFileBytes(out);
  ran.err = handheld::testing::ReadFileBytes(err);
  return ran;
}

}  // namespace interop::testing_support
