#include "interop/vcard.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "interop/identity.h"
#include "interop/vcardcontact.h"
#include "interop/vcardreader.h"
#include "interop/vdir.h"

namespace interop {
namespace {

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

// A bounded queue between the reading thread and the saving one; Stop ends both sides'
// waiting (Push then refuses, Pop hands out the end).
class CardQueue {
 public:
  bool Push(std::unique_ptr<ReadCard> card) {
    std::unique_lock<std::mutex> lock(mutex_);
    roomy_.wait(lock, [this] { return stopped_ || cards_.size() < kCapacity; });
    if (stopped_) return false;
    cards_.push_back(std::move(card));
    filled_.notify_one();
    return true;
  }
  std::unique_ptr<ReadCard> Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    filled_.wait(lock, [this] { return stopped_ || !cards_.empty(); });
    if (cards_.empty()) return std::make_unique<ReadCard>();
    std::unique_ptr<ReadCard> card = std::move(cards_.front());
    cards_.pop_front();
    roomy_.notify_one();
    return card;
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    roomy_.notify_all();
    filled_.notify_all();
  }

 private:
  static constexpr size_t kCapacity = 256;
  std::mutex mutex_;
  std::condition_variable roomy_, filled_;
  std::deque<std::unique_ptr<ReadCard>> cards_;
  bool stopped_ = false;
};

// The reading thread: every card of every file, in order, then the end.
void ReadCards(const std::vector<std::string>& files, CardQueue& queue) {
  Card card;
  std::string problem;
  for (const std::string& name : files) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    if (!file) {
      auto failed = std::make_unique<ReadCard>();
      failed->kind = ReadCard::kFailed;
      failed->text = "cannot read \"" + name + "\": " + std::strerror(errno);
      queue.Push(std::move(failed));
      return;
    }
    CardReader reader(file.get());
    for (;;) {
      CardReader::Next next = reader.Read(&card, &problem);
      if (next == CardReader::Next::kEnd) break;
      auto read = std::make_unique<ReadCard>();
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
      if (!queue.Push(std::move(read))) return;
    }
    if (reader.failed()) {
      auto failed = std::make_unique<ReadCard>();
      failed->kind = ReadCard::kFailed;
      failed->text = "cannot read \"" + name + "\" to its end: " + std::strerror(errno);
      queue.Push(std::move(failed));
      return;
    }
  }
  queue.Push(std::make_unique<ReadCard>());
}

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
      if (!WriteFileIfChanged(JoinPath(path, FileNameForUid(values.uid, ".vcf")), card, &written,
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
  if (replace) session.RemoveAll("contact", &result->error);

  // Cards are read on a thread of their own while this one saves: reading and saving
  // take about as long as each other.
  CardQueue queue;
  std::thread reader(ReadCards, std::cref(files), std::ref(queue));
  for (;;) {
    std::unique_ptr<ReadCard> read = queue.Pop();
    if (read->kind == ReadCard::kEnd) break;
    if (read->kind == ReadCard::kProblem) {
      result->problems.push_back(std::move(read->text));
      continue;
    }
    if (read->kind == ReadCard::kFailed) {
      result->error = std::move(read->text);
      break;
    }
    losses->Absorb(read->lost);
    if (read->kind == ReadCard::kGroup) continue;
    const ContactValues& values = read->values;
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
      result->error = read->text + ": line " + std::to_string(read->line) +
                      ": the store could not save the contact (" + Hex(hr) + ")";
      break;
    }
    ++result->items;
    if (!session.CountChange(&result->error)) break;
  }
  queue.Stop();
  reader.join();
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
}

}  // namespace interop
