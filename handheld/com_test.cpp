#include "handheld/com.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/census.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::SandboxTest;

const CLSID CLSID_Probe = {
    0x6D1B2C10, 0x4E2F, 0x4A11, {0x9C, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
const CLSID CLSID_Unregistered = {
    0x6D1B2C11, 0x4E2F, 0x4A11, {0x9C, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

class Probe final : public IDispatch {
 public:
  Probe() { handheld::CensusAdd("com:Probe", 1); }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      AddRef();
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) {
      handheld::CensusAdd("com:Probe", -1);
      delete this;
    }
    return left;
  }

 private:
  ~Probe() = default;
  std::atomic<ULONG> references_{1};
};

HRESULT CreateProbe(REFIID riid, void** object) {
  auto* probe = new Probe;
  HRESULT hr = probe->QueryInterface(riid, object);
  probe->Release();
  return hr;
}

class Com : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    handheld::RegisterComClass(CLSID_Probe, CreateProbe);
  }
};

TEST_F(Com, GuidsCompareByValue) {
  GUID copy = CLSID_Probe;
  EXPECT_TRUE(copy == CLSID_Probe);
  EXPECT_FALSE(CLSID_Probe == CLSID_Unregistered);
  copy.Data4[7] ^= 1;
  EXPECT_FALSE(copy == CLSID_Probe);
  EXPECT_FALSE(IID_IUnknown == IID_IDispatch);
}

TEST_F(Com, CreationNeedsInitialisationAndARegisteredClass) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);

  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));  // nested
  EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, nullptr),
            E_POINTER);
  EXPECT_EQ(
      CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
      CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  const IID unknownInterface = CLSID_Unregistered;
  EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, unknownInterface, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(handheld::CensusReport(), "");  // the refused object was released

  ASSERT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
            S_OK);
  EXPECT_EQ(handheld::CensusReport(), "com:Probe=1");
  static_cast<IDispatch*>(object)->Release();

  CoUninitialize();
  // One CoInitializeEx is still open.
  ASSERT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            S_OK);
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CO_E_NOTINITIALIZED);
  CoUninitialize();  // one too many does not underflow the count
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            S_OK);
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();
}

uint32_t Prefix(BSTR text) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  return bytes;
}

TEST_F(Com, StringsKeepTheirLengthAndZeros) {
  const OLECHAR withZeros[] = {u'a', 0, u'b', 0, 0, u'c'};
  BSTR text = SysAllocStringLen(withZeros, 6);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 6u);
  EXPECT_EQ(SysStringByteLen(text), 12u);
  EXPECT_EQ(Prefix(text), 12u);
  EXPECT_EQ(std::memcmp(text, withZeros, sizeof withZeros), 0);
  EXPECT_EQ(text[6], 0);  // terminated after its length

  BSTR upToZero = SysAllocString(withZeros);
  EXPECT_EQ(SysStringLen(upToZero), 1u);
  EXPECT_EQ(upToZero[1], 0);

  BSTR filled = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(filled, nullptr);
  EXPECT_EQ(SysStringLen(filled), 3u);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(filled[i], 0);

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(handheld::CensusReport(), "bstr=4");
  for (BSTR each : {text, upToZero, filled, empty}) SysFreeString(each);
  SysFreeString(nullptr);
}

TEST_F(Com, CensusReportsAndChangesSortedByName) {
  handheld::Census before = handheld::TakeCensus();
  EXPECT_TRUE(before.empty());
  handheld::CensusAdd("file", 2);
  handheld::CensusAdd("bstr", 1);
  handheld::CensusAdd("com:Contact", 3);
  EXPECT_EQ(handheld::CensusReport(), "bstr=1 com:Contact=3 file=2");
  handheld::Census middle = handheld::TakeCensus();
  handheld::CensusAdd("file", -2);
  handheld::CensusAdd("module", 1);
  EXPECT_EQ(handheld::CensusChange(middle), "file=-2 module=1");
  EXPECT_EQ(handheld::TakeCensus().count("file"), 0u);  // only non-zero entries
  handheld::CensusAdd("bstr", -1);
  handheld::CensusAdd("com:Contact", -3);
  handheld::CensusAdd("module", -1);
  EXPECT_EQ(handheld::CensusChange(before), "");
}

TEST_F(Com, CensusCountsFromManyThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      std::vector<BSTR> held;
      for (int i = 0; i < 20000; ++i) {
        held.push_back(SysAllocString(u"x"));
        if (i % 3 == 0) {
          SysFreeString(held.back());
          held.pop_back();
        }
      }
      for (BSTR text : held) SysFreeString(text);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(handheld::CensusReport(), "");
}

}  // namespace
