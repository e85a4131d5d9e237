// The window system on the scripted backend: dialogs from templates, the message loop,
// message boxes and file dialogs with their answers, the menu bar, controls and fonts,
// and the single-instance registry across two processes.
//
// The test executable doubles as the second process: `window_tests --find-and-raise
// TITLE` looks for TITLE, raises it and exits 0 (raised), 2 (not found) or 3 (found
// but the raise failed).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "handheld/process.h"
#include "handheld/window/scripted.h"
#include "handheld/window/window_internal.h"
#include "handheld/window/window_test.h"

namespace {

using handheld::scripted::Script;
using handheld::testing::U16;
using handheld::testing::U8;
namespace scripted = handheld::scripted;
using namespace window_test;

constexpr UINT kNote = WM_APP + 1;

bool Logged(const std::string& wanted) {
  std::vector<std::string> lines = scripted::LogLines();
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// "left,top-right,bottom"
std::string Box(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

class WindowTest : public WindowFixture {
 protected:
  void TearDown() override {
    scripted::SetScript(Script{});
    WindowFixture::TearDown();
  }

  // Runs dialog 101 with `script` and the handler given, with the full-screen set-up and
  // the title in WM_INITDIALOG as the program does; `seen` gets every message.
  INT_PTR Run(Script script, std::function<void(HWND, UINT, WPARAM, LPARAM)> handler = {}) {
    script.waitLimit = std::chrono::milliseconds(20000);
    scripted::SetScript(std::move(script));
    seen.clear();
    g_handler = [this, handler](HWND dialog, UINT message, WPARAM w, LPARAM l) {
      seen.push_back(message);
      if (message == WM_INITDIALOG) {
        SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
        SHInitDialog(&info);
        SetWindowTextW(dialog, title_.c_str());
      }
      if (handler) handler(dialog, message, w, l);
    };
    return DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0);
  }

  // Runs dialog 101 and `body` once it has started, then ends it.
  void WhenStarted(std::function<void(HWND)> body) {
    Script script;
    script.onStart = [body](HWND dialog) {
      body(dialog);
      EndDialog(dialog, 0);
    };
    Run(script);
  }

  std::u16string title_ = u"Quillmote test";
  std::vector<UINT> seen;
};

// ---- Dialogs and the message loop ---------------------------------------------------

TEST_F(WindowTest, DialogsStartInOrderEndAndHaveAWaitLimit) {
  std::vector<UINT> beforeStart;
  HWND started = nullptr;
  Script script;
  script.onStart = [&](HWND dialog) {
    started = dialog;
    beforeStart = seen;
    // Template geometry: 6 x 13 pixels per 4 x 8 dialog units.
    EXPECT_EQ(Box(scripted::ControlRect(dialog, 104)), "11,122-112,135");
    EXPECT_EQ(scripted::ControlFont(dialog, 105).height, -11);  // 8 points of "System"
    EXPECT_EQ(GetDlgItem(dialog, 999), nullptr);
    EndDialog(dialog, 42);
  };
  EXPECT_EQ(Run(script), 42);
  // WM_INITDIALOG (with the full-screen WM_SIZE inside it), then WM_SIZE, then the script.
  EXPECT_EQ(beforeStart, (std::vector<UINT>{WM_INITDIALOG, WM_SIZE, WM_SIZE}));
  // Ended: its windows no longer take messages, but stay queryable until the next script.
  EXPECT_FALSE(PostMessageW(started, kNote, 0, 0));
  EXPECT_EQ(scripted::ClientWidth(started), 240);
  scripted::SetScript(Script{});
  EXPECT_EQ(scripted::CurrentDialog(), nullptr);
  EXPECT_EQ(scripted::ClientWidth(started), 0);
  EXPECT_EQ(DialogBoxParamW(instance_, 999, nullptr, TestProcedure, 0), -1);

  // Ended during its initialisation: no WM_SIZE of its own, and no start.
  script.onStart = [](HWND) { ADD_FAILURE() << "started"; };
  EXPECT_EQ(Run(script, [](HWND dialog, UINT message, WPARAM, LPARAM) {
              if (message == WM_INITDIALOG) EndDialog(dialog, 0);
            }), 0);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_INITDIALOG, WM_SIZE, WM_DESTROY}));

  Script quiet;
  quiet.waitLimit = std::chrono::milliseconds(10);
  scripted::SetScript(quiet);
  g_handler = nullptr;
  EXPECT_EQ(DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0), -1);
  EXPECT_TRUE(Logged("wait-limit"));
}

