#include "handheld/com.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/census.h"
#include "handheld/pimstore.h"
#include "handheld/testing/sandbox.h"

namespace {

// The store's application object is the registered class; any other is not.
const CLSID CLSID_Unregistered = {0x6D1B2C10, 0x4E2F, 0x4A11, {0x9C, 1, 2, 3, 4, 5, 6, 8}};

using Com = handheld::testing::SandboxTest;

TEST_F(Com, CreationNeedsInitialisationAndARegisteredClass) {
  auto create = [](REFCLSID clsid, REFIID riid) {
    void* object = &object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, &object);
    EXPECT_EQ(object == nullptr, FAILED(hr));
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
    return hr;
  };
  EXPECT_EQ(create(CLSID_Application, IID_IPOutlookApp), CO_E_NOTINITIALIZED);
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EXPECT_EQ(create(CLSID_Application, IID_IPOutlookApp), S_OK);
  EXPECT_EQ(create(CLSID_Unregistered, IID_IUnknown), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(create(CLSID_Application, CLSID_Unregistered), E_NOINTERFACE);
  EXPECT_EQ(
      CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
      E_POINTER);
  CoUninitialize();
  EXPECT_EQ(create(CLSID_Application, IID_IUnknown), S_OK);  // one initialisation still open
  CoUninitialize();
  CoUninitialize();  // one too many does not underflow the count
  EXPECT_EQ(create(CLSID_Application, IID_IUnknown), CO_E_NOTINITIALIZED);
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EXPECT_EQ(create(CLSID_Application, IID_IUnknown), S_OK);
  CoUninitialize();
}

// Strings are counted per thread and their blocks reused: a string may be made on one
// thread and freed on another, threads come and go, and a reused block holds exactly
// the new text.
TEST_F(Com, StringsCountRightAcrossThreadsAndReusedBlocks) {
  std::vector<BSTR> handedOver;
  for (int round = 0; round < 3; ++round) {
    std::thread maker([&handedOver] {
      for (int i = 0; i < 100; ++i) {  // made and freed here: blocks kept, then reused
        std::u16string text(static_cast<size_t>(i % 40), u'x');
        BSTR made = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        ASSERT_EQ(SysStringLen(made), text.size());
        ASSERT_EQ(std::u16string(made, SysStringLen(made)), text);
        ASSERT_EQ(made[text.size()], 0);
        SysFreeString(made);
      }
      handedOver.push_back(SysAllocString(u"made on another thread"));
      handedOver.push_back(SysAllocStringLen(nullptr, 500));  // too long to be kept
    });
    maker.join();
  }
  EXPECT_EQ(handheld::CensusReport(), "bstr=6");
  BSTR shorter = SysAllocString(u"ab");  // may land in a longer string's old block
  for (BSTR each : handedOver) SysFreeString(each);
  BSTR reused = SysAllocString(u"made on a");
  EXPECT_EQ(std::u16string(reused, SysStringLen(reused)), u"made on a");
  EXPECT_EQ(std::u16string(shorter, SysStringLen(shorter)), u"ab");
  EXPECT_EQ(handheld::CensusReport(), "bstr=2");
  // None stays none, an empty text is a string. (Zeros inside a text: the store's tests.)
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr) + SysStringByteLen(nullptr), 0u);
  BSTR empty = SysAllocString(u"");
  EXPECT_TRUE(empty != nullptr && SysStringByteLen(empty) == 0);
  SysFreeString(empty);
  std::thread([shorter, reused] {
    SysFreeString(shorter);
    SysFreeString(reused);
  }).join();
  EXPECT_EQ(handheld::CensusReport(), "");
}

}  // namespace
