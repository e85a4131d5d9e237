// Run-time module loading.
//
// Contract: LoadLibraryW("name.dll") loads the shared object "name.so" from the folder
// named by HANDHELD_MODULE_DIR when set, else from the folder of the running
// executable or, for an installed program, from its module folder (../lib/quillmote
// from the executable's folder). A missing or unloadable file is a failed load (null),
// never a crash.
// Loaded modules are counted by the census ("module") until FreeLibrary.
#pragma once

#include "handheld/types.h"

using FARPROC = void (*)();

HMODULE LoadLibraryW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, const char* name);  // null when absent
BOOL FreeLibrary(HMODULE module);

#include <string>

namespace handheld {
// A module that stays loaded for the rest of the process ("edsstore.so": a store backend),
// from the same folders as LoadLibraryW's; not counted by the census. Null with the reason.
void* LoadResidentModule(const std::string& file, std::string* error);
}  // namespace handheld
