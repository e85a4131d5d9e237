// quillmote-batch: runs one of Quillmote's seven data commands without a screen. The
// main dialog and the job launch run as they do on the desktop, on the
// scripted window backend, which answers the dialogs from the command line: the file
// dialog with FILE, the overwrite question and the removal prompt with the options.
// Message boxes go to standard output, status texts to standard error, and so does a
// progress bar when standard error is a terminal.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "app/resources.h"
#include "app/shell.h"
#include "handheld/faults.h"
#include "handheld/utf16.h"
#include "handheld/window/scripted.h"
#include "worker/job.h"

namespace {

namespace scripted = handheld::scripted;

constexpr const char* kUsage =
    "usage: quillmote-batch [--replace] [--overwrite] COMMAND FILE\n"
    "       quillmote-batch --help\n"
    "\n"
    "Runs one Quillmote command without a screen and answers its dialogs. COMMAND is one\n"
    "of save-contacts, load-contacts, save-calendar, load-calendar, save-tasks,\n"
    "load-tasks, save-calls; FILE is the backup file to save to or to load from.\n"
    "\n"
    "  --overwrite  a save may replace an existing FILE; without it the save dialog\n"
    "               counts as cancelled and nothing is written\n"
    "  --replace    a load first removes the items of that kind already in the store\n"
    "               (the answer to Quillmote's removal question); without it the loaded\n"
    "               items are added next to them\n"
    "\n"
    "Every message Quillmote shows is printed on standard output, one per line; status\n"
    "texts, a warning for each value a load dropped or a save's file does not carry, and\n"
    "where a save that ended early left its records go to standard error, and so does a\n"
    "progress bar when standard error is a terminal.\n"
    "\n"
    "Environment: HANDHELD_STORE names the store file (default\n"
    "${XDG_DATA_HOME:-$HOME/.local/share}/quillmote/handheld.db), or eds:, eds:UID or\n"
    "eds:NAME Evolution Data Server's sources (the call log is then GNOME Calls'\n"
    "history); HANDHELD_MODULE_DIR the folder of phone.so (default: beside this\n"
    "program); HANDHELD_FAULTS arms injected faults.\n"
    "\n"
    "Exit status: 0 the command completed, 1 an error message was shown (a save then\n"
    "leaves FILE as it was and its records in FILE.partial), 2 a usage\n"
    "error, 3 the file dialog counted as cancelled (a save to an existing FILE without\n"
    "--overwrite, a load of a FILE that does not exist), 4 the Quillmote window is busy\n"
    "with a job of its own (nothing was done; an idle window does not stop a command).\n";

constexpr std::string_view kCommandNames[7] = {
    "save-contacts", "load-contacts", "save-calendar", "load-calendar",
    "save-tasks",    "load-tasks",    "save-calls",
};

int UsageError(const std::string& problem) {
  std::cerr << "quillmote-batch: " << problem << "\n" << kUsage;
  return 2;
}

std::string MessageLine(std::u16string_view text) {
  std::u16string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    lines.push_back(text[i]);
  }
  return handheld::Utf8FromUtf16(lines);
}

struct Run {
  HINSTANCE instance = nullptr;
  WORD command = 0;
  std::u16string file;
  bool replace = false;
  bool overwrite = false;
  bool terminal = false;  // standard error is a terminal: progress as a bar

  bool sawError = false;
  std::u16string partial;  // the save's partial file, while the save runs
  bool partialKept = false;
  bool sawCompletion = false;
  bool cancelled = false;
  bool waitLimit = false;
  bool exitPosted = false;
  bool barShown = false;
  long lastPercent = 0;
  bool barVisible = false;
};

Run run;

// What a value that the backup file does not carry lost, by ValueLoss.
constexpr const char* kLossTexts[kValueLosses] = {
    "the field is longer than the column takes and was not loaded",
    "the date is outside the years 1900 to 2999 the file holds and was saved empty",
    "the time of day was not saved, only the day",
    "a recipient's name was not saved, only the address",
    "the sensitivity was saved but will not load back (only 0 and 2 do)",
    "the text is longer than the column takes and will not load back",
};

