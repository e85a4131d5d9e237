#include "interop/identity.h"

#include "handheld/itemidentity.h"
#include "handheld/utf16.h"

namespace interop {
namespace {

HRESULT Identity(IDispatch* item, IItemIdentity** identity) {
  *identity = nullptr;
  if (item == nullptr) return E_POINTER;
  HRESULT hr = item->QueryInterface(IID_IItemIdentity, reinterpret_cast<void**>(identity));
  if (FAILED(hr)) *identity = nullptr;
  return hr;
}

}  // namespace

HRESULT GetItemUid(IDispatch* item, std::string* uid) {
  IItemIdentity* identity = nullptr;
  HRESULT hr = Identity(item, &identity);
  if (FAILED(hr)) return hr;
  BSTR text = nullptr;
  hr = identity->get_Uid(&text);
  if (SUCCEEDED(hr)) *uid = handheld::Utf8FromUtf16(std::u16string_view(text, SysStringLen(text)));
  SysFreeString(text);
  identity->Release();
  return hr;
}

HRESULT SetItemUid(IDispatch* item, std::string_view uid) {
  IItemIdentity* identity = nullptr;
  HRESULT hr = Identity(item, &identity);
  if (FAILED(hr)) return hr;
  std::u16string wide = handheld::Utf16FromUtf8(uid);
  BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  hr = text != nullptr ? identity->put_Uid(text) : E_OUTOFMEMORY;
  SysFreeString(text);
  identity->Release();
  return hr;
}

}  // namespace interop
