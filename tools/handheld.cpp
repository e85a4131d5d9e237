// `handheld`: look into and fill the stand-in's store from the command line.
#include <iostream>
#include <string>
#include <string_view>

#include "handheld/faults.h"
#include "tools/handheld_commands.h"
#include "tools/handheld_transfer.h"

namespace {

constexpr const char* kUsage =
    "usage: handheld dump|add|clear|count KIND\n"
    "       handheld export KIND PATH\n"
    "       handheld import [--replace] KIND PATH\n"
    "       handheld sources\n"
    "       handheld --help\n"
    "\n"
    "KIND is contacts, calendar, tasks or calls.\n"
    "\n"
    "  dump   write every item as one JSON object per line, in the store's order\n"
    "  add    read JSON Lines on standard input and save one new item per line\n"
    "  clear  remove every item of the kind (clear and import --replace first keep\n"
    "         them in ${XDG_STATE_HOME:-~/.local/state}/quillmote/removed/, whence\n"
    "         import brings them back)\n"
    "  count  print the number of items\n"
    "  export write every item to PATH: a folder (an existing one, or PATH ending in\n"
    "         '/') gets one file per item named by its UID, any other PATH one file\n"
    "  import read PATH (a file, or every file of a folder) and save one item per card\n"
    "         or component: an item of the same UID is updated (its old version kept\n"
    "         as above) or left alone when nothing differs, any other is added; prints\n"
    "         \"12 added, 3 updated, 40 unchanged\"; --replace removes the kind's items\n"
    "         first\n"
    "  sources list the address books, calendars and task lists of Evolution's data\n"
    "         server, one per line: KIND, UID, display name and marks (default,\n"
    "         read-only, or -), separated by tabs; HANDHELD_STORE=eds:UID or\n"
    "         eds:NAME chooses among them, eds: alone the defaults\n"
    "\n"
    "export and import know contacts (vCard 3.0 written; 2.1, 3.0 and 4.0 read), calendar\n"
    "and tasks (iCalendar .ics: VEVENT and VTODO, times in the local zone with its\n"
    "VTIMEZONE). What the other side cannot keep is summed up on standard error (\"not\n"
    "kept: PHOTO on 12 cards\", \"not kept: EXDATE (only the first occurrence imported) on\n"
    "2 events\"); a card or component that cannot be read is named with its line and\n"
    "skipped.\n"
    "\n"
    "Dates are \"YYYY-MM-DDTHH:MM:SS\" local time, or null for no date; add also takes\n"
    "the raw DATE number. Call times are UTC \"YYYY-MM-DDTHH:MM:SS.fffffffZ\"; add also\n"
    "takes the raw FILETIME integer.\n"
    "\n"
    "Environment: HANDHELD_STORE names the store file (default\n"
    "${XDG_DATA_HOME:-$HOME/.local/share}/quillmote/handheld.db), or eds:, eds:UID or\n"
    "eds:NAME Evolution Data Server's sources (then calls, GNOME Calls' history, cannot\n"
    "be used here); HANDHELD_FAULTS arms injected faults.\n"
    "\n"
    "Exit status: 0 done, 1 a data or store error (or a card or component skipped, or the\n"
    "data server not reached), 2 a usage error.\n";

int Usage(const std::string& problem) {
  std::cerr << "handheld: " << problem << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::string error;
  if (!handheld::ArmFaultsFromEnvironment(&error)) {
    std::cerr << "handheld: " << error << "\n";
    return 2;
  }
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  const std::string_view verb = argc > 1 ? argv[1] : "";
  if (verb == "sources") {
    if (argc != 2) return Usage("sources takes no arguments");
    return handheld::tool::RunSources(std::cout, std::cerr);
  }
  if (verb == "export" || verb == "import") {
    const bool import = verb == "import";
    const bool replace = import && argc > 2 && std::string_view(argv[2]) == "--replace";
    const int first = replace ? 3 : 2;
    if (argc - first != 2) {
      return Usage(argc - first < 2 ? "a kind and a path are needed" : "too many arguments");
    }
    return handheld::tool::RunTransfer(import, replace, argv[first], argv[first + 1], std::cout,
                                         std::cerr);
  }
  if (argc != 3) return Usage(argc < 3 ? "a command and a kind are needed" : "too many arguments");
  handheld::tool::Command command;
  const handheld::tool::Kind* kind = nullptr;
  if (!handheld::tool::CommandFromName(argv[1], &command)) {
    return Usage("unknown command \"" + std::string(argv[1]) + "\"");
  }
  if (!handheld::tool::KindFromName(argv[2], &kind)) {
    return Usage("unknown kind \"" + std::string(argv[2]) + "\"");
  }
  return handheld::tool::RunCommand(command, *kind, std::cin, std::cout, std::cerr);
}
