// The logged-on store application: one per process, from OpenStore to CloseStore.
#include "platform/store.h"

namespace {
IPOutlookApp* storeApp = nullptr;
}  // namespace

bool OpenStore() {
  if (storeApp != nullptr) return true;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  IPOutlookApp* app = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp, reinterpret_cast<void**>(&app));
  if (SUCCEEDED(result) && app != nullptr) result = app->Logon(0);
  if (FAILED(result) || app == nullptr) {
    if (app != nullptr) app->Release();
    CoUninitialize();
    return false;
  }
  storeApp = app;
  return true;
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
