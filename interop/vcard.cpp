#include "interop/vcard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "handheld/faults.h"
#include "interop/handoff.h"
#include "handheld/itemkeeping.h"
#include "interop/identity.h"
#include "interop/vcardcontact.h"
#include "interop/vcardreader.h"
#include "interop/vdir.h"

namespace interop {
namespace {

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

// Saves one card's contact, or updates the contact that holds its UID; false (with `error`
// set) when the store refused it.
bool SaveCard(StoreSession& session, const ReadCard& read, Losses* losses,
              TransferResult* result) {
  const ContactValues& values = read.values;
  IDispatch* item = nullptr;
  HRESULT hr = session.app()->CreateItem(olContactItem, &item);
  if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
  auto* contact = static_cast<IContact*>(item);
  if (SUCCEEDED(hr)) hr = WriteContact(contact, values, losses);
  LONG outcome = handheld::kItemAdded;
  if (SUCCEEDED(hr)) {
    hr = values.uid.empty() ? contact->Save() : SaveItemAsUid(contact, values.uid, &outcome);
  }
  if (item != nullptr) item->Release();
  losses->EndItem();
  const std::string where = read.text + ": line " + std::to_string(read.line) + ": ";
  if (hr == handheld::kNotKept) {
    result->error = where + "the contact with UID " + values.uid +
                    " was left as it was: its saved version could not be kept first (the " +
                    "store said why above)";
    return false;
  }
  if (FAILED(hr)) {
    result->error = where + "the store could not save the contact (" + Hex(hr) + ")";
    return false;
  }
  result->Count(static_cast<handheld::SaveOutcome>(outcome));
  return true;
}

// A contact of the store with its UID (made at its first export).
bool Load(StoreSession& session, INT i, ContactValues* values, std::string* error) {
  IDispatch* item = nullptr;
  HRESULT hr = session.items()->Item(i, &item);
  *values = ContactValues{};
  if (SUCCEEDED(hr) && item != nullptr) hr = ReadContact(static_cast<IContact*>(item), values);
  if (SUCCEEDED(hr) && item != nullptr) hr = GetItemUid(item, &values->uid);
  if (item != nullptr) item->Release();
  if (FAILED(hr)) {
    *error = "contact " + std::to_string(i) + ": the store could not read it (" + Hex(hr) + ")";
    return false;
  }
  return true;
}

std::string FirstUid(const Card& card) {
  std::vector<std::string> uids = UidsInText(card.text, 1);
  return uids.empty() ? std::string() : uids[0];
}

// The contact's card into the folder: a new file, or its own file with only what
// changed (MergeCard); an unchanged file is not touched.
bool WriteToFolder(FolderIndex& index, const ContactValues& values, const std::string& card,
                   std::string* error) {
  bool written = false;
  const std::string* found = index.Find(values.uid);
  if (found == nullptr) return WriteFileIfChanged(index.PathForNew(values.uid), card, &written, error);
  std::string bytes, why;
  // A file that went or became something else since the folder was read is replaced.
  if (!ReadItemFile(*found, &bytes, &why)) return WriteFileIfChanged(*found, card, &written, error);
  if (bytes == card) return true;
  std::unique_ptr<FILE, FileCloser> memory(
      fmemopen(bytes.data(), bytes.size(), "rb"));
  if (!memory) return WriteFileIfChanged(*found, card, &written, error);
  CardReader reader(memory.get(), true);
  Card read;
  std::string problem, out, merged;
  bool mine = false, changed = false;
  for (;;) {
    CardReader::Next next = reader.Read(&read, &problem);
    if (next == CardReader::Next::kCard && !mine && FirstUid(read) == values.uid) {
      mine = true;
      if (MergeCard(read, values, &merged)) {
        changed = true;
        out += merged;
        continue;
      }
    }
    out += read.raw;
    if (next == CardReader::Next::kEnd) break;
  }
  // No card of the file that can be read holds the UID any more: the contact's own card.
  if (!mine) return WriteFileIfChanged(*found, card, &written, error);
  return !changed || WriteFileIfChanged(*found, out, &written, error);
}

// An existing regular file that an export into it reads (through a link), or null.
FILE* OpenExisting(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

// The store's contacts into the cards of an existing file: each card a contact holds
// (by UID) merged with it (MergeCard), every other card and line kept as it was, the
// contacts the file lacks added at its end in the store's order. The file is written
// only when something changed.
// True when it changed anything.
bool MergeIntoFile(StoreSession& session, const std::string& path, FILE* old, AtomicFile* file,
                   Losses* losses, TransferResult* result) {
  std::unordered_map<std::string, INT> byUid;
  ContactValues values;
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    std::string uid;
    if (SUCCEEDED(hr) && item != nullptr) hr = GetItemUid(item, &uid);
    if (item != nullptr) item->Release();
    if (FAILED(hr)) {
      result->error =
          "contact " + std::to_string(i) + ": the store could not read it (" + Hex(hr) + ")";
      return false;
    }
    byUid.emplace(std::move(uid), i);
  }
  std::vector<char> done(static_cast<size_t>(session.count()) + 1, 0);
  CardReader reader(old, true);
  Card card;
  std::string problem, merged;
  long kept = 0;
  bool changed = false;
  for (;;) {
    CardReader::Next next = reader.Read(&card, &problem);
    if (next == CardReader::Next::kCard) {
      auto found = byUid.find(FirstUid(card));
      if (found != byUid.end() && !done[static_cast<size_t>(found->second)]) {
        done[static_cast<size_t>(found->second)] = 1;
        if (!Load(session, found->second, &values, &result->error)) return false;
        CardFromContact(values, losses);  // what the file cannot keep of it
        losses->EndItem();
        ++result->items;
        const bool merging = MergeCard(card, values, &merged);
        changed = changed || merging;
        file->Write(merging ? merged : card.raw);
        continue;
      }
      ++kept;
    }
    file->Write(card.raw);
    if (next == CardReader::Next::kEnd) break;
  }
  if (reader.failed()) {
    result->error = "cannot read \"" + path + "\" to its end: " + std::strerror(errno);
    return false;
  }
  for (INT i = 1; i <= session.count(); ++i) {
    if (done[static_cast<size_t>(i)]) continue;
    if (!Load(session, i, &values, &result->error)) return false;
    file->Write(CardFromContact(values, losses));
    losses->EndItem();
    ++result->items;
    changed = true;
  }
  if (kept > 0) {
    result->notes.push_back("kept " + std::to_string(kept) + (kept == 1 ? " card" : " cards") +
                            " of \"" + path + "\" that no contact of the store holds");
  }
  return changed;
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
  // An existing file keeps its cards; the store's contacts are merged into them.
  std::unique_ptr<FILE, FileCloser> old(folder ? nullptr : OpenExisting(path));
  // Identifiers made at a first export are kept in one transaction.
  if (!session.BeginBatch(&result->error)) return;
  ContactValues values;
  bool changed = true;
  if (old) {
    changed = MergeIntoFile(session, path, old.get(), &file, losses, result);
  } else {
    for (INT i = 1; i <= session.count(); ++i) {
      if (!Load(session, i, &values, &result->error)) break;
      std::string card = CardFromContact(values, losses);
      losses->EndItem();
      if (folder) {
        if (!WriteToFolder(index, values, card, &result->error)) break;
      } else {
        file.Write(card);
      }
      ++result->items;
    }
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
  // A file that nothing changed stays as it was (the new copy is dropped).
  if (!folder && result->error.empty() && changed) file.Commit(&result->error);
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
  long cards = 0;
  for (bool reading = true; reading;) {
    CardHandoff::Batch* batch = handoff.Take();
    if (batch == nullptr) break;
    for (size_t i = 0; i < batch->used && reading; ++i) {
      ReadCard& read = batch->slots[i];
      if (read.kind != ReadCard::kEnd && read.kind != ReadCard::kFailed) ++cards;
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
          reading = SaveCard(session, read, losses, result) &&
                    session.CountChange(&result->error);
          break;
      }
    }
    handoff.Give(batch);
  }
  handoff.Stop();
  reader.join();
  if (cards == 0 && result->error.empty()) result->notes.push_back("no cards in \"" + path + "\"");
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
}

}  // namespace interop
