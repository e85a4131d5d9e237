#include "interop/vcard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "interop/identity.h"
#include "interop/vcardcontact.h"
#include "interop/vcardreader.h"
#include "interop/vdir.h"

namespace interop {
namespace {

// Changes kept per transaction during an import.
constexpr long kBatchSize = 1000;

HRESULT ReadContact(IContact* contact, ContactValues* values) {
  HRESULT hr = S_OK;
  for (int i = 0; i < kContactTextCount && SUCCEEDED(hr); ++i) {
    BSTR text = nullptr;
    hr = (contact->*kContactTextGetters[i])(&text);
    if (SUCCEEDED(hr)) values->texts[i].assign(text != nullptr ? text : u"", SysStringLen(text));
    SysFreeString(text);
  }
  if (SUCCEEDED(hr)) hr = contact->get_Birthday(&values->birthday);
  if (SUCCEEDED(hr)) hr = contact->get_Anniversary(&values->anniversary);
  if (SUCCEEDED(hr)) hr = GetItemUid(contact, &values->uid);
  return hr;
}

// Sets the values on a new contact; a date the store refuses is noted as lost.
HRESULT WriteContact(IContact* contact, const ContactValues& values, Losses* losses) {
  for (int i = 0; i < kContactTextCount; ++i) {
    if (values.texts[i].empty()) continue;
    BSTR text =
        SysAllocStringLen(values.texts[i].data(), static_cast<UINT>(values.texts[i].size()));
    if (text == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = (contact->*kContactTextSetters[i])(text);
    SysFreeString(text);
    if (FAILED(hr)) return hr;
  }
  if (values.birthday != handheld::kNoDate && FAILED(contact->put_Birthday(values.birthday))) {
    losses->Note("BDAY that the store refuses");
  }
  if (values.anniversary != handheld::kNoDate &&
      FAILED(contact->put_Anniversary(values.anniversary))) {
    losses->Note("ANNIVERSARY that the store refuses");
  }
  return S_OK;
}

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

void ExportContacts(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result) {
  const bool folder = IsFolderPath(path);
  AtomicFile file;
  if (folder ? !MakeFolder(path, &result->error) : !file.Open(path, &result->error)) return;
  // Identifiers made at a first export are kept in one transaction.
  if (!session.BeginBatch(&result->error)) return;
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    ContactValues values;
    if (SUCCEEDED(hr) && item != nullptr) hr = ReadContact(static_cast<IContact*>(item), &values);
    if (item != nullptr) item->Release();
    if (FAILED(hr)) {
      result->error =
          "contact " + std::to_string(i) + ": the store could not read it (" + Hex(hr) + ")";
      break;
    }
    std::string card = CardFromContact(values, losses);
    losses->EndItem();
    if (folder) {
      bool written = false;
      if (!WriteFileIfChanged(Joined(path, FileNameForUid(values.uid, ".vcf")), card, &written,
                              &result->error)) {
        break;
      }
    } else {
      file.Write(card);
    }
    ++result->items;
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
  if (!folder && result->error.empty()) file.Commit(&result->error);
}

void ImportContacts(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result) {
  std::vector<std::string> files;
  if (IsFolderPath(path)) {
    if (!ListFolder(path, ".vcf", &files, &result->error)) return;
  } else {
    files.push_back(path);
  }
  // Every file must open before the store is changed; each is opened again in its turn
  // (a folder may hold more files than a process may have open).
  for (const std::string& name : files) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    if (!file) {
      result->error = "cannot read \"" + name + "\": " + std::strerror(errno);
      return;
    }
  }
  if (!session.BeginBatch(&result->error)) return;
  long changes = 0;
  auto changed = [&]() {
    return ++changes % kBatchSize != 0 || session.Checkpoint(&result->error);
  };

  if (replace) {
    for (INT i = session.count(); i >= 1 && result->error.empty(); --i) {
      HRESULT hr = session.items()->Remove(i);
      if (FAILED(hr)) {
        result->error = "removing contact " + std::to_string(i) + " failed (" + Hex(hr) + ")";
      } else {
        changed();
      }
    }
  }

  Card card;
  ContactValues values;
  std::string problem;
  for (size_t f = 0; f < files.size() && result->error.empty(); ++f) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(files[f].c_str(), "rb"));
    if (!file) {
      result->error = "cannot read \"" + files[f] + "\": " + std::strerror(errno);
      break;
    }
    CardReader reader(file.get());
    for (;;) {
      CardReader::Next next = reader.Read(&card, &problem);
      if (next == CardReader::Next::kEnd) break;
      if (next == CardReader::Next::kProblem) {
        result->problems.push_back(files[f] + ": " + problem);
        continue;
      }
      if (ContactFromCard(card, &values, losses) == CardKind::kGroup) {
        losses->EndItem();
        continue;
      }
      IDispatch* item = nullptr;
      HRESULT hr = session.app()->CreateItem(olContactItem, &item);
      if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
      auto* contact = static_cast<IContact*>(item);
      if (SUCCEEDED(hr)) hr = WriteContact(contact, values, losses);
      if (SUCCEEDED(hr) && !values.uid.empty()) {
        hr = SetItemUid(contact, values.uid);
        if (hr == handheld::kUidTaken) {
          losses->Note("UID held by another contact");  // the store makes one of its own
          hr = S_OK;
        }
      }
      if (SUCCEEDED(hr)) hr = contact->Save();
      if (item != nullptr) item->Release();
      losses->EndItem();
      if (FAILED(hr)) {
        result->error = files[f] + ": line " + std::to_string(card.line) +
                        ": the store could not save the contact (" + Hex(hr) + ")";
        break;
      }
      ++result->items;
      if (!changed()) break;
    }
    if (reader.failed() && result->error.empty()) {
      result->error = "cannot read \"" + files[f] + "\" to its end: " + std::strerror(errno);
    }
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
}

}  // namespace interop
