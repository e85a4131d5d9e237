// The transfer loop that every format shares, run once for each format: what an empty or
// unreadable file, a file read only in part, a folder with a FIFO and a link, a removal,
// a kept version or a save the store refuses, and an export of an unchanged store do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"
#include "interop/vdir.h"

namespace interop::testing {
namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;

struct Format {
  Kind kind;
  const char* extension;
  const char* noun;  // of the store's items
  int depth;         // where the UIDs lie (UidsInText)
  const char* text;  // a text property: "\r\nN:"
  std::function<std::string(const std::string&)> emptyNote;
  std::function<void(Session&, int)> add;  // the n-th made-up item
};

const Format kFormats[] = {
    {Kind::kContacts, ".vcf", "contact", 1, "\r\nN:",
     [](const std::string& path) { return "no cards in \"" + path + "\""; },
     [](Session& session, int n) { Add(session, Generator::Contact(n)); }},
    {Kind::kEvents, ".ics", "appointment", 2, "\r\nSUMMARY:",
     [](const std::string& path) { return path + ": no items"; },
     [](Session& session, int n) {
       Generator generator(static_cast<unsigned>(n));
       Add(session, generator.Appointment({Day(2024, 3, 31), Day(2024, 10, 27)}));
     }},
    {Kind::kTasks, ".ics", "task", 2, "\r\nSUMMARY:",
     [](const std::string& path) { return path + ": no items"; },
     [](Session& session, int n) {
       Generator generator(static_cast<unsigned>(n));
       Add(session, generator.Task());
     }},
};

class EngineTest : public handheld::testing::SandboxTest {
 protected:
  // Made-up items `first` to `first` + `count` - 1 (their UIDs are their own).
  void Fill(const Format& format, int first, int count) {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int n = first; n < first + count; ++n) format.add(session, n);
  }
  // How many items the store holds.
  long Held(const Format& format) {
    const Moved moved = Export(format.kind, sandbox().path("count") + format.extension);
    std::filesystem::remove(sandbox().path("count") + format.extension);
    return moved.result.items;
  }
  std::string Path(const Format& format, const char* name) {
    return sandbox().path(std::string(format.noun) + "-" + name) + format.extension;
  }
};

TEST_F(EngineTest, EmptyAndUnreadableFiles) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    const std::string empty = Path(format, "empty"), folder = sandbox().path("none") + "/",
                      missing = Path(format, "missing");
    // Nothing in a file, or no file in a folder: told, and no fault.
    WriteFileBytes(empty, "");
    Moved moved = Import(format.kind, empty);
    EXPECT_EQ(moved.Said(), format.emptyNote(empty) + "\n");
    EXPECT_EQ(moved.result.ExitStatus(), 0);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    EXPECT_EQ(Import(format.kind, folder).Said(), format.emptyNote(folder) + "\n");

    // A file that cannot be read stops the import, with its name, before the store changes.
    Fill(format, 0, 2);
    moved = Import(format.kind, missing, true);
    EXPECT_EQ(moved.result.error.rfind("cannot read \"" + missing + "\": ", 0), 0u)
        << moved.result.error;
    EXPECT_EQ(Held(format), 2);

    // A read that fails anywhere in a file stops the import, naming the file: never is
    // a file read only in part taken for all of it.
    const std::string file = Path(format, "items");
    Fill(format, 2, 40);
    ASSERT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    bool stopped = false;
    for (int n = 1;; ++n) {
      std::string error;
      ASSERT_TRUE(handheld::ArmFaults("readfile:" + std::to_string(n), &error)) << error;
      moved = Import(format.kind, file, true);
      handheld::ClearFaults();
      if (moved.result.error.empty()) {
        EXPECT_EQ(moved.result.items, 42) << "readfile:" << n;
        break;
      }
      stopped = true;
      EXPECT_EQ(moved.result.error.rfind("cannot read \"" + file + "\"", 0), 0u)
          << moved.result.error;
    }
    EXPECT_TRUE(stopped);
    handheld::ClearFaults();
    Import(format.kind, empty, true);  // the next format's store starts empty
    std::filesystem::remove_all(folder);
  }
}

// Read on the calling thread, a file gives the same items, counts and notes.
TEST_F(EngineTest, ReadingOnTheCallingThreadDoesWhatTheReadingThreadDoes) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    Fill(format, 1, 3);
    const std::string file = Path(format, "items"), empty = Path(format, "empty");
    ASSERT_EQ(Export(format.kind, file).result.items, 3);
    WriteFileBytes(file, ReadFileBytes(file) + ReadFileBytes(file) + "\r\nBEGIN:\r\n");
    WriteFileBytes(empty, "");
    for (const std::string& path : {file, empty}) {
      const Moved threaded = Import(format.kind, path, true);
      const long held = Held(format);
      const Moved inline_ = Import(format.kind, path, true, Reading::kInline);
      EXPECT_EQ(inline_.Said(), threaded.Said());
      EXPECT_EQ(inline_.result.Outcomes(), threaded.result.Outcomes());
      EXPECT_EQ(Held(format), held);
    }
  }
}

