// quillmote: the desktop program, the shell on the Qt window backend.
#include <cstdio>
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
  return ProgramEntry(RegisterResources(&QuillmoteResources));
}
