// The transfer loop that every format shares, run once for each format: made-up items
// through a file and a folder and back under several zones; what an empty or unreadable
// file, a file read only in part, a folder with a FIFO and a link, an update by UID, a
// removal, a kept version or a save the store refuses, and an export of an unchanged store
// do.
#include <gtest/gtest.h>
#include <sys/resource.h>
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

// Days on which the clocks change in Berlin and New York in the items' years.
const std::vector<sys_days> kChanges = {Day(2023, 3, 12),  Day(2023, 3, 26), Day(2023, 10, 29),
                                        Day(2023, 11, 5),  Day(2024, 3, 10), Day(2024, 3, 31),
                                        Day(2024, 10, 27), Day(2024, 11, 3), Day(2025, 3, 30)};

const Format kFormats[] = {
    {Kind::kContacts, ".vcf", "contact", 1, "\r\nN:",
     [](const std::string& path) { return "no cards in \"" + path + "\""; },
     [](Session& session, int n) {
       ContactValues c = Generator::Contact(n);
       for (std::u16string& text : c.texts) {
         if (n == 1 && text.empty()) text = u"filled";  // one with every text, one with none
       }
       Add(session, n == 2 ? ContactValues{} : c);
     }},
    {Kind::kEvents, ".ics", "appointment", 2, "\r\nSUMMARY:",
     [](const std::string& path) { return path + ": no items"; },
     [](Session& session, int n) {
       Generator generator(static_cast<unsigned>(n));
       Add(session, generator.Appointment(kChanges));
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
  long Held(const Format& format) { return static_cast<long>(HeldFields(format.kind).size()); }
  std::string Path(const Format& format, const std::string& name) {
    return sandbox().path(std::string(format.noun) + "-" + name) + format.extension;
  }
  void UseStore(const Format& format, const std::string& name) {
    setenv("HANDHELD_STORE", sandbox().path(std::string(format.noun) + "-" + name + ".db").c_str(), 1);
  }
  // The first "text" property of `path`'s first item that has one begins with "Changed".
  void Change(const Format& format, const std::string& path) {
    std::string text = ReadFileBytes(path);
    const size_t at = text.find(format.text);
    ASSERT_NE(at, std::string::npos);
    WriteFileBytes(path, text.insert(at + std::strlen(format.text), "Changed"));
  }
};

// Made-up items exported to a file and to a folder come back whole into a store of their
// own (property by property, matched by UID; a folder of more files than may be open at
// once), under two zones with daylight saving, one without and one without a name
// (floating times); imported back into the store they came from, they change nothing: no
// item is updated and no saved version is kept.
TEST_F(EngineTest, ExportsComeBackWholeAndImportedBackChangeNothing) {
  const char* const kZones[] = {"Europe/Berlin", "America/New_York", "Asia/Kolkata", "XYZ-3"};
  for (int z = 0; z < 4; ++z) {
    setenv("TZ", kZones[z], 1);
    for (const Format& format : kFormats) {
      SCOPED_TRACE(std::string(kZones[z]) + " " + format.noun);
      const std::string name = "zone" + std::to_string(z);
      UseStore(format, name);
      Fill(format, 0, 120);
      for (const std::string& target : {Path(format, name), sandbox().path(format.noun + name) + "/"}) {
        ASSERT_EQ(Export(format.kind, target).Said(), "") << target;
        const std::vector<std::vector<std::string>> saved = HeldFields(format.kind, true);
        const Moved again = Import(format.kind, target);
        EXPECT_EQ(again.Said(), "") << target;
        EXPECT_EQ(again.result.Outcomes(), "0 added, 0 updated, 120 unchanged") << target;
        UseStore(format, name + (target.back() == '/' ? "-folder" : "-file"));
        rlimit before;
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
        rlimit few = before;
        few.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
        const Moved back = Import(format.kind, target);
        setrlimit(RLIMIT_NOFILE, &before);
        EXPECT_EQ(back.Said(), "") << target;
        EXPECT_EQ(Differences(saved, HeldFields(format.kind, true)), "") << target;
        UseStore(format, name);
      }
    }
  }
  EXPECT_FALSE(std::filesystem::exists(sandbox().removedPath()));
}

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

// The files are read on a thread of their own, batches ahead of the saving: a store that
// refuses to keep a saved version, to remove or to save stops the import, and keeps what
// was saved before.
TEST_F(EngineTest, TheStoreRefusingARemovalOrASaveStopsTheImport) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    UseStore(format, "refusing");
    const std::string file = Path(format, "many");
    Fill(format, 0, 400);
    ASSERT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    std::string error;
    // A changed item whose saved version cannot be kept: left as it was, and the import
    // stops there.
    Change(format, file);
    ASSERT_TRUE(handheld::ArmFaults("keep", &error)) << error;
    Moved moved = Import(format.kind, file);
    handheld::ClearFaults();
    EXPECT_NE(moved.result.error.find(file + ": line "), std::string::npos) << moved.result.error;
    EXPECT_NE(moved.result.error.find("was left as it was: its saved version could not be kept"),
              std::string::npos)
        << moved.result.error;
    EXPECT_EQ(Import(format.kind, file).result.Outcomes(), "0 added, 1 updated, 399 unchanged");
    // A failed removal: nothing removed, nothing imported.
    ASSERT_TRUE(handheld::ArmFaults("remove:2", &error)) << error;
    moved = Import(format.kind, file, true);
    handheld::ClearFaults();
    EXPECT_NE(moved.result.error, "");
    EXPECT_EQ(moved.result.items, 0);
    EXPECT_EQ(Held(format), 400);
    // A refused save: the file's item and line named, what was saved before stays.
    ASSERT_TRUE(handheld::ArmFaults("save:100", &error)) << error;
    moved = Import(format.kind, file, true);
    handheld::ClearFaults();
    EXPECT_EQ(moved.result.ExitStatus(), 1);
    EXPECT_NE(moved.result.error.find(file + ": line "), std::string::npos) << moved.result.error;
    EXPECT_NE(moved.result.error.find(std::string("the store could not save the ") + format.noun),
              std::string::npos)
        << moved.result.error;
    EXPECT_EQ(moved.result.items, 99);
    EXPECT_EQ(Held(format), 99);
  }
}

