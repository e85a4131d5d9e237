// libFuzzer target: arbitrary bytes as a backup file of one kind (QUILLMOTE_FUZZ_KIND: 0
// Contacts, 1 Calendar, 2 Tasks), loaded the way a person loads it: the program entry and
// the main dialog on the scripted window backend, the load command, the open dialog
// answered with the file, the removal prompt answered Yes, and the worker's import run
// against a scratch store.
//
// Every input must leave the program in order; anything else aborts so that libFuzzer
// keeps the input:
// - the dialog ends by the exit command, never by the scripted loop's wait limit;
// - the launch starts the worker exactly when the file begins with FF FE, and refuses
//   every other file with "Файл не UNICODE!" alone;
// - a started worker posts exactly one JobNotify code 0, after exactly one completion or
//   error, and is gone afterwards;
// - an even-length file completes, an odd-length one stops with the read error, and no
//   item fails to be created;
// - a completed load reports as many records as the file holds by the reader's rules
//   (counted here independently, with the kind's column limits), and the kind's folder
//   then holds that many (the removal prompt emptied it first); a load stopped by a
//   stray last byte has saved exactly the records ended before it;
// - nothing stays held: the census is empty.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/resources.h"
#include "app/shell.h"
#include "handheld/census.h"
#include "handheld/utf16.h"
#include "handheld/window/scripted.h"
#include "platform/store.h"
#include "records/kinds.h"
#include "worker/job.h"

#ifndef QUILLMOTE_FUZZ_KIND
#error "QUILLMOTE_FUZZ_KIND must be 0 (Contacts), 1 (Calendar) or 2 (Tasks)"
#endif

namespace {

namespace scripted = handheld::scripted;

constexpr int kKind = QUILLMOTE_FUZZ_KIND;
static_assert(kKind >= 0 && kKind <= 2, "only contacts, calendar and tasks are loaded");
constexpr WORD kLoadCommand = static_cast<WORD>(IDM_FIRST_JOB + 1 + 2 * kKind);
constexpr LONG kFolderIds[3] = {olFolderContacts, olFolderCalendar, olFolderTasks};

std::string scratchDir;
std::string backupPath;

// What one run showed and posted.
struct Observed {
  bool started = false;     // the worker was running once the load command was handled
  bool exitPosted = false;  // the exit command has been posted
  int ended = 0;            // JobNotify code 0
  int errors = 0;           // JobNotify code 2
  int done = 0;             // JobNotify code 4
  LPARAM lastError = 0;
  LPARAM doneValue = 0;
  int stopBoxes = 0;        // message boxes with the stop icon
  std::u16string lastStop;  // the text of the last of them
  bool waitLimit = false;
};

Observed seen;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "import_fuzz: %s\n", what);
  std::fprintf(stderr,
               "  started=%d ended=%d errors=%d (last %ld) done=%d (value %ld) "
               "stop boxes=%d census=\"%s\"\n",
               seen.started, seen.ended, seen.errors, static_cast<long>(seen.lastError), seen.done,
               static_cast<long>(seen.doneValue), seen.stopBoxes, handheld::CensusReport().c_str());
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

void RemoveScratch() {
  std::error_code ignored;
  if (!scratchDir.empty()) std::filesystem::remove_all(scratchDir, ignored);
}

void PostExit(HWND dialog) {
  if (seen.exitPosted) return;
  seen.exitPosted = true;
  PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
}

scripted::Script LoadScript() {
  scripted::Script script;
  script.waitLimit = std::chrono::milliseconds(30000);
  script.onStart = [](HWND dialog) {
    Check(ShellOf(dialog) != nullptr && ShellOf(dialog)->menuBar != nullptr,
          "the main dialog did not start (store logon or menu bar)");
    PostMessageW(dialog, WM_COMMAND, kLoadCommand, 0);
  };
  script.afterMessage = [](HWND dialog, const MSG& message) {
    if (message.message == WM_COMMAND && LOWORD(message.wParam) == kLoadCommand) {
      seen.started = ShellOf(dialog)->link.worker != nullptr;
      if (!seen.started) PostExit(dialog);
    } else if (message.message == WM_JOBNOTIFY) {
      switch (message.wParam) {
        case NotifyEnded:
          ++seen.ended;
          PostExit(dialog);
          break;
        case NotifyError:
          ++seen.errors;
          seen.lastError = message.lParam;
          break;
        case NotifyDone:
          ++seen.done;
          seen.doneValue = message.lParam;
          break;
        default:
          break;
      }
    }
  };
  script.onMessageBox = [](const scripted::MessageBoxCall& call) {
    if ((call.type & MB_YESNO) != 0) return IDYES;  // remove what the store holds first
    if ((call.type & 0xF0) == MB_ICONSTOP) {
      ++seen.stopBoxes;
      seen.lastStop = call.text;
    }
    return IDOK;
  };
  script.onFileDialog = [](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    return handheld::Utf16FromUtf8(backupPath);
  };
  script.onLog = [](const scripted::LogEntry& entry) {
    if (entry.event == scripted::Event::kWaitLimit) seen.waitLimit = true;
  };
  return script;
}