void EndBar() {
  if (run.barShown) {
    std::cerr << "\n";
    run.barShown = false;
  }
}

void ShowProgress(long percent) {
  // The display resets the bar to 0 whenever it switches; only changes of the shown bar
  // are reported.
  if (!run.barVisible || percent == run.lastPercent) return;
  run.lastPercent = percent;
  if (!run.terminal) return;  // a log gets the status texts, not a line per percent
  constexpr int kWidth = 30;
  long filled = percent * kWidth / 100;
  std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kWidth - filled), '.') + "] " +
                    std::to_string(percent) + "%";
  std::cerr << bar << std::flush;
  run.barShown = true;
}

void PostExit(HWND dialog) {
  if (run.exitPosted) return;
  run.exitPosted = true;
  PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
}

scripted::Script MakeScript() {
  scripted::Script script;
  // A window started while this runs opens as usual instead of finding this run.
  script.listed = false;
  script.onStart = [](HWND dialog) {
    // The start-up failed and the dialog has ended.
    if (ShellOf(dialog) == nullptr || ShellOf(dialog)->menuBar == nullptr) return;
    if (run.command == IDM_SAVE_CALLS &&
        (scripted::MenuItemState(dialog, IDM_SAVE_CALLS) & MF_GRAYED) != 0) {
      std::cerr << "quillmote-batch: save-calls is not available: the call-log library "
                   "(phone.so) was not found\n";
      run.sawError = true;
      PostExit(dialog);
      return;
    }
    PostMessageW(dialog, WM_COMMAND, run.command, 0);
  };
  script.afterMessage = [](HWND dialog, const MSG& message) {
    // The job is over once the worker's end has been handled, or at once when the
    // launch gave up or was cancelled: then the exit command logs off and unloads.
    if (message.message == WM_JOBNOTIFY && message.wParam == NotifyFieldDropped) {
      EndBar();
      std::cerr << "quillmote-batch: record " << DroppedRecord(message.lParam) << ", column "
                << DroppedColumn(message.lParam) << ": "
                << kLossTexts[std::min<size_t>(DroppedLoss(message.lParam), kValueLosses - 1)]
                << "\n";
    } else if (message.message == WM_JOBNOTIFY && message.wParam == NotifyEnded) {
      if (!run.partial.empty() &&
          GetFileAttributesW(run.partial.c_str()) == FILE_ATTRIBUTE_NORMAL) {
        EndBar();
        std::cerr << "quillmote-batch: the save ended early: " << handheld::Utf8FromUtf16(run.file)
                  << " is as it was, the records saved are in "
                  << handheld::Utf8FromUtf16(run.partial) << "\n";
        run.partialKept = true;
      }
      PostExit(dialog);
    } else if (message.message == WM_COMMAND && LOWORD(message.wParam) == run.command) {
      if (ShellOf(dialog)->link.worker == nullptr) {
        PostExit(dialog);
      } else {
        run.partial = ShellOf(dialog)->savePartial;
      }
    }
  };
  script.onMessageBox = [](const scripted::MessageBoxCall& call) {
    EndBar();
    std::cout << MessageLine(call.text) << "\n" << std::flush;
    if ((call.type & MB_YESNO) != 0) {
      // The removal prompt. (The exit question does not come, as the exit command
      // follows the job's end; should it come, the answer is to stop.)
      WCHAR exitQuestion[kTextChars];
      LoadStringW(run.instance, IDS_EXIT_QUESTION, exitQuestion, kTextChars);
      if (call.text == exitQuestion) return IDYES;
      return run.replace ? IDYES : IDNO;
    }
    // The icon is a value of its own in these bits (a warning is neither error nor
    // completion).
    const UINT icon = call.type & 0xF0;
    if (icon == MB_ICONSTOP) run.sawError = true;
    if (icon == MB_ICONINFORMATION) run.sawCompletion = true;
    return IDOK;
  };
  script.onFileDialog = [](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    return run.file;
  };
  script.onOverwrite = [](const std::u16string&) { return run.overwrite; };
  script.onLog = [](const scripted::LogEntry& entry) {
    switch (entry.event) {
      case scripted::Event::kText:
        if (entry.control == IDC_STATUS) {
          EndBar();
          std::cerr << handheld::Utf8FromUtf16(entry.text) << "\n";
        }
        break;
      case scripted::Event::kShow:
        if (entry.control == IDC_PROGRESS) {
          run.barVisible = entry.value != 0;
          run.lastPercent = 0;
        }
        break;
      case scripted::Event::kProgress:
        if (entry.control == IDC_PROGRESS) ShowProgress(entry.value);
        break;
      case scripted::Event::kFileDialog:
        if (entry.path.empty()) run.cancelled = true;
        break;
      case scripted::Event::kOverwrite:
        if (entry.value == 0) {
          run.cancelled = true;
          EndBar();
          std::cerr << "quillmote-batch: " << handheld::Utf8FromUtf16(entry.path)
                    << " exists; give --overwrite to replace it\n";
        }
        break;
      case scripted::Event::kFileRefused:
        run.cancelled = true;
        EndBar();
        std::cerr << "quillmote-batch: " << handheld::Utf8FromUtf16(entry.path) << ": "
                  << handheld::Utf8FromUtf16(entry.text) << "\n";
        break;
      case scripted::Event::kWaitLimit:
        run.waitLimit = true;
        break;
      default:
        break;
    }
  };
  return script;
}

}  // namespace