TEST_F(EngineTest, TheStoreRefusingARemovalOrASaveStopsTheImport) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    const std::string file = Path(format, "three");
    Fill(format, 0, 3);
    ASSERT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    std::string error;
    // A changed item whose saved version cannot be kept: left as it was, and the import
    // stops there.
    std::string text = ReadFileBytes(file);
    const size_t at = text.find(format.text);
    ASSERT_NE(at, std::string::npos);
    WriteFileBytes(file, text.insert(at + std::strlen(format.text), "Changed"));
    ASSERT_TRUE(handheld::ArmFaults("keep", &error)) << error;
    Moved moved = Import(format.kind, file);
    handheld::ClearFaults();
    EXPECT_NE(moved.result.error.find(file + ": line "), std::string::npos) << moved.result.error;
    EXPECT_NE(moved.result.error.find("was left as it was: its saved version could not be kept"),
              std::string::npos)
        << moved.result.error;
    EXPECT_EQ(Import(format.kind, file).result.Outcomes(), "0 added, 1 updated, 2 unchanged");
    // A failed removal: nothing removed, nothing imported.
    ASSERT_TRUE(handheld::ArmFaults("remove:2", &error)) << error;
    moved = Import(format.kind, file, true);
    handheld::ClearFaults();
    EXPECT_NE(moved.result.error, "");
    EXPECT_EQ(moved.result.items, 0);
    EXPECT_EQ(Held(format), 3);
    // A refused save: the file's item and line named, what was saved before stays.
    ASSERT_TRUE(handheld::ArmFaults("save:2", &error)) << error;
    moved = Import(format.kind, file, true);
    handheld::ClearFaults();
    EXPECT_NE(moved.result.error.find(file + ": line "), std::string::npos) << moved.result.error;
    EXPECT_NE(moved.result.error.find(std::string("the store could not save the ") + format.noun),
              std::string::npos)
        << moved.result.error;
    EXPECT_EQ(moved.result.items, 1);
    EXPECT_EQ(Held(format), 1);
    const std::string empty = Path(format, "empty");
    WriteFileBytes(empty, "");
    Import(format.kind, empty, true);
  }
}

// What an export wrote, imported back into the same store, changes nothing: every item
// is "unchanged" and no saved version is kept.
TEST_F(EngineTest, AnExportImportedBackChangesNothing) {
  setenv("TZ", "Europe/Berlin", 1);
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    Fill(format, 0, 90);
    for (const std::string& target : {Path(format, "all"), sandbox().path(format.noun) + "/"}) {
      ASSERT_EQ(Export(format.kind, target).Said(), "") << target;
      const Moved moved = Import(format.kind, target);
      EXPECT_EQ(moved.Said(), "") << target;
      EXPECT_EQ(moved.result.Outcomes(), "0 added, 0 updated, 90 unchanged") << target;
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox().removedPath()));
    WriteFileBytes(Path(format, "empty"), "");
    Import(format.kind, Path(format, "empty"), true);
    std::filesystem::remove_all(sandbox().removedPath());  // the purge's copy
  }
}

// A FIFO and a link to an endless device where an item's file goes are replaced, never
// read (reading either would never end), and a second export of an unchanged store
// writes nothing: neither a file nor a folder's files change, time stamps included.
TEST_F(EngineTest, FoldersWithFifosAndLinksAndExportsThatChangeNothing) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    Fill(format, 0, 3);
    const std::string file = Path(format, "all"), folder = sandbox().path(format.noun);
    ASSERT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    const std::vector<std::string> uids = UidsInText(ReadFileBytes(file), format.depth);
    ASSERT_EQ(uids.size(), 3u);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string fifo = folder + "/" + FileNameForUid(uids[0], format.extension),
                      link = folder + "/" + FileNameForUid(uids[1], format.extension),
                      other = folder + "/other" + format.extension;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
    WriteFileBytes(other, "not ours");
    ASSERT_EQ(Export(format.kind, folder).result.ExitStatus(), 0);
    struct stat info;
    for (const std::string& path : {fifo, link}) {
      ASSERT_EQ(lstat(path.c_str(), &info), 0);
      EXPECT_TRUE(S_ISREG(info.st_mode)) << path;
    }
    EXPECT_EQ(ReadFileBytes(other), "not ours");

    std::vector<std::string> paths;
    std::string error;
    ASSERT_TRUE(ListFolder(folder, format.extension, &paths, &error)) << error;
    paths.push_back(file);
    std::vector<struct stat> before(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) ASSERT_EQ(stat(paths[i].c_str(), &before[i]), 0);
    const std::string bytes = ReadFileBytes(file);
    EXPECT_EQ(Export(format.kind, folder).result.ExitStatus(), 0);
    EXPECT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    EXPECT_EQ(ReadFileBytes(file), bytes);
    for (size_t i = 0; i < paths.size(); ++i) {
      ASSERT_EQ(stat(paths[i].c_str(), &info), 0);
      EXPECT_EQ(info.st_ino, before[i].st_ino) << paths[i];
      EXPECT_EQ(info.st_mtim.tv_nsec, before[i].st_mtim.tv_nsec) << paths[i];
    }
  }
}

}  // namespace
}  // namespace interop::testing
