// quillmote: the desktop program, the shell on the Qt window backend.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/resources.h"
#include "app/shell.h"
#include "handheld/faults.h"

int main() {
  std::string error;
  if (!handheld::ArmFaultsFromEnvironment(&error)) {
    std::fprintf(stderr, "quillmote: %s\n", error.c_str());
    return 2;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    std::fprintf(stderr,
                 "quillmote: there is no display to show the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set); quillmote-batch runs the same commands without "
                 "one.\n");
    return 1;
  }
  return ProgramEntry(RegisterResources(&QuillmoteResources));
}
