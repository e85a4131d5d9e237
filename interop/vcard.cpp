#include "interop/vcard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "handheld/faults.h"
#include "interop/handoff.h"
#include "interop/identity.h"
#include "interop/vcardcontact.h"
#include "interop/vcardreader.h"
#include "interop/vdir.h"

namespace interop {
namespace {

// The file of the item with `uid` in an export's folder: the one holding it, or a new one.
std::string FileFor(FolderIndex& index, const std::string& uid) {
  const std::string* found = index.Find(uid);
  return found != nullptr ? *found : index.PathForNew(uid);
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

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// What the reading thread hands over: a card read into a contact (with what the store
// cannot keep of it), a group card, a card that could not be read, a file that could not
// be read, or the end. `text` is the problem, or the file of a card.
struct ReadCard {
  enum Kind { kContact, kGroup, kProblem, kFailed, kEnd } kind = kEnd;
  ContactValues values;
  Losses lost{"card", "cards"};
  std::string text;
  long line = 0;
};

using CardHandoff = Handoff<ReadCard>;

// The reading thread: every card of every file, in order, then the end (or a file that
// failed, which ends the reading too).
void ReadCards(const std::vector<std::string>& files, CardHandoff& handoff) {
  Card card;
  std::string problem;
  auto finish = [&](ReadCard::Kind kind, std::string text) {
    if (ReadCard* last = handoff.Next()) {
      last->kind = kind;
      last->text = std::move(text);
    }
    handoff.Flush();
  };
  for (const std::string& name : files) {
    std::unique_ptr<FILE, FileCloser> file(handheld::OpenForReading(name));
    if (!file) {
      finish(ReadCard::kFailed, "cannot read \"" + name + "\": " + std::strerror(errno));
      return;
    }
    CardReader reader(file.get());
    for (;;) {
      CardReader::Next next = reader.Read(&card, &problem);
      if (next == CardReader::Next::kEnd) break;
      ReadCard* read = handoff.Next();
      if (read == nullptr) return;
      if (!read->lost.empty()) read->lost = Losses("card", "cards");
      if (next == CardReader::Next::kProblem) {
        read->kind = ReadCard::kProblem;
        read->text = name + ": " + problem;
      } else {
        read->kind = ContactFromCard(card, &read->values, &read->lost) == CardKind::kGroup
                         ? ReadCard::kGroup
                         : ReadCard::kContact;
        read->lost.EndItem();
        read->text = name;
        read->line = card.line;
      }
    }
    if (reader.failed()) {
      finish(ReadCard::kFailed,
             "cannot read \"" + name + "\" to its end: " + std::strerror(errno));
      return;
    }
  }
  finish(ReadCard::kEnd, std::string());
}

// Saves one card's contact; false (with `error` set) when the store refused it.
bool SaveCard(StoreSession& session, const ReadCard& read, Losses* losses, std::string* error) {
  const ContactValues& values = read.values;
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
    *error = read.text + ": line " + std::to_string(read.line) +
             ": the store could not save the contact (" + Hex(hr) + ")";
    return false;
  }
  return true;
}

}  // namespace

void ExportContacts(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result) {
  const bool folder = IsFolderPath(path);
  AtomicFile file;
  if (folder ? !MakeFolder(path, &result->error) : !file.Open(path, &result->error, true)) return;
  // Files are found by the UID inside them, whatever their names.
  FolderIndex index;
  if (folder && !index.Build(path, ".vcf", 1, &result->error)) return;
  // Identifiers made at a first export are kept in one transaction.
  if (!session.BeginBatch(&result->error)) return;
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    ContactValues values;
    if (SUCCEEDED(hr) && item != nullptr) hr = ReadContact(static_cast<IContact*>(item), &values);
    if (SUCCEEDED(hr) && item != nullptr) hr = GetItemUid(item, &values.uid);
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
      if (!WriteFileIfChanged(FileFor(index, values.uid), card, &written,
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
  if (!FilesAt(path, ".vcf", &files, &result->error)) return;
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
  // A purge that failed leaves the folder as it was (the batch is dropped).
  if (replace && !session.RemoveAll("contact", &result->error)) return;

  // Cards are read on a thread of their own while this one saves: reading and saving
  // take about as long as each other.
  CardHandoff handoff;
  std::thread reader(ReadCards, std::cref(files), std::ref(handoff));
  for (bool reading = true; reading;) {
    CardHandoff::Batch* batch = handoff.Take();
    if (batch == nullptr) break;
    for (size_t i = 0; i < batch->used && reading; ++i) {
      ReadCard& read = batch->slots[i];
      switch (read.kind) {
        case ReadCard::kEnd:
          reading = false;
          break;
        case ReadCard::kProblem:
          result->problems.push_back(read.text);
          break;
        case ReadCard::kFailed:
          result->error = read.text;
          reading = false;
          break;
        case ReadCard::kGroup:
          losses->Absorb(read.lost);
          break;
        case ReadCard::kContact:
          losses->Absorb(read.lost);
          reading = SaveCard(session, read, losses, &result->error);
          if (reading) {
            ++result->items;
            reading = session.CountChange(&result->error);
          }
          break;
      }
    }
    handoff.Give(batch);
  }
  handoff.Stop();
  reader.join();
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
}

}  // namespace interop
