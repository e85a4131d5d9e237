// The logged-on store application: one per process, from OpenStore to CloseStore.
#include "platform/store.h"

namespace {
IPOutlookApp* storeApp = nullptr;
std::string openFailure;
}  // namespace

bool OpenStore() {
  if (storeApp != nullptr) return true;
  openFailure.clear();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    openFailure = "COM cannot be started";
    return false;
  }
  IPOutlookApp* app = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp, reinterpret_cast<void**>(&app));
  if (FAILED(result) || app == nullptr) {
    openFailure = "the store's application object cannot be created";
  } else if (FAILED(result = app->Logon(0))) {
    openFailure = handheld::LastStoreError();
    if (openFailure.empty()) openFailure = "the logon to the store failed";
  }
  if (FAILED(result) || app == nullptr) {
    if (app != nullptr) app->Release();
    CoUninitialize();
    return false;
  }
  storeApp = app;
  return true;
}

std::string StoreOpenFailure() {
  return openFailure;
}

void CloseStore() {
  if (storeApp == nullptr) return;
  storeApp->Logoff();
  storeApp->Release();
  storeApp = nullptr;
  CoUninitialize();
}

IPOutlookApp* GetStoreApp() {
  if (storeApp == nullptr) return nullptr;
  storeApp->AddRef();
  return storeApp;
}
