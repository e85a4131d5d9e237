// The reference counting, interface answering and census entry shared by the store's
// COM objects.
//
// Contract: an object starts with one reference (its creator's) and deletes itself at
// its last Release. It answers IID_IUnknown, IID_IDispatch and whatever Answers() names,
// always with the same pointer. It counts under its census name ("com:Contact", ...)
// from construction to destruction.
#pragma once

#include <atomic>

#include "handheld/census_internal.h"
#include "handheld/com.h"

namespace handheld::store {

template <class Interface>
class ComObject : public Interface {
 public:
  explicit ComObject(const char* censusName) : counter_(internal::CensusCounter(censusName)) {
    counter_->fetch_add(1, std::memory_order_relaxed);
  }
  virtual ~ComObject() { counter_->fetch_sub(1, std::memory_order_relaxed); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || Answers(riid)) {
      AddRef();
      *object = static_cast<Interface*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual bool Answers(REFIID riid) const = 0;

 private:
  std::atomic<ULONG> refs_{1};
  std::atomic<long>* const counter_;  // this class's census count
};

}  // namespace handheld::store
