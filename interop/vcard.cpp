#include "interop/vcard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "handheld/faults.h"
#include "interop/engine.h"
#include "interop/identity.h"
#include "interop/vcardcontact.h"
#include "interop/vcardreader.h"

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

std::string FirstUid(const Card& card) {
  std::vector<std::string> uids = UidsInText(card.text, 1);
  return uids.empty() ? std::string() : uids[0];
}

// vCard for the transfer engine (engine.h): a contact is its ContactValues both ways.
struct VCardFormat {
  static constexpr const char* kExtension = ".vcf";
  static constexpr int kUidDepth = 1;
  const char* noun() const { return "contact"; }

  using Stored = ContactValues;
  HRESULT Load(StoreSession& session, INT i, ContactValues* values, Losses*, std::string*) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    *values = ContactValues{};
    if (SUCCEEDED(hr) && item != nullptr) hr = ReadContact(static_cast<IContact*>(item), values);
    if (SUCCEEDED(hr) && item != nullptr) hr = GetItemUid(item, &values->uid);
    if (item != nullptr) item->Release();
    return FAILED(hr) ? hr : S_OK;
  }
  const std::string& Uid(const ContactValues& values) const { return values.uid; }
  std::string Text(const ContactValues& values, bool, Losses* losses) {
    return CardFromContact(values, losses);
  }
  std::string Head() const { return std::string(); }
  std::string Tail() const { return std::string(); }

  // The cards of a file and the text between them: each card a contact holds (by UID)
  // merged with it (MergeCard), every other card and line kept as it was, the contacts
  // the file lacks added at its end in the store's order.
  class File {
   public:
    explicit File(const VCardFormat&) {}
    bool Load(const std::string& text) {
      text_.clear();
      parts_.clear();
      byUid_.clear();
      added_.clear();
      changed_ = false;
      if (text.empty()) return true;
      std::unique_ptr<FILE, FileCloser> memory(
          fmemopen(const_cast<char*>(text.data()), text.size(), "rb"));
      if (!memory) return false;
      // What the reader gives is the file (after a UTF-16 conversion).
      CardReader reader(memory.get(), true);
      Card card;
      std::string problem;
      for (;;) {
        const CardReader::Next next = reader.Read(&card, &problem);
        Part part;
        part.begin = text_.size();
        part.end = text_.size() + card.raw.size();
        part.card = next == CardReader::Next::kCard;
        text_ += card.raw;
        if (part.card) byUid_.emplace(FirstUid(card), parts_.size());
        parts_.push_back(std::move(part));
        if (next == CardReader::Next::kEnd) break;
      }
      return !reader.failed();
    }
    void Merge(const ContactValues& values, const std::string& text, Losses*) {
      auto found = byUid_.find(values.uid);
      if (found == byUid_.end() || parts_[found->second].taken) {
        added_ += text;
        changed_ = true;
        return;
      }
      Part& part = parts_[found->second];
      part.taken = true;
      // The card again, as the file holds it.
      std::unique_ptr<FILE, FileCloser> memory(
          fmemopen(text_.data() + part.begin, part.end - part.begin, "rb"));
      if (!memory) return;
      CardReader reader(memory.get(), true);
      Card card;
      std::string problem;
      if (reader.Read(&card, &problem) == CardReader::Next::kCard &&
          MergeCard(card, values, &part.merged)) {
        part.replaced = true;
        changed_ = true;
      }
    }
    bool Changed(std::string* text) const {
      if (!changed_) return false;
      text->clear();
      for (const Part& part : parts_) {
        if (part.replaced) {
          *text += part.merged;
        } else {
          text->append(text_, part.begin, part.end - part.begin);
        }
      }
      *text += added_;
      return true;
    }
    long Others() const {
      long others = 0;
      for (const Part& part : parts_) others += part.card && !part.taken;
      return others;
    }

   private:
    struct Part {
      size_t begin = 0, end = 0;  // in text_
      bool card = false;
      bool taken = false, replaced = false;
      std::string merged;
    };
    std::string text_;
    std::vector<Part> parts_;
    std::unordered_map<std::string, size_t> byUid_;  // the first card of each UID
    std::string added_;
    bool changed_ = false;
  };
  std::string KeptNote(const std::string& path, long kept) const {
    return "kept " + std::to_string(kept) + (kept == 1 ? " card" : " cards") + " of \"" + path +
           "\" that no contact of the store holds";
  }

  using Item = ContactValues;
  class Reader {
   public:
    explicit Reader(const VCardFormat&) {}
    bool Open(const std::string& path, std::string* error) {
      reader_.reset();
      file_.reset(handheld::OpenForReading(path));
      if (!file_) {
        *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
      }
      reader_.emplace(file_.get());
      name_ = path;
      return true;
    }
    Entry Next(Decoded<ContactValues>* read) {
      const CardReader::Next next = reader_->Read(&card_, &problem_);
      if (next == CardReader::Next::kProblem) {
        read->text = name_ + ": " + problem_;
        return Entry::kProblem;
      }
      if (next == CardReader::Next::kEnd) {
        const bool failed = reader_->failed();
        if (failed) read->text = "cannot read \"" + name_ + "\" to its end: " + std::strerror(errno);
        reader_.reset();
        file_.reset();
        return failed ? Entry::kFailed : Entry::kFileEnd;
      }
      read->line = card_.line;
      const CardKind kind = ContactFromCard(card_, &read->item, &read->lost);
      read->lost.EndItem();
      return kind == CardKind::kGroup ? Entry::kGroup : Entry::kItem;
    }

   private:
    std::unique_ptr<FILE, FileCloser> file_;
    std::optional<CardReader> reader_;
    std::string name_;
    Card card_;
    std::string problem_;
  };
  HRESULT Make(StoreSession& session, Decoded<ContactValues>& read, Losses* losses,
               IDispatch** item, std::string_view* uid, std::string*) {
    HRESULT hr = session.app()->CreateItem(olContactItem, item);
    if (SUCCEEDED(hr) && *item == nullptr) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = WriteContact(static_cast<IContact*>(*item), read.item, losses);
    *uid = read.item.uid;
    return hr;
  }
  HRESULT SaveNew(IDispatch* item) const { return static_cast<IContact*>(item)->Save(); }
  std::string EmptyNote(const std::string& path) const {
    return "no cards in \"" + path + "\"";
  }
  std::string LeftOutNote(const std::string& name, long count) const {
    return "left out " + std::to_string(count) + " " + name;
  }
};

}  // namespace

void ExportContacts(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result) {
  VCardFormat format;
  ExportItems(format, session, path, losses, result);
}

void ImportContacts(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result) {
  ImportContacts(session, path, replace, losses, result, Reading::kThread);
}

void ImportContacts(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result, Reading reading) {
  VCardFormat format;
  ImportItems(format, session, path, replace, losses, result, reading);
}

}  // namespace interop