// A file's item whose UID an item of the store holds updates that item (its saved version
// kept first, in a file that imports back) or leaves it alone; other items are added; with
// `replace` the store holds what the file holds, with its UIDs. An export to a place that
// cannot be written changes nothing and says where.
TEST_F(EngineTest, ImportsUpdateOrLeaveAloneByUidAddTheRestOrReplace) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    UseStore(format, "uids");
    const std::string three = Path(format, "three"), four = Path(format, "four");
    Fill(format, 0, 3);
    ASSERT_EQ(Export(format.kind, three).Said(), "");
    const std::vector<std::vector<std::string>> before = HeldFields(format.kind, true);
    Fill(format, 3, 1);
    ASSERT_EQ(Export(format.kind, four).Said(), "");
    const std::vector<std::vector<std::string>> all = HeldFields(format.kind, true);
    EXPECT_EQ(Import(format.kind, three, true).result.Outcomes(), "3 added, 0 updated, 0 unchanged");
    EXPECT_EQ(HeldFields(format.kind, true), before);
    std::filesystem::remove_all(sandbox().removedPath());  // the purge's copies

    Change(format, four);
    EXPECT_EQ(Import(format.kind, four).result.Outcomes(), "1 added, 1 updated, 2 unchanged");
    const std::vector<std::vector<std::string>> changed = HeldFields(format.kind, true);
    ASSERT_EQ(changed.size(), 4u);
    int updated = 0;
    for (size_t i = 0; i < all.size(); ++i) {
      const std::string differences = Differences(all[i], changed[i]);
      updated += !differences.empty();
      EXPECT_TRUE(differences.empty() || differences.find("=Changed") != std::string::npos)
          << differences;
    }
    EXPECT_EQ(updated, 1);
    std::vector<std::string> kept;
    std::string error;
    ASSERT_TRUE(ListFolder(sandbox().removedPath(), format.extension, &kept, &error)) << error;
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Import(format.kind, kept[0]).result.Outcomes(), "0 added, 1 updated, 0 unchanged");
    EXPECT_EQ(HeldFields(format.kind, true), all);
    std::filesystem::remove_all(sandbox().removedPath());

    WriteFileBytes(sandbox().path("plain"), "a file");
    const Moved blocked = Export(format.kind, sandbox().path("plain") + "/x" + format.extension);
    EXPECT_EQ(blocked.result.ExitStatus(), 1);
    EXPECT_NE(blocked.result.error.find("plain"), std::string::npos) << blocked.result.error;
  }
}

// An export through a link writes its target. A FIFO and a link to an endless device
// where an item's file goes are replaced, never read (reading either would never end), and a second export of an unchanged store
// writes nothing: neither a file nor a folder's files change, time stamps included.
TEST_F(EngineTest, FoldersWithFifosAndLinksAndExportsThatChangeNothing) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.noun);
    Fill(format, 0, 3);
    const std::string file = Path(format, "all"), folder = sandbox().path(format.noun);
    ASSERT_EQ(Export(format.kind, file).result.ExitStatus(), 0);
    const std::vector<std::string> uids = UidsInText(ReadFileBytes(file), format.depth);
    ASSERT_EQ(uids.size(), 3u);
    // A file exported to through a link is written in its own folder; the link stays.
    const std::string linked = Path(format, "linked");
    ASSERT_TRUE(std::filesystem::create_directory(folder + ".real"));
    ASSERT_EQ(symlink((folder + ".real/target" + format.extension).c_str(), linked.c_str()), 0);
    for (int twice = 0; twice < 2; ++twice) {  // leading nowhere yet, then to the file
      ASSERT_EQ(Export(format.kind, linked).result.ExitStatus(), 0);
      EXPECT_TRUE(std::filesystem::is_symlink(linked));
    }
    EXPECT_EQ(UidsInText(ReadFileBytes(folder + ".real/target" + format.extension), format.depth),
              uids);
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
