// Access to the personal information store: one logged-on application object from the
// dialog's start-up to the exit command, held in a StoreSession that its owner (the
// shell) passes to whoever needs the store.
#pragma once

#include <string>

#include "handheld/pimstore.h"

struct StoreSession {
  IPOutlookApp* app = nullptr;  // the logged-on application, or null
  std::string failure;          // why the last OpenStore failed; empty after a success
};

// CoInitializeEx, CoCreateInstance of the store application, Logon. False when any of
// them fails (everything obtained so far is released again, and session.failure says
// why in words for the user: the store's own reason where it gave one).
bool OpenStore(StoreSession& session);
// Logoff, Release, CoUninitialize; results ignored. Does nothing when not open.
void CloseStore(StoreSession& session);
// A second reference to the application object (the caller releases it), or null.
IPOutlookApp* GetStoreApp(const StoreSession& session);
