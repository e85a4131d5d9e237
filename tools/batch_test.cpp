// quillmote-batch end to end, with the `handheld` tool filling and reading the store:
// saves and loads, exit statuses, options, output, and the single-instance rule against
// a Quillmote dialog running in this process.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "app/shell_test_support.h"
#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::Result;

class BatchTest : public handheld::testing::SandboxTest {
 protected:
  // quillmote-batch with its options, the command and the sandbox file `name`.
  Result Batch(std::vector<std::string> args, const std::string& name = "") {
    if (!name.empty()) args.push_back(sandbox().path(name));
    return tool_testing::RunProgram(sandbox().dir(), "quillmote-batch", args);
  }
  Result Handheld(const std::string& command, const std::string& kind,
                  const std::string& input = "") {
    Result r = tool_testing::RunProgram(sandbox().dir(), "handheld", {command, kind}, input);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }
  std::string Count(const std::string& kind) { return Handheld("count", kind).out; }
};

TEST_F(BatchTest, ContactsSavedAndLoadedBack) {
  Handheld("add", "contacts",
           "{\"FirstName\": \"Анна\", \"LastName\": \"Петрова\", "
           "\"Email1Address\": \"anna@example.org\"}\n"
           "{\"FirstName\": \"Boris\", \"Body\": \"line one\\r\\nline two\"}\n");
  const std::string dumped = Handheld("dump", "contacts").out;

  Result saved = Batch({"save-contacts"}, "contacts.txt");
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "Экспорт Контактов завершен. Сохранено записей: 2\n");
  EXPECT_NE(saved.err.find("Сохранение Контактов..."), std::string::npos);
  EXPECT_NE(saved.err.find("progress 100%"), std::string::npos);

  // Without --replace the loaded contacts join the existing ones.
  Result loaded = Batch({"load-contacts"}, "contacts.txt");
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out,
            "Удалить существующие Контакты?\n"
            "Импорт Контактов завершен. Загружено записей: 2\n");
  EXPECT_EQ(Count("contacts"), "4\n");

  // --replace purges first, then loads: the store holds what was saved.
  loaded = Batch({"--replace", "load-contacts"}, "contacts.txt");
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_NE(loaded.err.find("Удаление Контактов..."), std::string::npos);
  EXPECT_EQ(Handheld("dump", "contacts").out, dumped);
}

TEST_F(BatchTest, CallsSaved) {
  Handheld("add", "calls",
           "{\"Number\": \"+79001234567\", \"Type\": 1}\n"
           "{\"Number\": \"+79007654321\", \"Type\": 2}\n"
           "{\"Number\": \"112\", \"Type\": 0}\n");
  Result saved = Batch({"save-calls"}, "calls.txt");
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "Экспорт Звонков завершен. Сохранено записей: 3\n");
  EXPECT_EQ(shell_testing::RecordCount(ReadFileBytes(sandbox().path("calls.txt"))), 3);
}

TEST_F(BatchTest, ExitStatuses) {
  // Error messages: 1, the message on standard output.
  Result r = Batch({"save-tasks"}, "tasks.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Задач нет, сохранять нечего...\n");
  WriteFileBytes(sandbox().path("plain.txt"), "not unicode");
  r = Batch({"load-tasks"}, "plain.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Файл не UNICODE!\n");
  std::filesystem::create_directory(sandbox().path("no-modules"));
  setenv("HANDHELD_MODULE_DIR", sandbox().path("no-modules").c_str(), 1);
  r = Batch({"save-calls"}, "calls.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("phone.so"), std::string::npos);
  setenv("HANDHELD_FAULTS", "logon", 1);
  r = Batch({"save-contacts"}, "x.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Quillmote не может работать на этом устройстве...\n");
  unsetenv("HANDHELD_FAULTS");

  // The file dialog counted as cancelled: 3, nothing touched.
  Handheld("add", "tasks", "{\"Subject\": \"Купить хлеб\"}\n");
  WriteFileBytes(sandbox().path("old.txt"), "old");
  r = Batch({"save-tasks"}, "old.txt");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFileBytes(sandbox().path("old.txt")), "old");
  EXPECT_EQ(Batch({"load-tasks"}, "missing.txt").status, 3);
  // --overwrite replaces it.
  r = Batch({"--overwrite", "save-tasks"}, "old.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Экспорт Задач завершен. Сохранено записей: 1\n");

  // Usage errors: 2.
  EXPECT_EQ(Batch({}).status, 2);
  EXPECT_EQ(Batch({"save-everything"}, "a.txt").status, 2);
  EXPECT_EQ(Batch({"--force", "save-tasks"}, "a.txt").status, 2);
  setenv("HANDHELD_FAULTS", "no-such-point", 1);
  r = Batch({"save-tasks"}, "a.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("HANDHELD_FAULTS"), std::string::npos);
  unsetenv("HANDHELD_FAULTS");
  r = Batch({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: quillmote-batch"), std::string::npos);
}

TEST_F(BatchTest, SecondStartFindsTheRunningDialog) {
  namespace scripted = handheld::scripted;
  scripted::Script script;
  Result second;
  bool raised = false;
  script.onStart = [&](HWND dialog) {
    second = Batch({"save-contacts"}, "never.txt");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!raised && std::chrono::steady_clock::now() < deadline) {
      for (const auto& entry : scripted::Log()) {
        if (entry.event == scripted::Event::kRaise && entry.control == 0) raised = true;
      }
      if (!raised) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  EXPECT_EQ(shell_testing::RunShell(script), 0);
  EXPECT_EQ(second.status, 4) << second.err;
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(raised);
  EXPECT_FALSE(std::filesystem::exists(sandbox().path("never.txt")));
}

}  // namespace