// Boxes answer from the script (or by default) while posted messages wait, until the
// script pumps them.
TEST_F(WindowTest, MessageBoxAnswersDefaultsAndPumpWhileOpen) {
  std::vector<std::string> order;
  std::vector<int> answers;
  Script script;
  script.onStart = [&](HWND dialog) {
    answers.push_back(MessageBoxW(dialog, u"q1", u"Quillmote", MB_YESNO | MB_ICONQUESTION));
    PostMessageW(dialog, kNote, 1, 0);
    PostMessageW(dialog, kNote, 2, 0);
    answers.push_back(MessageBoxW(dialog, u"q2", u"Quillmote", MB_YESNO | MB_ICONQUESTION));
    answers.push_back(MessageBoxW(dialog, u"done", u"Quillmote", MB_OK | MB_ICONINFORMATION));
    EndDialog(dialog, 0);
  };
  script.onMessageBox = [&](const scripted::MessageBoxCall& call) {
    order.push_back("box " + U8(call.text));
    if (call.text == u"q1") return IDYES;
    if (call.text == u"q2") {
      EXPECT_EQ(scripted::PendingCount(call.owner), 2);
      EXPECT_EQ(scripted::PumpPending(call.owner), 2);
      EXPECT_EQ(scripted::PendingCount(call.owner), 0);
      return IDCANCEL;  // not a button of the box: counts as No
    }
    return IDYES;  // not a button of an OK box: counts as OK
  };
  Run(script, [&](HWND, UINT message, WPARAM w, LPARAM) {
    if (message == kNote) order.push_back("note " + std::to_string(w));
  });
  EXPECT_EQ(answers, (std::vector<int>{IDYES, IDNO, IDOK}));
  EXPECT_EQ(order, (std::vector<std::string>{"box q1", "box q2", "note 1", "note 2", "box done"}));
  // Without an answer: OK boxes say OK, questions say No.
  scripted::SetScript(Script{});
  EXPECT_EQ(MessageBoxW(nullptr, u"x", u"c", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"x", u"c", MB_OK | MB_ICONSTOP), IDOK);
}

// Each request's answer: handed back whole, questioned, or refused, and logged.
TEST_F(WindowTest, FileDialogAnswersComeBackOrAreQuestionedOrRefused) {
  char16_t path[1024] = u"";
  handheld::testing::WriteFileBytes(sandbox().path("old.txt"), "x");
  std::u16string answer;
  bool replace = false;
  Script script;
  script.onFileDialog = [&](const scripted::FileDialogCall&) {
    return answer.empty() ? std::nullopt : std::optional<std::u16string>(answer);
  };
  script.onOverwrite = [&](const std::u16string& path) {
    EXPECT_EQ(path, answer);
    return replace;
  };
  scripted::SetScript(script);
  constexpr DWORD kAsk = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  const struct {
    bool save;
    const char* file;  // in the sandbox; null: cancelled
    DWORD flags;
    bool replace;
    BOOL result;
    const char* lastLogged;
    DWORD size = 1024;
  } cases[] = {
      {true, "old.txt", kAsk, false, FALSE, "\" -> no"},  // kept: counts as cancelled
      {true, "old.txt", kAsk, true, TRUE, "\" -> yes"},
      {true, "old.txt", OFN_PATHMUSTEXIST, true, TRUE, "filedialog"},  // no prompt asked for
      {true, "new.txt", kAsk, false, TRUE, "filedialog"},              // nothing to replace
      {true, "missing/new.txt", kAsk, true, FALSE, "file-refused"},
      {false, "absent.txt", OFN_FILEMUSTEXIST, false, FALSE, "the file does not exist"},
      {false, "old.txt", OFN_FILEMUSTEXIST, false, TRUE, "filedialog"},
      {true, nullptr, kAsk, true, FALSE, "filedialog"},
      {true, "new.txt", kAsk, false, FALSE, "too long", 5},  // does not fit in the buffer
  };
  for (const auto& c : cases) {
    answer = c.file ? U16(sandbox().path(c.file)) : u"";
    replace = c.replace;
    OPENFILENAMEW request = FileRequest(c.save, path);
    request.Flags = c.flags;
    request.nMaxFile = c.size;
    EXPECT_EQ(c.save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request), c.result)
        << U8(answer);
    const std::string last = scripted::LogLines().back();
    EXPECT_NE(last.find(c.lastLogged), std::string::npos) << last;
    if (c.result) {
      EXPECT_EQ(std::u16string(path), answer);
      EXPECT_EQ(request.nFileExtension, answer.size() - 3);
    }
  }
  // Without a script the dialog counts as cancelled.
  scripted::SetScript(Script{});
  OPENFILENAMEW request = FileRequest(false, path);
  EXPECT_FALSE(GetOpenFileNameW(&request));
}

