// quillmote-batch end to end, with the `handheld` tool filling and reading the store:
// saves and loads, exit statuses, options, output, and the single-instance rule against
// a Quillmote dialog running in this process.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/shell_test_support.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::BinDir;
using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class BatchTest : public handheld::testing::SandboxTest {
 protected:
  // Runs a program of the bin folder with a shell command line's arguments and input.
  Result RunTool(const std::string& program, const std::string& args,
                 const std::string& input = "") {
    std::string in = sandbox().path("stdin"), out = sandbox().path("stdout"),
                err = sandbox().path("stderr");
    WriteFileBytes(in, input);
    std::string command = "'" + BinDir() + "/" + program + "' " + args + " <'" + in + "' >'" + out +
                          "' 2>'" + err + "'";
    int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFileBytes(out);
    result.err = ReadFileBytes(err);
    return result;
  }
  Result Batch(const std::string& args) { return RunTool("quillmote-batch", args); }
  Result Handheld(const std::string& args, const std::string& input = "") {
    return RunTool("handheld", args, input);
  }
  std::string file(const char* name) { return "'" + sandbox().path(name) + "'"; }
  int Count(const char* kind) {
    Result r = Handheld(std::string("count ") + kind);
    EXPECT_EQ(r.status, 0) << r.err;
    return std::atoi(r.out.c_str());
  }
};

TEST_F(BatchTest, ContactsSavedAndLoadedBack) {
  Result added = Handheld("add contacts",
                          "{\"FirstName\": \"Анна\", \"LastName\": \"Петрова\", "
                          "\"Email1Address\": \"anna@example.org\"}\n"
                          "{\"FirstName\": \"Boris\", \"Body\": \"line one\\r\\nline two\"}\n");
  ASSERT_EQ(added.status, 0) << added.err;
  Result dumped = Handheld("dump contacts");
  ASSERT_EQ(dumped.status, 0);

  Result saved = Batch("save-contacts " + file("contacts.txt"));
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "Экспорт Контактов завершен. Сохранено записей: 2\n");
  EXPECT_NE(saved.err.find("Сохранение Контактов..."), std::string::npos);
  EXPECT_NE(saved.err.find("progress 100%"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(sandbox().path("contacts.txt")).substr(0, 2), "\xFF\xFE");

  // Without --replace the loaded contacts join the existing ones.
  Result loaded = Batch("load-contacts " + file("contacts.txt"));
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out,
            "Удалить существующие Контакты?\n"
            "Импорт Контактов завершен. Загружено записей: 2\n");
  EXPECT_EQ(Count("contacts"), 4);

  // --replace purges first, then loads: the store holds what was saved.
  loaded = Batch("--replace load-contacts " + file("contacts.txt"));
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_NE(loaded.err.find("Удаление Контактов..."), std::string::npos);
  EXPECT_EQ(Count("contacts"), 2);
  EXPECT_EQ(Handheld("dump contacts").out, dumped.out);
}

TEST_F(BatchTest, CallsSaved) {
  Result added = Handheld("add calls",
                          "{\"Number\": \"+79001234567\", \"Type\": 1}\n"
                          "{\"Number\": \"+79007654321\", \"Type\": 2}\n"
                          "{\"Number\": \"112\", \"Type\": 0}\n");
  ASSERT_EQ(added.status, 0) << added.err;
  Result saved = Batch("save-calls " + file("calls.txt"));
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "Экспорт Звонков завершен. Сохранено записей: 3\n");
  EXPECT_EQ(shell_testing::RecordCount(ReadFileBytes(sandbox().path("calls.txt"))), 3);
}

TEST_F(BatchTest, ExitStatuses) {
  // Error messages: 1, the message on standard output.
  Result r = Batch("save-tasks " + file("tasks.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Задач нет, сохранять нечего...\n");
  WriteFileBytes(sandbox().path("plain.txt"), "not unicode");
  r = Batch("load-tasks " + file("plain.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Файл не UNICODE!\n");
  std::filesystem::create_directory(sandbox().path("no-modules"));
  setenv("HANDHELD_MODULE_DIR", sandbox().path("no-modules").c_str(), 1);
  r = Batch("save-calls " + file("calls.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("phone.so"), std::string::npos);
  setenv("HANDHELD_FAULTS", "logon", 1);
  r = Batch("save-contacts " + file("x.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Quillmote не может работать на этом устройстве...\n");
  unsetenv("HANDHELD_FAULTS");

  // The file dialog counted as cancelled: 3, nothing touched.
  ASSERT_EQ(Handheld("add tasks", "{\"Subject\": \"Купить хлеб\"}\n").status, 0);
  WriteFileBytes(sandbox().path("old.txt"), "old");
  r = Batch("save-tasks " + file("old.txt"));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFileBytes(sandbox().path("old.txt")), "old");
  r = Batch("load-tasks " + file("missing.txt"));
  EXPECT_EQ(r.status, 3);
  // --overwrite replaces it.
  r = Batch("--overwrite save-tasks " + file("old.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Экспорт Задач завершен. Сохранено записей: 1\n");

  // Usage errors: 2.
  EXPECT_EQ(Batch("").status, 2);
  EXPECT_EQ(Batch("save-everything " + file("a.txt")).status, 2);
  EXPECT_EQ(Batch("--force save-tasks " + file("a.txt")).status, 2);
  setenv("HANDHELD_FAULTS", "no-such-point", 1);
  r = Batch("save-tasks " + file("a.txt"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("HANDHELD_FAULTS"), std::string::npos);
  unsetenv("HANDHELD_FAULTS");
  r = Batch("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: quillmote-batch"), std::string::npos);
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(BatchTest, SecondStartFindsTheRunningDialog) {
  namespace scripted = handheld::scripted;
  scripted::Script script;
  Result second;
  bool raised = false;
  script.onStart = [&](HWND dialog) {
    second = Batch("save-contacts " + file("never.txt"));
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
  EXPECT_FALSE(std::ifstream(sandbox().path("never.txt")).good());
  EXPECT_EQ(handheld::CensusReport(), "");
}

}  // namespace