// Items in the kind's folder, read through the store as the launch reads them.
long FolderCount() {
  StoreSession store;
  Check(OpenStore(store), "the scratch store cannot be opened for counting");
  IPOutlookApp* app = GetStoreApp(store);
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = -1;
  if (app != nullptr && app->GetDefaultFolder(kFolderIds[kKind], &folder) >= 0 &&
      folder->get_Items(&items) >= 0) {
    items->get_Count(&count);
    items->Release();
  }
  if (folder != nullptr) folder->Release();
  if (app != nullptr) app->Release();
  CloseStore(store);
  return count;
}

// The records of a file (byte-order mark first) by the reader's rules: CR is dropped
// everywhere; TAB ends a field, LF a field and a record, and so does the end of a whole
// file when something is pending (`wholeFile`; a stray last byte stops the reader
// instead, and the pending record is lost); a record counts when one of its fields is
// non-empty and within its column's limit; a field over the limit is dropped whole.
long ExpectedRecords(const uint8_t* data, size_t size, bool wholeFile) {
  const KindEntry& entry = KindEntryFor(static_cast<ItemKind>(kKind));
  long records = 0;
  int32_t column = 0, length = 0;
  bool tooLong = false, handedOver = false;
  auto endField = [&](bool endsRecord) {
    if (length > 0 && !tooLong) handedOver = true;
    length = 0;
    tooLong = false;
    ++column;
    if (endsRecord) {
      if (handedOver) ++records;
      handedOver = false;
      column = 0;
    }
  };
  for (size_t at = 2; at + 1 < size; at += 2) {
    const char16_t unit = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    if (unit == u'\r') continue;
    if (unit == u'\t' || unit == u'\n') {
      endField(unit == u'\n');
    } else if (!tooLong) {
      ++length;
      if (length > std::min(entry.columnLimit(column), kLineBufferChars)) tooLong = true;
    }
  }
  if (wholeFile && (length > 0 || column > 0)) endField(true);
  return records;
}

std::u16string StringText(UINT id) {
  WCHAR text[kTextChars];
  LoadStringW(RegisterResources(&QuillmoteResources), id, text, kTextChars);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The store syncs every saved item; on a memory file system that costs nothing.
  // A machine whose /dev/shm cannot be written to gets the ordinary temporary folder.
  std::error_code ignored;
  const bool memory = std::getenv("TMPDIR") == nullptr;
  std::string base = "/dev/shm/quillmote-fuzz-XXXXXX";
  if (!memory || mkdtemp(base.data()) == nullptr) {
    base = std::filesystem::temp_directory_path(ignored).string() + "/quillmote-fuzz-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) {
      std::perror("import_fuzz: mkdtemp");
      std::exit(1);
    }
  }
  scratchDir = base;
  backupPath = scratchDir + "/backup.txt";
  setenv("HANDHELD_STORE", (scratchDir + "/handheld.db").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", scratchDir.c_str(), 1);  // the instance registry
  // No call-log module here: libFuzzer cannot follow an instrumented module that the
  // dialog unloads at its end, and a load never uses the call log (its save command is
  // only greyed).
  setenv("HANDHELD_MODULE_DIR", scratchDir.c_str(), 1);
  unsetenv("HANDHELD_FAULTS");
  std::atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(backupPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(out.good(), "the scratch backup file cannot be written");
  }
  seen = Observed{};
  scripted::SetScript(LoadScript());
  bool instanceFound = false;
  ProgramEntry(RegisterResources(&QuillmoteResources), &instanceFound);

  Check(!seen.waitLimit, "the dialog waited in vain: the job hung or never ended");
  Check(!instanceFound, "another instance was found in the scratch folder");

  const bool marked = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (!marked) {
    Check(!seen.started, "a file without the byte-order mark was loaded");
    Check(seen.stopBoxes == 1 && seen.lastStop == StringText(IDS_NOT_UNICODE),
          "a file without the byte-order mark was not refused with its one message");
  } else {
    Check(seen.started, "a file with the byte-order mark was refused");
    Check(seen.ended == 1, "the worker did not post exactly one code 0");
    Check(seen.errors + seen.done == 1, "the job did not end with exactly one outcome");
    if (size % 2 != 0) {
      Check(seen.errors == 1 && seen.lastError == static_cast<LPARAM>(IDS_READ_ERROR),
            "an odd-length file did not stop with the read error");
    } else {
      Check(seen.done == 1, "an even-length file did not complete");
      Check(DoneStringId(seen.doneValue) == static_cast<int32_t>(IDS_IMPORT_DONE + kKind),
            "the completion names the wrong message");
    }
  }
  Check(handheld::CensusReport().empty(), "something is still held after the job");

  if (marked) {
    // The folder was emptied by the removal prompt's Yes (or was empty), so it holds
    // exactly the records read: all of a whole file, and those ended before a stray
    // last byte.
    const long expected = ExpectedRecords(data, size, size % 2 == 0);
    if (seen.done == 1) {
      Check(static_cast<long>(DoneCount(seen.doneValue)) == expected,
            "the completion's count differs from the records in the file");
    }
    Check(FolderCount() == expected, "the store does not hold the records of the file");
    Check(handheld::CensusReport().empty(), "counting the folder left something held");
  }
  std::remove(backupPath.c_str());
  return 0;
}