int main(int argc, char** argv) {
  std::string_view commandName;
  std::string fileName;
  int positional = 0;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      std::cout << kUsage;
      return 0;
    }
    if (!optionsEnded && arg == "--replace") {
      run.replace = true;
    } else if (!optionsEnded && arg == "--overwrite") {
      run.overwrite = true;
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option \"" + std::string(arg) + "\"");
    } else if (positional == 0) {
      commandName = arg;
      ++positional;
    } else if (positional == 1) {
      fileName = std::string(arg);
      ++positional;
    } else {
      return UsageError("too many arguments");
    }
  }
  if (positional < 2) return UsageError("a command and a file are needed");
  for (int i = 0; i < 7; ++i) {
    if (kCommandNames[i] == commandName) run.command = static_cast<WORD>(IDM_FIRST_JOB + i);
  }
  if (run.command == 0) {
    return UsageError("unknown command \"" + std::string(commandName) + "\"");
  }
  bool wellFormed = false;
  run.file = handheld::Utf16FromUtf8(fileName, &wellFormed);
  if (!wellFormed || fileName.empty()) return UsageError("FILE must be a non-empty UTF-8 path");

  std::string error;
  if (!handheld::ArmFaultsFromEnvironment(&error)) {
    std::cerr << "quillmote-batch: " << error << "\n";
    return 2;
  }
  run.terminal = isatty(STDERR_FILENO) != 0;

  run.instance = RegisterResources(&QuillmoteResources);
  scripted::SetScript(MakeScript());
  // The command runs beside an idle Quillmote window, which is neither disturbed nor
  // raised; a window in its busy display (the progress bar shown: a job from the choice
  // of the file to its result) is left to its job.
  WCHAR product[kTextChars];
  LoadStringW(run.instance, IDS_PRODUCT, product, kTextChars);
  HWND window = FindWindowW(nullptr, product);
  if (window != nullptr && IsWindowVisible(GetDlgItem(window, IDC_PROGRESS))) {
    std::cerr << "quillmote-batch: the Quillmote window is busy with a job of its own; "
                 "nothing was done\n";
    return 4;
  }
  RunMainDialog(run.instance);
  EndBar();

  if (run.waitLimit) {
    std::cerr << "quillmote-batch: Quillmote stopped answering\n";
    return 1;
  }
  if (run.sawError || run.partialKept) return 1;
  if (run.sawCompletion) return 0;
  if (run.cancelled) return 3;
  return 1;
}
