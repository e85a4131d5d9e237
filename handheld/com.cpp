// COM basics: GUID comparison, the process-wide initialisation count and the class
// registry behind CoCreateInstance.
#include "handheld/com.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

struct ComState {
  std::mutex mutex;
  long initCount = 0;
  std::vector<std::pair<CLSID, handheld::ComClassFactory>> classes;
};

// Reached from static initializers of other translation units, so it is built on
// first use and never destroyed.
ComState& State() {
  static ComState* state = new ComState;
  return *state;
}

}  // namespace

const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

HRESULT CoInitializeEx(void* /*reserved*/, DWORD coInit) {
  if (coInit != COINIT_MULTITHREADED) return E_INVALIDARG;
  ComState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  ++state.initCount;
  return state.initCount == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  ComState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.initCount > 0) --state.initCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*context*/, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  handheld::ComClassFactory factory = nullptr;
  {
    ComState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.initCount == 0) return CO_E_NOTINITIALIZED;
    for (const auto& [id, registered] : state.classes) {
      if (id == clsid) factory = registered;
    }
  }
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  HRESULT hr = factory(riid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

namespace handheld {

void RegisterComClass(REFCLSID clsid, ComClassFactory factory) {
  ComState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (auto& [id, registered] : state.classes) {
    if (id == clsid) {
      registered = factory;
      return;
    }
  }
  state.classes.emplace_back(clsid, factory);
}

}  // namespace handheld
