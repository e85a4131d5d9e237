#include "interop/storesession.h"

#include <cstdio>

#include "handheld/itemkeeping.h"

namespace interop {
namespace {

bool Fail(std::string* error, const char* what, HRESULT hr) {
  *error = std::string(what) + " (" + Hex(hr) + ")";
  return false;
}

}  // namespace

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

StoreSession::~StoreSession() {
  if (inBatch_ || held_) batch_->EndBatch(VARIANT_FALSE);
  if (batch_) batch_->Release();
  if (items_) items_->Release();
  if (folder_) folder_->Release();
  if (loggedOn_) app_->Logoff();
  if (app_) app_->Release();
  if (comStarted_) CoUninitialize();
}

bool StoreSession::Open(LONG folder, std::string* error) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) return Fail(error, "COM could not be started", hr);
  comStarted_ = true;
  hr = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                        reinterpret_cast<void**>(&app_));
  if (FAILED(hr) || !app_) {
    app_ = nullptr;
    return Fail(error, "the store application could not be created", hr);
  }
  hr = app_->Logon(0);
  if (FAILED(hr)) {
    std::string reason = handheld::LastStoreError();
    *error = "cannot open the store " + handheld::StorePath() + ": " +
             (reason.empty() ? "logon failed (" + Hex(hr) + ")" : reason);
    return false;
  }
  loggedOn_ = true;
  hr = app_->GetDefaultFolder(folder, &folder_);
  if (FAILED(hr) || !folder_) {
    folder_ = nullptr;
    return Fail(error, "the store could not open the folder", hr);
  }
  hr = folder_->get_Items(&items_);
  if (FAILED(hr) || !items_) {
    items_ = nullptr;
    return Fail(error, "the store could not list the folder's items", hr);
  }
  hr = items_->get_Count(&count_);
  if (FAILED(hr)) return Fail(error, "the store could not count the items", hr);
  return true;
}

bool StoreSession::BeginBatch(std::string* error) {
  HRESULT hr = S_OK;
  if (held_) {
    // As the store itself: one batch at a time.
    if (inBatch_) return Fail(error, "the store could not start a batch of changes", E_FAIL);
    inBatch_ = true;
    return true;
  }
  if (batch_ == nullptr) {
    hr = app_->QueryInterface(IID_IStoreBatch, reinterpret_cast<void**>(&batch_));
    if (FAILED(hr)) batch_ = nullptr;
  }
  if (SUCCEEDED(hr)) hr = batch_->BeginBatch();
  if (FAILED(hr)) return Fail(error, "the store could not start a batch of changes", hr);
  inBatch_ = true;
  return true;
}

bool StoreSession::Checkpoint(std::string* error) {
  return EndBatch(true, error) && BeginBatch(error);
}

bool StoreSession::EndBatch(bool keep, std::string* error) {
  if (!inBatch_) return true;
  inBatch_ = false;
  if (held_) return keep || Undo(error);
  HRESULT hr = batch_->EndBatch(keep ? VARIANT_TRUE : VARIANT_FALSE);
  if (FAILED(hr)) return Fail(error, "the store could not keep the changes", hr);
  return true;
}

bool StoreSession::Hold(std::string* error) {
  if (held_) return true;
  if (!BeginBatch(error)) return false;
  inBatch_ = false;
  held_ = true;
  return true;
}

bool StoreSession::Undo(std::string* error) {
  if (!held_) return true;
  inBatch_ = false;
  held_ = false;
  HRESULT hr = batch_->EndBatch(VARIANT_FALSE);
  if (FAILED(hr)) return Fail(error, "the store could not drop the changes", hr);
  return Hold(error);
}

bool StoreSession::CountChange(std::string* error) {
  constexpr long kBatchSize = 1000;
  return ++changes_ % kBatchSize != 0 || Checkpoint(error);
}

bool StoreSession::RemoveAll(const char* noun, std::string* error) {
  // An item that another program removed first is skipped (S_FALSE).
  for (INT i = count_; i >= 1; --i) {
    HRESULT hr = items_->Remove(i);
    if (hr == handheld::kNotKept) {
      *error = std::string("the ") + noun + "s could not be kept before their removal (the " +
               "store said why above), so none was removed";
      return false;
    }
    if (FAILED(hr)) {
      *error = std::string("removing ") + noun + " " + std::to_string(i) + " failed (" + Hex(hr) +
               "); nothing was imported";
      return false;
    }
    if (!CountChange(error)) return false;
  }
  return true;
}

}  // namespace interop
