// quillmote-convert: one step between a Quillmote backup file and another program's file
// or folder (a vCard file or an address-book folder for contacts, an iCalendar file or a
// calendar folder for appointments and tasks), in either direction.
//
// The backup side is handled by quillmote-batch itself, run as a child process on a
// temporary store of the conversion's own: the real load or save job, with its messages
// and exit statuses. The other side is the store's export or import (interop/). The
// temporary store, and the instance registry that the child uses, live in a temporary
// folder that is removed at the end, so that a conversion never touches the handheld's
// store and may run while Quillmote is open.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/process.h"
#include "interop/formats.h"
#include "interop/vdir.h"

namespace {

constexpr const char* kUsage =
    "usage: quillmote-convert [--kind KIND] [--overwrite] IN OUT\n"
    "       quillmote-convert --help\n"
    "\n"
    "Converts a Quillmote backup file (recognised by its byte-order mark) into another\n"
    "program's file, or such a file into a backup file. For contacts that is a vCard file\n"
    "(.vcf) or an address-book folder (a folder, or a path ending in '/', with one .vcf\n"
    "per contact); for the calendar and tasks an iCalendar file (.ics) or a calendar\n"
    "folder (one .ics per item).\n"
    "\n"
    "  --kind KIND  what the backup file holds; by default the kind that the other side's\n"
    "               files are for (.vcf: contacts; .ics: calendar or tasks, by the\n"
    "               components they hold, so a new .ics needs --kind). Known kinds: %KINDS%\n"
    "  --overwrite  an existing OUT file may be replaced (a folder is always updated)\n"
    "\n"
    "The backup side is loaded or saved by quillmote-batch's own job on a temporary store,\n"
    "which is removed afterwards: its messages are printed as quillmote-batch prints them.\n"
    "What the other side cannot keep is summed up on standard error; reading it prints how\n"
    "many items were added, updated (a later item of the same UID) and left unchanged.\n"
    "\n"
    "Exit status: as quillmote-batch's: 0 done, 1 an error (or an item skipped), 2 a usage\n"
    "error, 3 IN does not exist or OUT exists without --overwrite.\n";

int Usage(const std::string& problem) {
  std::string usage = kUsage;
  usage.replace(usage.find("%KINDS%"), 7, interop::FormatKinds());
  if (problem.empty()) {
    std::cout << usage;
    return 0;
  }
  std::cerr << "quillmote-convert: " << problem << "\n" << usage;
  return 2;
}

bool IsBackupFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char mark[2] = {};
  bool backup = std::fread(mark, 1, 2, file) == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
  std::fclose(file);
  return backup;
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// quillmote-batch beside this program.
std::string BatchProgram() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (ec ? std::filesystem::path(".") : self.parent_path()) / "quillmote-batch";
}

