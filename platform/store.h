// Access to the personal information store: one logged-on application object from the
// dialog's start-up to the exit command.
#pragma once

#include "handheld/pimstore.h"

#include <string>

// CoInitializeEx, CoCreateInstance of the store application, Logon. False when any of
// them fails (everything obtained so far is released again).
bool OpenStore();
// Why the last OpenStore failed, in words for the user (the store's own reason where it
// gave one); empty after a success.
std::string StoreOpenFailure();
// Logoff, Release, CoUninitialize; results ignored. Does nothing when not open.
void CloseStore();
// A second reference to the application object (the caller releases it), or null.
IPOutlookApp* GetStoreApp();
