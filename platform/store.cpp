// The logged-on store application.
#include "platform/store.h"

bool OpenStore(StoreSession& session) {
  if (session.app != nullptr) return true;
  session.failure.clear();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    session.failure = "COM cannot be started";
    return false;
  }
  IPOutlookApp* app = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp, reinterpret_cast<void**>(&app));
  if (FAILED(result) || app == nullptr) {
    session.failure = "the store's application object cannot be created";
  } else if (FAILED(result = app->Logon(0))) {
    session.failure = handheld::LastStoreError();
    if (session.failure.empty()) session.failure = "the logon to the store failed";
  }
  if (FAILED(result) || app == nullptr) {
    if (app != nullptr) app->Release();
    CoUninitialize();
    return false;
  }
  session.app = app;
  return true;
}

void CloseStore(StoreSession& session) {
  if (session.app == nullptr) return;
  session.app->Logoff();
  session.app->Release();
  session.app = nullptr;
  CoUninitialize();
}

IPOutlookApp* GetStoreApp(const StoreSession& session) {
  if (session.app == nullptr) return nullptr;
  session.app->AddRef();
  return session.app;
}