// The temporary folder of one conversion: the store and the child's instance registry.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/quillmote-convert-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  bool ok() const { return !folder_.empty(); }
  std::string store() const { return folder_ + "/handheld.db"; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

// Runs quillmote-batch on the scratch store; its exit status (1 when it cannot start).
int RunBatch(const Scratch& scratch, const std::vector<std::string>& args) {
  handheld::ChildStart starting;
  starting.argv = {BatchProgram()};
  starting.argv.insert(starting.argv.end(), args.begin(), args.end());
  starting.env = {"HANDHELD_STORE=" + scratch.store(), "XDG_RUNTIME_DIR=" + scratch.folder()};
  starting.in.clear();  // the program's streams are this one's
  std::cout.flush();
  const pid_t pid = handheld::StartChild(starting);
  const int status = pid < 0 ? -1 : handheld::WaitChild(pid);
  if (status < 0) {
    std::cerr << "quillmote-convert: cannot start " << starting.argv[0] << ": " << std::strerror(errno)
              << "\n";
    return 1;
  }
  return status < 128 ? status : 1;
}

// The store's side in this process: the export or the import on the scratch store.
int Transfer(const Scratch& scratch, const interop::ForeignFormat& format, bool import,
             const std::string& path) {
  setenv("HANDHELD_STORE", scratch.store().c_str(), 1);
  interop::StoreSession session;
  std::string error;
  if (!session.Open(format.folder, &error)) {
    std::cerr << "quillmote-convert: " << error << "\n";
    return 1;
  }
  interop::TransferResult result;
  if (import) {
    interop::Losses losses(format.fileNoun, format.fileNouns);
    format.importItems(session, path, false, &losses, &result);
    interop::Report(result, losses, "quillmote-convert", "read", format.fileNouns, std::cerr);
    if (result.error.empty()) std::cout << result.Outcomes() << "\n";
  } else {
    interop::Losses losses(format.itemNoun, format.itemNouns);
    // OUT is replaced, not merged into as an export into an existing file is: the items
    // go to a new file of the scratch folder first, then over OUT whole.
    const bool file = !interop::IsFolderPath(path);
    const std::string fresh = scratch.folder() + "/out" + format.extension;
    format.exportItems(session, file ? fresh : path, &losses, &result);
    std::string bytes;
    interop::AtomicFile replaced;
    if (file && result.error.empty() &&
        interop::ReadItemFile(fresh, &bytes, &result.error) &&
        replaced.Open(path, &result.error, true)) {
      replaced.Write(bytes);
      replaced.Commit(&result.error);
    }
    interop::Report(result, losses, "quillmote-convert", "written", format.itemNouns, std::cerr);
  }
  return result.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  std::string kind;
  bool overwrite = false;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsEnded && (arg == "--help" || arg == "-h")) return Usage("");
    if (!optionsEnded && arg == "--kind") {
      if (++i == argc) return Usage("--kind needs a KIND");
      kind = argv[i];
    } else if (!optionsEnded && arg == "--overwrite") {
      overwrite = true;
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option \"" + std::string(arg) + "\"");
    } else {
      paths.emplace_back(arg);
    }
  }
  if (paths.size() != 2)
    return Usage(paths.size() < 2 ? "IN and OUT are needed" : "too many arguments");
  const std::string& in = paths[0];
  const std::string& out = paths[1];
  if (!Exists(in)) {
    std::cerr << "quillmote-convert: " << in << " does not exist\n";
    return 3;
  }
  const bool fromBackup = IsBackupFile(in);
  const std::string& foreign = fromBackup ? out : in;
  const interop::ForeignFormat* format =
      kind.empty() ? interop::FormatForPath(foreign, fromBackup ? "contacts" : "")
                   : interop::FormatForKind(kind);
  if (format == nullptr) {
    if (!kind.empty()) return Usage("unknown kind \"" + kind + "\"");
    if (!fromBackup && !interop::IsFolderPath(in) && !IsBackupFile(out) && Exists(out)) {
      return Usage("neither " + in + " nor " + out + " is a Quillmote backup file");
    }
    return Usage("cannot tell what " + foreign + " holds; give --kind");
  }
  if (!overwrite && Exists(out) && !interop::IsFolderPath(out)) {
    std::cerr << "quillmote-convert: " << out << " exists; give --overwrite to replace it\n";
    return 3;
  }

  Scratch scratch;
  if (!scratch.ok()) {
    std::cerr << "quillmote-convert: cannot make a temporary folder: " << std::strerror(errno)
              << "\n";
    return 1;
  }
  if (fromBackup) {
    int loaded = RunBatch(scratch, {format->loadCommand, in});
    if (loaded != 0) return loaded;
    return Transfer(scratch, *format, false, out);
  }
  int read = Transfer(scratch, *format, true, in);
  std::vector<std::string> args;
  if (overwrite) args.emplace_back("--overwrite");
  args.insert(args.end(), {format->saveCommand, "--", out});
  int saved = RunBatch(scratch, args);
  return saved != 0 ? saved : read;
}
