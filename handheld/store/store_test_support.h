// Helpers for the store's tests: a logged-on session, owning references and strings.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "handheld/pimstore.h"

namespace handheld::store::testing {

// Owns one reference to a COM object.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* object) : object_(object) {}
  ~Ref() { Reset(); }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&&) = delete;
  void Reset() {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }
  T** Out() { return Reset(), &object_; }
  // For the calls that hand items out as IDispatch.
  IDispatch** OutDispatch() { return reinterpret_cast<IDispatch**>(Out()); }
  T* operator->() const { return object_; }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

// A BSTR made from a text, freed at the end of the scope.
struct Bstr {
  explicit Bstr(std::u16string_view text)
      : text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(text); }
  Bstr(const Bstr&) = delete;
  operator BSTR() const { return text; }
  BSTR text;
};

// Copies a BSTR handed out by a getter and frees it.
inline std::u16string Take(BSTR text) {
  std::u16string copy(text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

// The value a getter gives, which must succeed; text is copied and freed.
template <class T, class C, class V>
V Get(const Ref<T>& object, HRESULT (C::*get)(V*)) {
  V value{};
  EXPECT_EQ((object.get()->*get)(&value), S_OK);
  return value;
}
template <class T, class C>
std::u16string Get(const Ref<T>& object, HRESULT (C::*get)(BSTR*)) {
  return Take(Get<T, C, BSTR>(object, get));
}

// COM started and an application logged on to the sandbox's store.
class Session {
 public:
  Session() {
    EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    HRESULT hr = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPOutlookApp, reinterpret_cast<void**>(app_.Out()));
    EXPECT_EQ(hr, S_OK);
    if (app_) logon_ = app_->Logon(0);
  }
  ~Session() {
    if (app_) app_->Logoff();
    app_.Reset();
    CoUninitialize();
  }
  HRESULT logon() const { return logon_; }
  IPOutlookApp* app() const { return app_.get(); }

  Ref<IPOutlookItemCollection> Items(LONG folder) {
    Ref<IFolder> f;
    Ref<IPOutlookItemCollection> items;
    EXPECT_EQ(app_->GetDefaultFolder(folder, f.Out()), S_OK);
    EXPECT_EQ(f ? f->get_Items(items.Out()) : S_OK, S_OK);
    return items;
  }
  template <class T>
  Ref<T> Create(LONG itemType) {
    Ref<T> item;
    EXPECT_EQ(app_->CreateItem(itemType, item.OutDispatch()), S_OK);
    return item;
  }
  template <class T>
  static Ref<T> Fetch(IPOutlookItemCollection* items, INT index) {
    Ref<T> item;
    EXPECT_EQ(items->Item(index, item.OutDispatch()), S_OK) << "index " << index;
    return item;
  }
  static INT Count(IPOutlookItemCollection* items) {
    INT count = -1;
    EXPECT_EQ(items->get_Count(&count), S_OK);
    return count;
  }

 private:
  Ref<IPOutlookApp> app_;
  HRESULT logon_ = E_FAIL;
};

// Saves a new contact of those names.
inline void SaveContact(Session& session, std::u16string_view first, std::u16string_view last = u"",
                        std::u16string_view email = u"") {
  Ref<IContact> contact = session.Create<IContact>(olContactItem);
  contact->put_FirstName(Bstr(first));
  contact->put_LastName(Bstr(last));
  contact->put_Email1Address(Bstr(email));
  EXPECT_EQ(contact->Save(), S_OK);
}

}  // namespace handheld::store::testing