// ---- The menu bar, controls and fonts -------------------------------------------------

TEST_F(WindowTest, MenuBarSubMenuGreyingAndButtons) {
  WhenStarted([&](HWND dialog) {
    EXPECT_FALSE(scripted::HasMenuBar(dialog));
    HWND bar = AddMenuBar(dialog, instance_);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(
        scripted::MenuItems(dialog, 202),
        (std::vector<std::u16string>{u"&Сохранить Контакты в файл", u"&Загрузить Контакты из файла",
                                     u"-", u"Сох&ранить Звонки в файл"}));
    auto menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 202));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 201), 0);
    EXPECT_EQ(EnableMenuItem(menu, 209, MF_BYCOMMAND | MF_GRAYED), 0u);
    EXPECT_EQ(scripted::MenuItemState(dialog, 209), MF_GRAYED);
    EXPECT_EQ(EnableMenuItem(menu, 209, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
    EXPECT_EQ(GetMenuState(menu, 209, MF_BYCOMMAND), 0u);
    for (auto [handle, command] : {std::pair(menu, 555), std::pair(HMENU{}, 209)}) {
      EXPECT_EQ(GetMenuState(handle, command, MF_BYCOMMAND), 0xFFFFFFFFu);
      EXPECT_EQ(EnableMenuItem(handle, command, MF_GRAYED), 0xFFFFFFFFu);
    }
    EXPECT_TRUE(SendMessageW(bar, TB_ENABLEBUTTON, 202, FALSE));
    EXPECT_FALSE(SendMessageW(bar, TB_ISBUTTONENABLED, 202, 0));
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, 201));
    EXPECT_FALSE(SendMessageW(bar, TB_ENABLEBUTTON, 999, TRUE));
    EXPECT_TRUE(DestroyWindow(bar));
    EXPECT_FALSE(scripted::HasMenuBar(dialog));
    EXPECT_EQ(GetMenuState(menu, 203, MF_BYCOMMAND), 0xFFFFFFFFu);  // gone with its bar
    EXPECT_EQ(AddMenuBar(dialog, instance_, 999), nullptr);
  });
}

TEST_F(WindowTest, ControlsShowRepaintAndTakeAndLoseFontsAndStrings) {
  WhenStarted([&](HWND dialog) {
    HWND status = GetDlgItem(dialog, 105), progress = GetDlgItem(dialog, 106);
    LOGFONTW description{};
    description.lfHeight = -11;
    std::copy_n(u"Tahoma", 6, description.lfFaceName);
    HFONT font = CreateFontIndirectW(&description);
    SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(scripted::RepaintCount(dialog, 105), 1);  // at once, as asked
    // Resized without moving.
    EXPECT_TRUE(SetWindowPos(status, nullptr, 0, 0, 0, 14, SWP_NOMOVE | SWP_NOZORDER));
    EXPECT_EQ(Box(scripted::ControlRect(dialog, 105)), "101,20-101,34");

    EXPECT_FALSE(ShowWindow(status, SW_SHOW));  // was hidden
    EXPECT_TRUE(ShowWindow(status, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(status));
    SetWindowTextW(status, u"Подготовка...");
    char16_t buffer[6];
    EXPECT_EQ(GetWindowTextW(status, buffer, 6), 5);
    EXPECT_EQ(std::u16string(buffer), u"Подго");
    EXPECT_EQ(SendMessageW(progress, PBM_SETPOS, 40, 0), 0);
    EXPECT_EQ(SendMessageW(progress, PBM_SETPOS, 250, 0), 40);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 100);

    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(scripted::ControlFont(dialog, 105).face, u"System");  // back to the default
  });
  // Strings are cut to the buffer, still ended.
  char16_t buffer[200];
  const struct {
    UINT id;
    int size, count;
    std::u16string text;
  } strings[] = {{102, 200, 9, u"Quillmote"}, {102, 6, 5, u"Quill"}, {102, 1, 0, u""},
                 {401, 200, 24, u"Static text\r\nsecond line"}, {999, 200, 0, u""}};
  for (const auto& s : strings) {
    EXPECT_EQ(LoadStringW(instance_, s.id, buffer, s.size), s.count) << s.id << " " << s.size;
    EXPECT_EQ(std::u16string(buffer), s.text);
  }
  EXPECT_EQ(LoadStringW(nullptr, 102, buffer, 200), 0);
}

