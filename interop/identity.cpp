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

namespace {

// Calls `use` with the item's identity and `uid` as a BSTR.
template <class Use>
HRESULT WithUid(IDispatch* item, std::string_view uid, Use use) {
  IItemIdentity* identity = nullptr;
  HRESULT hr = Identity(item, &identity);
  if (FAILED(hr)) return hr;
  std::u16string wide = handheld::Utf16FromUtf8(uid);
  BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  hr = text != nullptr ? use(identity, text) : E_OUTOFMEMORY;
  SysFreeString(text);
  identity->Release();
  return hr;
}

}  // namespace

HRESULT SetItemUid(IDispatch* item, std::string_view uid) {
  return WithUid(item, uid, [](IItemIdentity* identity, BSTR text) {
    return identity->put_Uid(text);
  });
}

HRESULT SaveItemAsUid(IDispatch* item, std::string_view uid, LONG* outcome) {
  return WithUid(item, uid, [outcome](IItemIdentity* identity, BSTR text) {
    return identity->SaveAsUid(text, outcome);
  });
}

}  // namespace interop
