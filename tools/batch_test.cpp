// quillmote-batch end to end, with the `handheld` tool filling and reading the store:
// saves and loads, exit statuses, options, output, and runs beside a Quillmote dialog
// running in this process.
#include <filesystem>
#include <string>

#include "app/shell_test_support.h"
#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::Result;

class BatchTest : public tool_testing::ToolTest {
 protected:
  // quillmote-batch with its options, the command and the sandbox file `name`.
  Result BatchOn(std::vector<std::string> args, const std::string& name) {
    args.push_back(sandbox().path(name));
    return Batch(args);
  }
};

// Standard error into a file gets the status texts and nothing per percent; a terminal
// gets the progress bar, up to 100%. (Saves and loads round trip: the examples test.)
TEST_F(BatchTest, StatusTextsAndTheProgressBar) {
  Handheld("add", "contacts", "{\"FirstName\": \"Анна\"}\n{\"FirstName\": \"Boris\"}\n");
  Result saved = BatchOn({"save-contacts"}, "contacts.txt");
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "Экспорт Контактов завершен. Сохранено записей: 2\n");
  EXPECT_NE(saved.err.find("Сохранение Контактов..."), std::string::npos);
  EXPECT_EQ(saved.err.find('%'), std::string::npos) << saved.err;
  Result loaded = BatchOn({"--replace", "load-contacts"}, "contacts.txt");
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_NE(loaded.err.find("Удаление Контактов..."), std::string::npos);
  tool_testing::Terminal terminal;
  tool_testing::Launch onTerminal;
  onTerminal.argv = {"--overwrite", "save-contacts", sandbox().path("contacts.txt")};
  onTerminal.errFd = terminal.FarEnd();
  const pid_t pid = tool_testing::Start("quillmote-batch", onTerminal);
  terminal.CloseFarEnd();
  EXPECT_EQ(tool_testing::Wait(pid), 0);
  EXPECT_TRUE(terminal.WaitUntil(
      [](const std::string& shown) { return tool_testing::BarPercent(shown) == 100; }))
      << terminal.Shown();
}

TEST_F(BatchTest, ExitStatuses) {
  Handheld("add", "tasks", "{\"Subject\": \"Купить хлеб\"}\n");
  Handheld("add", "calls", "{\"Number\": \"+79001234567\"}\n{\"Number\": \"112\"}\n");
  WriteFileBytes(sandbox().path("old.txt"), "old");
  std::filesystem::create_directory(sandbox().path("no-modules"));
  const std::string noModules = "HANDHELD_MODULE_DIR=" + sandbox().path("no-modules");
  const struct {
    std::vector<std::string> args;
    std::string env;  // NAME=value, or empty
    int status;
    const char* out;               // the whole standard output
    const char* errHas = nullptr;  // a part of standard error, unless null
  } cases[] = {
      {{"save-calls", "calls.txt"}, "", 0, "Экспорт Звонков завершен. Сохранено записей: 2\n"},
      // An error message: 1, the message on standard output (every message: the fault
      // matrix).
      {{"save-calls", "a.txt"}, noModules, 1, "", "phone.so"},
      // The file dialog counted as cancelled: 3, nothing touched.
      {{"save-tasks", "old.txt"}, "", 3, "", "--overwrite"},
      {{"load-tasks", "missing.txt"}, "", 3, ""},
      // Usage errors: 2.
      {{}, "", 2, ""},
      {{"save-everything", "a.txt"}, "", 2, ""},
      {{"--force", "save-tasks", "a.txt"}, "", 2, ""},
      {{"save-tasks", "a.txt"}, "HANDHELD_FAULTS=no-such-point", 2, "", "HANDHELD_FAULTS"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (args.size() > 1) args.back() = sandbox().path(args.back());
    std::vector<std::string> env;
    if (!c.env.empty()) env.push_back(c.env);
    Result r = Batch(args, env);
    SCOPED_TRACE(c.args.empty() ? "" : c.args.front());
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.errHas ? c.errHas : ""), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFileBytes(sandbox().path("old.txt")), "old");
  EXPECT_FALSE(std::filesystem::exists(sandbox().path("a.txt")));
  // --overwrite replaces it.
  Result r = BatchOn({"--overwrite", "save-tasks"}, "old.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Экспорт Задач завершен. Сохранено записей: 1\n");
  Handheld("add", "tasks", "{\"Subject\": \"Позже\"}\n");  // the store is whole
  EXPECT_EQ(Count("tasks"), "2\n");
}

// A nightly job runs beside an idle Quillmote window without raising it, and leaves a
// window that runs a job of its own alone.
TEST_F(BatchTest, RunsBesideAnIdleWindowOnly) {
  namespace scripted = handheld::scripted;
  Handheld("add", "contacts", "{\"FirstName\": \"Анна\"}\n");
  Result idle, busy;
  scripted::Script script = shell_testing::CommandScript(IDM_FIRST_JOB, sandbox().path("w.txt"));
  auto exitWhenOver = script.afterMessage;
  script.onStart = [&](HWND dialog) {
    idle = BatchOn({"save-contacts"}, "idle.txt");
    PostMessageW(dialog, WM_COMMAND, IDM_FIRST_JOB, 0);
  };
  script.afterMessage = [&](HWND dialog, const MSG& message) {
    // The worker has begun: the window shows its busy display until its end is handled.
    if (message.message == WM_JOBNOTIFY && message.wParam == NotifyStatus && busy.out.empty() &&
        busy.err.empty()) {
      busy = BatchOn({"save-contacts"}, "busy.txt");
    }
    exitWhenOver(dialog, message);
  };
  EXPECT_EQ(shell_testing::RunShell(script), 0);
  EXPECT_EQ(idle.status, 0) << idle.err;
  EXPECT_EQ(idle.out, "Экспорт Контактов завершен. Сохранено записей: 1\n");
  EXPECT_EQ(busy.status, 4) << busy.err;
  EXPECT_EQ(busy.out, "");
  EXPECT_NE(busy.err.find("busy with a job"), std::string::npos) << busy.err;
  EXPECT_FALSE(std::filesystem::exists(sandbox().path("busy.txt")));
  EXPECT_TRUE(shell_testing::idleWhenOver);
  for (const auto& entry : scripted::Log()) {  // the exit raises the dialog, nothing before
    if (entry.event == scripted::Event::kEndDialog) break;
    EXPECT_NE(entry.event, scripted::Event::kRaise);
  }
}

}  // namespace
