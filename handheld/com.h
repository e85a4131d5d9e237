// COM basics: result codes, GUIDs, IUnknown, and in-process class creation.
//
// Contract: a negative HRESULT is failure. CoCreateInstance works only between
// CoInitializeEx and the matching CoUninitialize (process-wide count) and only for
// classes registered with RegisterComClass; the PIM store registers CLSID_Application.
// Every object created through these calls is counted by the census (census.h) under
// its class name until its last Release.
#pragma once

#include "handheld/types.h"

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

bool operator==(const GUID& a, const GUID& b);

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The base of every store item; items are handed out as IDispatch and used
// directly as the kind's interface (IContact, IAppointment, ITask).
struct IDispatch : IUnknown {
 protected:
  ~IDispatch() = default;
};

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;

constexpr DWORD COINIT_MULTITHREADED = 0;
constexpr DWORD CLSCTX_INPROC_SERVER = 1;

HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);

namespace handheld {
// Creates a new instance of a registered class and asks it for riid.
using ComClassFactory = HRESULT (*)(REFIID riid, void** object);
void RegisterComClass(REFCLSID clsid, ComClassFactory factory);
}  // namespace handheld