// ---- The running instance ----------------------------------------------------------

// A socket connected to, or (bind) bound at, the path.
int UnixSocket(const std::string& path, bool bind) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  EXPECT_EQ(bind ? ::bind(fd, raw, sizeof address) : ::connect(fd, raw, sizeof address), 0);
  return fd;
}

// Runs this executable as the second process; its exit code.
int FindAndRaiseFromAnotherProcess(const std::u16string& title) {
  handheld::ChildStart starting;
  starting.argv = {"/proc/self/exe", "--find-and-raise", U8(title)};
  starting.in.clear();
  const int status = handheld::WaitChild(handheld::StartChild(starting));
  return status >= 128 ? -1 : status;
}

TEST_F(WindowTest, AnotherProcessFindsTheDialogAndRaisesItWithItsMessageBox) {
  title_ = u"Quillmote instance " + U16(std::to_string(::getpid()));
  EXPECT_EQ(FindAndRaiseFromAnotherProcess(title_), 2);
  Script script;
  script.onStart = [&](HWND dialog) {
    EXPECT_EQ(FindWindowW(nullptr, title_.c_str()), dialog);  // this process: itself
    // A client that asks and hangs up before the answer costs the owner nothing.
    int rude = UnixSocket(handheld::window::InstanceSocketPath(title_), false);
    EXPECT_EQ(::send(rude, "raise\n", 6, MSG_NOSIGNAL), 6);
    ::shutdown(rude, SHUT_RDWR);
    ::close(rude);
    EXPECT_EQ(FindAndRaiseFromAnotherProcess(title_), 0);
    MessageBoxW(dialog, u"Выйти?", u"Quillmote", MB_YESNO | MB_ICONQUESTION);
    EndDialog(dialog, 0);
  };
  script.onMessageBox = [&](const scripted::MessageBoxCall&) {
    EXPECT_EQ(FindAndRaiseFromAnotherProcess(title_), 0);
    return IDNO;
  };
  Run(script);
  std::vector<std::string> lines = scripted::LogLines();
  EXPECT_GE(std::count(lines.begin(), lines.end(), "raise dialog"), 2);
  EXPECT_TRUE(Logged("raise messagebox \"Quillmote\": \"Выйти?\""));
  // Gone with the dialog: nothing to find, and no socket left behind.
  EXPECT_EQ(FindAndRaiseFromAnotherProcess(title_), 2);
  struct stat info;
  EXPECT_NE(::stat(handheld::window::InstanceSocketPath(title_).c_str(), &info), 0);
}

TEST_F(WindowTest, StaleSocketsAreRemovedAndTakenOver) {
  title_ = u"Quillmote stale " + U16(std::to_string(::getpid()));
  std::string path = handheld::window::InstanceSocketPath(title_);
  EXPECT_EQ(path.rfind(sandbox().dir(), 0), 0u);  // in XDG_RUNTIME_DIR
  // Bound, never listened: as a crashed process leaves it.
  auto leaveStaleSocket = [&] { ::close(UnixSocket(path, true)); };
  leaveStaleSocket();
  EXPECT_EQ(FindWindowW(nullptr, title_.c_str()), nullptr);
  struct stat info;
  EXPECT_NE(::stat(path.c_str(), &info), 0);

  // A dialog whose title finds a stale socket takes the name over.
  leaveStaleSocket();
  WhenStarted([&](HWND) { EXPECT_EQ(FindAndRaiseFromAnotherProcess(title_), 0); });
  EXPECT_TRUE(Logged("raise dialog"));

  // Without a runtime folder the registry lives in a private folder under /tmp.
  unsetenv("XDG_RUNTIME_DIR");
  std::string fallback = handheld::window::InstanceFolder();
  EXPECT_EQ(fallback, "/tmp/handheld-" + std::to_string(::getuid()));
  ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A very long title still gets a socket name that fits.
  std::u16string longTitle(300, u'Ж');
  EXPECT_LT(handheld::window::InstanceSocketPath(longTitle).size(), sizeof(sockaddr_un::sun_path));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--find-and-raise") {
    HWND found = FindWindowW(nullptr, U16(argv[2]).c_str());
    if (!found) return 2;
    return SetForegroundWindow(found) ? 0 : 3;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
