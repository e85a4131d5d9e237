// The store's items in Evolution Data Server (see edsstore.h).
#include "handheld/eds/edsstore.h"

#include <algorithm>
#include <condition_variable>
#include <future>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "handheld/eds/eds.h"
#include "handheld/eds/edsvalues.h"
#include "handheld/faults.h"
#include "handheld/pimstore.h"
#include "handheld/store/itembackend.h"
#include "handheld/store/itemdata.h"
#include "handheld/utf16.h"
#include "interop/ical_merge.h"
#include "interop/ical_store.h"
#include "interop/ical_stream.h"
#include "interop/losses.h"
#include "interop/ical_event.h"
#include "interop/ical_todo.h"
#include "interop/vcardcontact.h"

// After the store's headers: GLib's TRUE and FALSE are macros, the store's are constants.
#include <libebook/libebook.h>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

namespace handheld::eds {
namespace {

using store::ItemValues;
using StoreKind = store::Kind;

// A GObject reference or a GLib allocation, released at the end of the scope.
struct Unref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <class T>
using Ref = std::unique_ptr<T, Unref>;
struct Free {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, Free>;

// One thread that cancels the call in progress once it has run kCallLimit: every EDS call
// here goes through Call, so none waits without a bound.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  // Runs call(cancellable, &error); false with the reason in *why.
  template <class Body>
  bool Call(const std::string& what, std::string* why, Body&& body) {
    Ref<GCancellable> cancellable(g_cancellable_new());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      current_ = cancellable.get();
      deadline_ = std::chrono::steady_clock::now() + kCallLimit;
    }
    wake_.notify_all();
    GError* error = nullptr;
    const bool done = body(cancellable.get(), &error);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      current_ = nullptr;
    }
    if (!done || error != nullptr) {
      if (why != nullptr) {
        if (error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          *why = "no answer from Evolution Data Server to " + what + " within " +
                 std::to_string(kCallLimit.count()) + " ms";
        } else {
          *why = what + ": " + (error != nullptr ? error->message : "failed");
        }
      }
      if (error != nullptr) g_error_free(error);
      return false;
    }
    return true;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      if (current_ == nullptr) {
        wake_.wait(lock);
      } else if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout &&
                 current_ != nullptr && std::chrono::steady_clock::now() >= deadline_) {
        g_cancellable_cancel(current_);
        current_ = nullptr;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  GCancellable* current_ = nullptr;
  std::chrono::steady_clock::time_point deadline_;
  bool stop_ = false;
  std::thread thread_;
};

Kind SourceKind(StoreKind kind) {
  return kind == StoreKind::kContact       ? Kind::kAddressBook
         : kind == StoreKind::kAppointment ? Kind::kCalendar
                                           : Kind::kTaskList;
}

int FolderIndex(StoreKind kind) {
  return static_cast<int>(kind);
}

bool IsNotFound(const GError* error) {
  return error != nullptr &&
         (g_error_matches(error, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND) ||
          g_error_matches(error, E_CAL_CLIENT_ERROR, E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND));
}

// EDS's own bookkeeping in a card, which is nothing the user wrote: not a loss.
bool IsBookkeeping(std::string_view line) {
  for (std::string_view name : {"REV:", "REV;", "X-EVOLUTION-FILE-AS:", "X-EVOLUTION-FILE-AS;",
                                "PRODID:", "X-EVOLUTION-WEBDAV-ETAG:"}) {
    if (line.size() >= name.size() &&
        g_ascii_strncasecmp(line.data(), name.data(), name.size()) == 0) {
      return true;
    }
  }
  return false;
}

// A card's text as the vCard reader gives it (keepRaw for a merge).
bool ReadCard(const std::string& text, bool keepRaw, interop::Card* card) {
  std::unique_ptr<FILE, int (*)(FILE*)> memory(
      fmemopen(const_cast<char*>(text.data()), text.size(), "rb"), &fclose);
  if (!memory) return false;
  interop::CardReader reader(memory.get(), keepRaw);
  std::string problem;
  return reader.Read(card, &problem) == interop::CardReader::Next::kCard;
}

std::string WithoutBookkeeping(const std::string& card) {
  std::string kept;
  kept.reserve(card.size());
  size_t at = 0;
  while (at < card.size()) {
    size_t end = card.find('\n', at);
    end = end == std::string::npos ? card.size() : end + 1;
    std::string_view line(card.data() + at, end - at);
    // Folded lines of a dropped property go with it.
    bool dropped = IsBookkeeping(line);
    kept.append(dropped ? "" : line);
    at = end;
    while (dropped && at < card.size() && (card[at] == ' ' || card[at] == '\t')) {
      end = card.find('\n', at);
      at = end == std::string::npos ? card.size() : end + 1;
    }
  }
  return kept;
}

// What one kind's items hold that the values do not, told at logoff.
struct Untold {
  interop::Losses losses;
  long items = 0;
};

// The adds of a batch go to EDS this many to a call.
constexpr size_t kGroup = 500;

// An item as a listing read it.
struct Snapshot {
  std::optional<std::string> blob;  // none: it could not be read
  std::unique_ptr<interop::Losses> lost;  // what its values do not hold, when anything
};

// Adds made together in one call.
struct AddGroup {
  std::vector<Ref<EContact>> contacts;
  std::vector<std::string> components;  // VEVENT or VTODO texts
  std::vector<int64_t> ids;
};

class Folder {
 public:
  StoreKind kind = StoreKind::kContact;
  std::string named;  // the "eds:..." the logon was given
  std::unique_ptr<Client> client;
  Source source;
  bool tried = false;
  std::string failure;
  // The adds of an open batch, not yet made; and the full group before them, being made
  // while they gather (its call's answer: "" when EDS took it, else why not).
  AddGroup pending;
  AddGroup sending;
  std::future<std::string> sent;
  bool zoneAdded = false;  // the local zone's VTIMEZONE is in the calendar
  std::set<std::string, std::less<>> zonesAsked;  // TZIDs asked of the calendar
  // Calendars: the items the last listing read, until a write or their read (Read).
  std::unordered_map<std::string, Snapshot> snapshot;
  uint64_t snapshotWrites = ~uint64_t{0};
  // The UIDs the folder holds: its last listing's, with this logon's adds and removals.
  std::unordered_set<std::string> present;
  bool presentKnown = false;
};

class EdsStore final : public store::ItemBackend {
 public:
  static EdsStore* Open(const std::string& named, std::string* error) {
    std::unique_ptr<Registry> registry = Registry::Connect(kDefaultLimit, error);
    if (registry == nullptr) {
      *error = "cannot reach Evolution Data Server (HANDHELD_STORE=" + named + "): " + *error;
      return nullptr;
    }
    // A name that no kind has is a mistake, not a wish for the defaults: a load would put
    // the items where the user did not mean them.
    if (named != "eds:") {
      std::string reasons;
      for (Kind kind : kKinds) {
        Source source;
        std::string why;
        if (registry->Resolve(kind, named, &source, &why)) {
          return new EdsStore(named, std::move(registry));
        }
        reasons += (reasons.empty() ? "" : "; ") + why;
      }
      *error = "HANDHELD_STORE=" + named + " names no source of Evolution Data Server: " + reasons;
      return nullptr;
    }
    return new EdsStore(named, std::move(registry));
  }

  ~EdsStore() override { Close(); }

  bool isOpen() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return registry_ != nullptr;
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (registry_ == nullptr) return;
    long kept = 0;
    if (grouped_) EndGroups(&kept);
    TellUntold();
    for (Folder& folder : folders_) {
      Drop(folder);
      folder.client.reset();
    }
    registry_.reset();
  }

  bool OpenFolder(int32_t folder) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return Ready(folder) != nullptr;
  }

  bool ListItems(int32_t folder, std::vector<int64_t>* ids) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    if (f == nullptr || !Flush(*f)) return false;
    std::vector<std::string> uids;
    if (!ListUids(*f, &uids)) return false;
    std::sort(uids.begin(), uids.end());
    ids->clear();
    ids->reserve(uids.size());
    for (std::string& uid : uids) ids->push_back(IdOf(f->kind, std::move(uid)));
    return true;
  }

  bool LoadItem(int64_t id, int32_t folder, std::string* blob) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    const std::string* uid = UidOf(folder, id);
    if (f == nullptr || uid == nullptr || !Flush(*f)) return false;
    std::vector<std::optional<std::string>> blobs;
    if (!Read(*f, {*uid}, &blobs) || !blobs[0]) return false;
    *blob = std::move(*blobs[0]);
    return true;
  }

  bool LoadItems(int32_t folder, std::span<const int64_t> ids,
                 std::vector<std::optional<std::string>>* blobs) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    if (f == nullptr || !Flush(*f)) return false;
    std::vector<std::string> uids;
    for (int64_t id : ids) {
      const std::string* uid = UidOf(folder, id);
      uids.push_back(uid != nullptr ? *uid : std::string());
    }
    return Read(*f, uids, blobs);
  }

  int64_t InsertItem(int32_t folder, std::string_view blob, std::u16string_view,
                     std::u16string_view, std::u16string_view uid16) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    if (f == nullptr) return 0;
    ItemValues values = store::NewItemValues(f->kind, SYSTEMTIME{});
    if (!store::DecodeItem(blob, &values)) return Fail("a damaged item");
    const std::string uid = Utf8FromUtf16(uid16.empty() ? store::NewOrderedItemUid()
                                                        : std::u16string(uid16));
    if (auto holder = idOf_[FolderIndex(f->kind)].find(uid);
        holder != idOf_[FolderIndex(f->kind)].end() && Exists(*f, uid)) {
      return Fail("the UID " + uid + " is already held");
    }
    ++writes_;
    contactsValid_ = contactsValid_ && f->kind != StoreKind::kContact;
    std::string why;
    if (f->kind == StoreKind::kContact) {
      Ref<EContact> contact(NewContact(values, uid));
      if (contact == nullptr) return Fail("the contact could not be made a vCard");
      if (batch_) {
        f->pending.contacts.push_back(std::move(contact));
      } else if (!calls_.Call("adding a contact", &why, [&](GCancellable* c, GError** e) {
                   gchar* added = nullptr;
                   bool ok = e_book_client_add_contact_sync(f->client->book(), contact.get(),
                                                            E_BOOK_OPERATION_FLAG_NONE, &added,
                                                            c, e);
                   g_free(added);
                   return ok;
                 })) {
        return Refused(why);
      }
    } else {
      std::string text;
      if (!ComponentText(*f, values, uid, &text, &why) || !AddLocalZone(*f, &why)) {
        return Refused(why);
      }
      if (batch_) {
        f->pending.components.push_back(std::move(text));
      } else if (!calls_.Call("adding an item", &why, [&](GCancellable* c, GError** e) {
                   Ref<ICalComponent> component(i_cal_component_new_from_string(text.c_str()));
                   if (component == nullptr) return false;
                   gchar* added = nullptr;
                   bool ok = e_cal_client_create_object_sync(f->client->calendar(),
                                                             component.get(),
                                                             E_CAL_OPERATION_FLAG_NONE, &added,
                                                             c, e);
                   g_free(added);
                   return ok;
                 })) {
        return Refused(why);
      }
    }
    const int64_t id = IdOf(f->kind, uid);
    f->present.insert(uid);
    if (batch_) {
      f->pending.ids.push_back(id);
      ++batchAdds_;
      // A full group is made while the next one gathers, so that what is held stays
      // small and this process and EDS work side by side; the add that fills a group fails
      // when EDS did not take the group before it.
      if (f->pending.ids.size() >= kGroup && !Send(*f)) return 0;
    }
    return id;
  }

  bool UpdateItem(int32_t folder, int64_t id, std::string_view blob, std::u16string_view,
                  std::u16string_view) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    const std::string* uid = UidOf(folder, id);
    if (f == nullptr || uid == nullptr || !Flush(*f)) return false;
    ItemValues values = store::NewItemValues(f->kind, SYSTEMTIME{});
    if (!store::DecodeItem(blob, &values)) return Fail("a damaged item") != 0;
    ++writes_;
    contactsValid_ = contactsValid_ && f->kind != StoreKind::kContact;
    std::string why;
    bool done = f->kind == StoreKind::kContact ? UpdateContact(*f, *uid, values, &why)
                                                : UpdateComponent(*f, *uid, values, &why);
    if (!done) Refused(why);
    return done;
  }

  int DeleteItem(int32_t folder, int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    const std::string* uid = UidOf(folder, id);
    if (f == nullptr || !Flush(*f)) return -1;
    if (uid == nullptr) return 0;
    ++writes_;
    contactsValid_ = contactsValid_ && f->kind != StoreKind::kContact;
    bool gone = false;
    std::string why;
    const bool done = calls_.Call("removing an item", &why, [&](GCancellable* c, GError** e) {
      bool ok = f->kind == StoreKind::kContact
                    ? e_book_client_remove_contact_by_uid_sync(
                          f->client->book(), uid->c_str(), E_BOOK_OPERATION_FLAG_NONE, c, e)
                    : e_cal_client_remove_object_sync(f->client->calendar(), uid->c_str(),
                                                      nullptr, E_CAL_OBJ_MOD_ALL,
                                                      E_CAL_OPERATION_FLAG_NONE, c, e);
      if (!ok && IsNotFound(*e)) {
        gone = true;
        g_clear_error(e);
        return true;
      }
      return ok;
    });
    if (!done) {
      Refused(why);
      return -1;
    }
    f->present.erase(*uid);
    return gone ? 0 : 1;
  }

  std::optional<std::u16string> FindContactAddress(std::u16string_view key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindAddress(key);
  }

  std::pair<uint64_t, int64_t> Changes() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return {writes_, 0};
  }

 private:
  std::optional<std::u16string> FindAddress(std::u16string_view key) {
    if (key.empty()) return std::nullopt;
    if (!contactsValid_) {
      contactKeys_.clear();
      Folder* f = Ready(olFolderContacts);
      if (f == nullptr || !Flush(*f)) return std::nullopt;
      std::vector<std::string> uids;
      if (!ListUids(*f, &uids)) return std::nullopt;
      std::sort(uids.begin(), uids.end());
      std::vector<std::optional<std::string>> blobs;
      if (!Read(*f, uids, &blobs, /*tell=*/false)) return std::nullopt;
      for (auto& blob : blobs) {
        ItemValues contact = store::NewItemValues(StoreKind::kContact, SYSTEMTIME{});
        if (!blob || !store::DecodeItem(*blob, &contact)) continue;
        std::u16string email = store::ContactEmailKey(contact);
        std::u16string name = store::ContactNameKey(contact);
        if (!email.empty()) contactKeys_.emplace(email, email);
        if (!name.empty()) contactKeys_.emplace(std::move(name), std::move(email));
      }
      contactsValid_ = true;
    }
    auto found = contactKeys_.find(std::u16string(key));
    if (found == contactKeys_.end()) return std::nullopt;
    return found->second;
  }

 public:

  std::optional<std::u16string> ItemUid(int32_t folder, int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* uid = UidOf(folder, id);
    if (uid == nullptr) return std::u16string();
    return Utf16FromUtf8(*uid);
  }

  bool SetItemUid(int32_t folder, int64_t id, std::u16string_view uid) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* held = UidOf(folder, id);
    if (held != nullptr && Utf16FromUtf8(*held) == uid) return true;
    store::SetLastStoreError("Evolution Data Server keeps an item's UID for its life");
    return false;
  }

  std::optional<std::u16string> GiveDerivedUids(int32_t folder, int64_t id) override {
    return ItemUid(folder, id);  // every EDS item has one
  }

  int64_t UidHolder(int32_t folder, std::u16string_view uid16) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    if (f == nullptr) return -1;
    const std::string uid = Utf8FromUtf16(uid16);
    auto& ids = idOf_[FolderIndex(f->kind)];
    if (auto known = ids.find(uid); known != ids.end()) {
      for (const AddGroup* group : {&f->pending, &f->sending}) {
        for (int64_t held : group->ids) {
          if (held == known->second) return held;
        }
      }
    }
    // A UID that the folder did not hold at its listing, nor since through this logon, is
    // taken for free without asking EDS item by item: should another program have added
    // it since, EDS refuses the add, and the save fails saying so.
    if (!f->presentKnown) {
      std::vector<std::string> uids;
      if (!Flush(*f) || !ListUids(*f, &uids)) return -1;
    }
    if (f->present.count(uid) == 0) return 0;
    std::string why;
    bool exists = false;
    if (!Look(*f, uid, &exists, &why)) {
      Refused(why);
      return -1;
    }
    return exists ? IdOf(f->kind, uid) : 0;
  }

  std::u16string NewUid() override { return store::NewOrderedItemUid(); }

  std::string NativeText(int32_t folder, int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Folder* f = Ready(folder);
    const std::string* uid = UidOf(folder, id);
    if (f == nullptr || uid == nullptr) return "";
    std::string text;
    std::string why;
    calls_.Call("reading an item", &why, [&](GCancellable* c, GError** e) {
      if (f->kind == StoreKind::kContact) {
        EContact* contact = nullptr;
        if (!e_book_client_get_contact_sync(f->client->book(), uid->c_str(), &contact, c, e)) {
          return false;
        }
        // A photo EDS keeps in a file of its own goes with the contact into the text: the
        // file goes when the contact does.
        const bool inlined = e_contact_inline_local_photos(contact, e);
        GText card(e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30));
        g_object_unref(contact);
        text = card.get() != nullptr ? card.get() : "";
        return inlined;
      }
      GSList* components = nullptr;
      if (!e_cal_client_get_objects_for_uid_sync(f->client->calendar(), uid->c_str(),
                                                 &components, c, e)) {
        return false;
      }
      for (GSList* at = components; at != nullptr; at = at->next) {
        ICalComponent* component =
            e_cal_component_get_icalcomponent(static_cast<ECalComponent*>(at->data));
        GText part(i_cal_component_as_ical_string(component));
        if (part.get() != nullptr) text += part.get();
      }
      g_slist_free_full(components, g_object_unref);
      return true;
    });
    // The file's lines end in CR LF, whatever EDS gave.
    std::string lines;
    for (size_t at = 0; at < text.size(); ++at) {
      if (text[at] == '\r') continue;
      if (text[at] == '\n') lines += '\r';
      lines += text[at];
    }
    if (!lines.empty() && lines.back() != '\n') lines += "\r\n";
    return lines;
  }

  bool BeginBatch() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (batch_ || registry_ == nullptr) return false;
    batch_ = true;
    batchAdds_ = 0;
    batchLost_ = 0;
    return true;
  }

  bool EndBatch(bool keep) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!batch_ || grouped_) return false;
    bool done = batchLost_ == 0;
    for (Folder& folder : folders_) {
      if (keep) {
        done = Flush(folder) && done;
      } else {
        Drop(folder);
      }
    }
    batch_ = false;
    return done;
  }

  // Grouped adds are the batch's adds without its promise to drop: what the load was told
  // is saved is made, at the latest at KeepAdds or Close.
  bool GroupsAdds() override { return true; }
  bool GroupAdds() override {
    if (!BeginBatch()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    grouped_ = true;
    return true;
  }
  bool KeepAdds(long* kept) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *kept = 0;
    if (!grouped_) return false;
    return EndGroups(kept);
  }

  EdsStore(std::string named, std::unique_ptr<Registry> registry)
      : registry_(std::move(registry)) {
    for (StoreKind kind : {StoreKind::kContact, StoreKind::kAppointment, StoreKind::kTask}) {
      folders_[FolderIndex(kind)].kind = kind;
      folders_[FolderIndex(kind)].named = named;
    }
  }

 private:
  // The folder, its source opened on first use; null with the reason told.
  Folder* Ready(int32_t folder) {
    StoreKind kind;
    if (registry_ == nullptr || !store::KindOfFolder(folder, &kind)) return nullptr;
    Folder& f = folders_[FolderIndex(kind)];
    if (!f.tried) {
      f.tried = true;
      std::string why;
      if (!registry_->Resolve(SourceKind(kind), f.named, &f.source, &why) &&
          // "eds:X" names one source; the kinds that have no X take their default.
          !(f.named != "eds:" && registry_->Resolve(SourceKind(kind), "eds:", &f.source, &why))) {
        f.failure = why;
      } else {
        f.client = registry_->Open(SourceKind(kind), f.source.uid, kDefaultLimit, &why);
        if (f.client == nullptr) f.failure = why;
      }
      if (!f.failure.empty()) {
        f.failure = std::string("cannot open the Evolution Data Server ") +
                    KindNoun(SourceKind(kind)) + ": " + f.failure;
        std::fprintf(stderr, "Quillmote: %s\n", f.failure.c_str());
      }
    }
    if (f.client == nullptr) {
      store::SetLastStoreError(f.failure);
      return nullptr;
    }
    return &f;
  }

  // A call EDS refused (or did not answer): the reason goes to standard error as well,
  // for the system shows only its own message.
  int64_t Refused(const std::string& why) {
    std::fprintf(stderr, "Quillmote: Evolution Data Server: %s\n", why.c_str());
    store::SetLastStoreError(why);
    return 0;
  }

  int64_t Fail(const std::string& why) {
    store::SetLastStoreError(why);
    return 0;
  }

  int64_t IdOf(StoreKind kind, std::string uid) {
    auto& ids = idOf_[FolderIndex(kind)];
    auto [at, added] = ids.emplace(std::move(uid), nextId_);
    if (added) {
      uidOf_.emplace(nextId_, std::make_pair(kind, &at->first));
      ++nextId_;
    }
    return at->second;
  }

  const std::string* UidOf(int32_t folder, int64_t id) {
    auto found = uidOf_.find(id);
    StoreKind kind;
    if (found == uidOf_.end() || !store::KindOfFolder(folder, &kind) ||
        found->second.first != kind) {
      return nullptr;
    }
    return found->second.second;
  }

  bool ListUids(Folder& f, std::vector<std::string>* uids) {
    std::string why;
    bool done = ListAll(f, uids, &why);
    if (!done) {
      Refused(why);
      return false;
    }
    f.present.clear();
    f.present.insert(uids->begin(), uids->end());
    f.presentKnown = true;
    return true;
  }

  bool ListAll(Folder& f, std::vector<std::string>* uids, std::string* whyOut) {
    std::string why;
    bool done;
    if (f.kind == StoreKind::kContact) {
      done = calls_.Call("listing the contacts", &why, [&](GCancellable* c, GError** e) {
        Ref<EBookQuery> query(nullptr);
        EBookQuery* all = e_book_query_any_field_contains("");
        GText sexp(e_book_query_to_string(all));
        e_book_query_unref(all);
        GSList* listed = nullptr;
        if (!e_book_client_get_contacts_uids_sync(f.client->book(), sexp.get(), &listed, c, e)) {
          return false;
        }
        for (GSList* at = listed; at != nullptr; at = at->next) {
          uids->emplace_back(static_cast<const char*>(at->data));
        }
        g_slist_free_full(listed, g_free);
        return true;
      });
    } else {
      // A view that carries the UIDs alone (EDS has no listing of UIDs for calendars).
      std::unordered_set<std::string> seen;
      f.snapshot.clear();
      done = ListByView(f, true, &why, [&](ICalComponent* component) {
        const char* uid = i_cal_component_get_uid(component);
        if (uid != nullptr && seen.insert(uid).second) uids->push_back(uid);
      });
      // A small calendar is read whole at once. Its items come a few dozen at a time; a
      // series with changed occurrences may come in parts, and is left to the read, which
      // asks for it whole.
      std::unordered_set<std::string> inParts;
      if (done && uids->size() <= kWholeListing) {
        done = ListByView(f, false, &why, [&](ICalComponent* component) {
          const char* uid = i_cal_component_get_uid(component);
          if (uid == nullptr || seen.count(uid) == 0) return;  // added since: not listed
          Ref<ICalProperty> rid(
              i_cal_component_get_first_property(component, I_CAL_RECURRENCEID_PROPERTY));
          if (rid != nullptr || inParts.count(uid) != 0 || f.snapshot.count(uid) != 0) {
            inParts.insert(uid);
            f.snapshot.erase(uid);
            return;
          }
          Snapshot held;
          auto lost = std::make_unique<interop::Losses>(NounOf(f.kind), NounsOf(f.kind));
          held.blob = ComponentBlob(f, component, false, lost.get());
          if (!lost->empty()) held.lost = std::move(lost);
          f.snapshot.emplace(uid, std::move(held));
        });
      }
      f.snapshotWrites = writes_;
    }
    if (!done) *whyOut = why;
    return done;
  }

  // Every item of a calendar through a view (carrying nothing but the UIDs when
  // `uidsOnly`), each component handed to `take` (which keeps nothing of it) as it comes;
  // false with the reason in *why. The view's signals come through the client's own
  // context, run here until the view says it is complete (or has said nothing for
  // kCallLimit).
  template <class Take>
  bool ListByView(Folder& f, bool uidsOnly, std::string* why, Take&& take) {
    struct Listing {
      Take* take = nullptr;
      bool complete = false;
      std::string error;
      std::chrono::steady_clock::time_point heard = std::chrono::steady_clock::now();
    } listing;
    listing.take = &take;
    GMainContext* context = f.client->context();
    g_main_context_push_thread_default(context);
    ECalClientView* made = nullptr;
    bool done = calls_.Call("listing the items", why, [&](GCancellable* c, GError** e) {
      return static_cast<bool>(e_cal_client_get_view_sync(f.client->calendar(), "#t", &made, c, e));
    });
    Ref<ECalClientView> view(made);
    if (done) {
      const gulong added = g_signal_connect(
          view.get(), "objects-added",
          G_CALLBACK(+[](ECalClientView*, const GSList* objects, gpointer data) {
            auto* l = static_cast<Listing*>(data);
            l->heard = std::chrono::steady_clock::now();
            for (const GSList* at = objects; at != nullptr; at = at->next) {
              (*l->take)(static_cast<ICalComponent*>(at->data));
            }
          }),
          &listing);
      const gulong completed = g_signal_connect(
          view.get(), "complete", G_CALLBACK(+[](ECalClientView*, const GError* error, gpointer data) {
            auto* l = static_cast<Listing*>(data);
            l->complete = true;
            if (error != nullptr) l->error = error->message;
          }),
          &listing);
      GError* error = nullptr;
      GSList uidOnly = {const_cast<char*>("UID"), nullptr};
      if (uidsOnly) e_cal_client_view_set_fields_of_interest(view.get(), &uidOnly, &error);
      if (error == nullptr) {
        e_cal_client_view_set_flags(view.get(), E_CAL_CLIENT_VIEW_FLAGS_NOTIFY_INITIAL, &error);
      }
      if (error == nullptr) e_cal_client_view_start(view.get(), &error);
      RunContext(context, [&] {
        return error != nullptr || listing.complete ||
               std::chrono::steady_clock::now() - listing.heard >= kCallLimit;
      });
      if (error == nullptr) e_cal_client_view_stop(view.get(), &error);
      g_signal_handler_disconnect(view.get(), added);
      g_signal_handler_disconnect(view.get(), completed);
      view.reset();
      // What the view left for the context goes with it.
      while (g_main_context_iteration(context, FALSE)) {
      }
      if (error != nullptr) {
        *why = std::string("listing the items: ") + error->message;
        g_error_free(error);
        done = false;
      } else if (!listing.complete) {
        *why = "no answer from Evolution Data Server to listing the items within " +
               std::to_string(kCallLimit.count()) + " ms";
        done = false;
      } else if (!listing.error.empty()) {
        *why = "listing the items: " + listing.error;
        done = false;
      }
    }
    g_main_context_pop_thread_default(context);
    return done;
  }

  // Runs `context` until `over` says so, looking at it at least every 100 ms.
  template <class Over>
  static void RunContext(GMainContext* context, Over&& over) {
    GSource* tick = g_timeout_source_new(100);
    g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr,
                          nullptr);
    g_source_attach(tick, context);
    while (!over()) g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
  }

  // The components of every UID (ECalComponent*; none for a UID that is gone), by a call
  // each, all made at once on the client's context and taken as they come; false with
  // the reason in *why when a call failed or none answered for kCallLimit.
  bool ReadByUid(Folder& f, const std::vector<std::string>& uids, std::vector<GSList*>* found,
                 std::string* why) {
    struct Reading {
      std::vector<GSList*>* found;
      size_t left;
      std::string error;
      std::chrono::steady_clock::time_point heard = std::chrono::steady_clock::now();
    } reading{found, uids.size(), ""};
    struct One {
      Reading* reading;
      size_t index;
    };
    std::vector<One> calls(uids.size());
    GMainContext* context = f.client->context();
    g_main_context_push_thread_default(context);
    Ref<GCancellable> cancellable(g_cancellable_new());
    for (size_t i = 0; i < uids.size(); ++i) {
      calls[i] = {&reading, i};
      e_cal_client_get_objects_for_uid(
          f.client->calendar(), uids[i].c_str(), cancellable.get(),
          +[](GObject* client, GAsyncResult* result, gpointer data) {
            auto* one = static_cast<One*>(data);
            Reading& r = *one->reading;
            GError* error = nullptr;
            GSList* components = nullptr;
            if (e_cal_client_get_objects_for_uid_finish(E_CAL_CLIENT(client), result, &components,
                                                        &error)) {
              (*r.found)[one->index] = components;
            } else if (!IsNotFound(error) && r.error.empty()) {
              r.error = error != nullptr ? error->message : "failed";
            }
            if (error != nullptr) g_error_free(error);
            --r.left;
            r.heard = std::chrono::steady_clock::now();
          },
          &calls[i]);
    }
    RunContext(context, [&] {
      return reading.left == 0 || std::chrono::steady_clock::now() - reading.heard >= kCallLimit;
    });
    const bool answered = reading.left == 0;
    if (!answered) {
      // Cancelled calls still answer; their answers must not outlive `calls`.
      g_cancellable_cancel(cancellable.get());
      RunContext(context, [&] { return reading.left == 0; });
    }
    g_main_context_pop_thread_default(context);
    if (!answered) {
      *why = "no answer from Evolution Data Server to reading items within " +
             std::to_string(kCallLimit.count()) + " ms";
    } else if (!reading.error.empty()) {
      *why = "reading items: " + reading.error;
    }
    return answered && reading.error.empty();
  }

  bool Look(Folder& f, const std::string& uid, bool* exists, std::string* why) {
    *exists = false;
    return calls_.Call("looking up a UID", why, [&](GCancellable* c, GError** e) {
      bool ok;
      if (f.kind == StoreKind::kContact) {
        EContact* contact = nullptr;
        ok = e_book_client_get_contact_sync(f.client->book(), uid.c_str(), &contact, c, e);
        if (contact != nullptr) g_object_unref(contact);
      } else {
        ICalComponent* component = nullptr;
        ok = e_cal_client_get_object_sync(f.client->calendar(), uid.c_str(), nullptr,
                                          &component, c, e);
        if (component != nullptr) g_object_unref(component);
      }
      *exists = ok;
      if (!ok && IsNotFound(*e)) {
        g_clear_error(e);
        return true;
      }
      return ok;
    });
  }

  bool Exists(Folder& f, const std::string& uid) {
    bool exists = true;
    std::string why;
    return !Look(f, uid, &exists, &why) || exists;
  }

  // The blobs of `uids` ("" for an id no longer known), read in one call; an item that is
  // gone has none. `tell` counts what the values cannot hold, for the note at logoff.
  bool Read(Folder& f, const std::vector<std::string>& uids,
            std::vector<std::optional<std::string>>* blobs, bool tell = true) {
    blobs->assign(uids.size(), std::nullopt);
    std::unordered_map<std::string, std::vector<size_t>> wanted;
    for (size_t i = 0; i < uids.size(); ++i) {
      if (!uids[i].empty()) wanted[uids[i]].push_back(i);
    }
    if (wanted.empty()) return true;
    std::string why;
    bool done;
    Untold& untold = untold_[FolderIndex(f.kind)];
    if (f.kind == StoreKind::kContact) {
      done = calls_.Call("reading contacts", &why, [&](GCancellable* c, GError** e) {
        GSList* found = nullptr;
        bool ok;
        if (wanted.size() == 1) {
          EContact* contact = nullptr;
          ok = e_book_client_get_contact_sync(f.client->book(), wanted.begin()->first.c_str(),
                                              &contact, c, e);
          if (!ok && IsNotFound(*e)) {
            g_clear_error(e);
            return true;
          }
          if (contact != nullptr) found = g_slist_prepend(found, contact);
        } else {
          std::vector<EBookQuery*> tests;
          for (const auto& [uid, places] : wanted) {
            tests.push_back(e_book_query_field_test(E_CONTACT_UID, E_BOOK_QUERY_IS, uid.c_str()));
          }
          EBookQuery* any = e_book_query_or(static_cast<int>(tests.size()), tests.data(), TRUE);
          GText sexp(e_book_query_to_string(any));
          e_book_query_unref(any);
          ok = e_book_client_get_contacts_sync(f.client->book(), sexp.get(), &found, c, e);
        }
        // The card's text as it came (asking EDS for the UID first would parse it whole),
        // read by the mapping, which gives the UID too.
        for (GSList* at = found; at != nullptr; at = at->next) {
          GText card(e_vcard_to_string(E_VCARD(at->data), EVC_FORMAT_VCARD_30));
          std::string uid;
          interop::Losses lost("contact", "contacts");
          std::optional<std::string> blob = ContactBlob(card.get(), &uid, &lost);
          auto places = wanted.find(uid);
          if (places == wanted.end()) continue;
          if (tell) Tell(untold, lost);
          for (size_t place : places->second) (*blobs)[place] = blob;
        }
        g_slist_free_full(found, g_object_unref);
        return ok;
      });
    } else {
      // What the listing read, while nothing was written since, is served from it.
      const bool fresh = f.snapshotWrites == writes_;
      for (auto want = wanted.begin(); fresh && want != wanted.end();) {
        auto held = f.snapshot.find(want->first);
        if (held == f.snapshot.end() || !held->second.blob) {
          ++want;
          continue;
        }
        if (tell && held->second.lost) Tell(untold, *held->second.lost);
        for (size_t place : want->second) (*blobs)[place] = held->second.blob;
        f.snapshot.erase(held);
        want = wanted.erase(want);
      }
      // The rest a UID a call: the backend finds a UID at once, where a query that names
      // many is tested against every item it holds.
      std::vector<std::string> asked;
      for (const auto& [uid, places] : wanted) asked.push_back(uid);
      std::vector<GSList*> found(asked.size(), nullptr);
      done = ReadByUid(f, asked, &found, &why);
      for (size_t i = 0; i < asked.size(); ++i) {
        GSList* components = nullptr;
        for (GSList* at = found[i]; at != nullptr; at = at->next) {
          components = g_slist_prepend(
              components, e_cal_component_get_icalcomponent(E_CAL_COMPONENT(at->data)));
        }
        components = g_slist_reverse(components);
        for (auto& [uid, entry] : SeriesOf(components)) {
          if (uid != asked[i]) continue;
          interop::Losses lost(NounOf(f.kind), NounsOf(f.kind));
          std::optional<std::string> blob = ComponentBlob(f, entry.first, entry.second, &lost);
          if (tell) Tell(untold, lost);
          for (size_t place : wanted[uid]) (*blobs)[place] = blob;
        }
        g_slist_free(components);
        g_slist_free_full(found[i], g_object_unref);
      }
    }
    if (!done) Refused(why);
    return done;
  }

  static const char* NounOf(StoreKind kind) {
    return kind == StoreKind::kContact ? "contact" : kind == StoreKind::kTask ? "task" : "appointment";
  }
  static const char* NounsOf(StoreKind kind) {
    return kind == StoreKind::kContact ? "contacts"
           : kind == StoreKind::kTask  ? "tasks"
                                       : "appointments";
  }

  static void Tell(Untold& untold, const interop::Losses& lost) {
    if (lost.empty()) return;
    untold.losses.Absorb(lost);
    ++untold.items;
  }

  // The series among components, each with whether it has changed occurrences: a series
  // comes with them, and its master is read knowing of them (one with occurrences only
  // is read by its first).
  static std::unordered_map<std::string, std::pair<ICalComponent*, bool>> SeriesOf(GSList* found) {
    std::unordered_map<std::string, std::pair<ICalComponent*, bool>> masters;
    for (GSList* at = found; at != nullptr; at = at->next) {
      auto* component = static_cast<ICalComponent*>(at->data);
      const char* uid = i_cal_component_get_uid(component);
      if (uid == nullptr) continue;
      Ref<ICalProperty> rid(
          i_cal_component_get_first_property(component, I_CAL_RECURRENCEID_PROPERTY));
      auto& [master, changed] = masters[uid];
      if (rid != nullptr) {
        changed = true;
        if (master == nullptr) master = component;
      } else {
        master = component;
      }
    }
    return masters;
  }

  // A card's blob, its UID, and what the values could not hold in *lost (its item ended).
  std::optional<std::string> ContactBlob(const char* text, std::string* uid,
                                         interop::Losses* lost) {
    interop::Card card;
    if (text == nullptr || !ReadCard(WithoutBookkeeping(text), false, &card)) return std::nullopt;
    interop::ContactValues contact;
    interop::ContactFromCard(card, &contact, lost);
    lost->EndItem();
    *uid = std::move(contact.uid);
    return store::EncodeItem(ItemFromContact(contact));
  }

  // A component's blob, and what the values could not hold in *lost (its item ended).
  std::optional<std::string> ComponentBlob(Folder& f, ICalComponent* component, bool changed,
                                           interop::Losses* lost) {
    GText text(i_cal_component_as_ical_string(component));
    icalcomponent* parsed = interop::ParseComponent(text.get() != nullptr ? text.get() : "");
    if (parsed == nullptr) return std::nullopt;
    KnowZones(f, parsed);
    interop::ImportOptions options{&zones_, changed};
    std::string why;
    std::optional<std::string> blob;
    {
      interop::ItemLosses itemLosses(lost);
      if (f.kind == StoreKind::kAppointment) {
        interop::AppointmentValues values;
        if (interop::ValuesFromEvent(parsed, options, &itemLosses, &values, &why)) {
          blob = store::EncodeItem(ItemFromAppointment(values));
        }
      } else {
        interop::TaskValues values;
        if (interop::ValuesFromTodo(parsed, options, &itemLosses, &values, &why)) {
          blob = store::EncodeItem(ItemFromTask(values));
        }
      }
      if (blob) itemLosses.Report();
    }
    lost->EndItem();
    icalcomponent_free(parsed);
    if (!blob) {
      store::SetLastStoreError("an item of Evolution Data Server cannot be read: " + why);
      return std::nullopt;
    }
    return blob;
  }

  // The VTIMEZONEs a component's TZIDs name, asked of the calendar once each.
  void KnowZones(Folder& f, icalcomponent* component) {
    for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
      icalparameter* tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
      const char* name = tzid != nullptr ? icalparameter_get_tzid(tzid) : nullptr;
      if (name == nullptr || f.zonesAsked.count(name) != 0) continue;
      f.zonesAsked.emplace(name);
      ICalTimezone* zone = nullptr;
      std::string why;
      calls_.Call("reading a time zone", &why, [&](GCancellable* c, GError** e) {
        return e_cal_client_get_timezone_sync(f.client->calendar(), name, &zone, c, e);
      });
      if (zone == nullptr) continue;  // owned by the client
      ICalComponent* vtimezone = i_cal_timezone_get_component(zone);
      if (vtimezone == nullptr) continue;
      GText text(i_cal_component_as_ical_string(vtimezone));
      g_object_unref(vtimezone);
      if (icalcomponent* parsed = interop::ParseComponent(text.get() ? text.get() : "")) {
        zones_.Add(parsed);
      }
    }
  }

  EContact* NewContact(const ItemValues& values, const std::string& uid) {
    interop::ContactValues contact = ContactFromItem(values);
    contact.uid = uid;
    const std::string card = interop::CardFromContact(contact, &Unwritten(StoreKind::kContact));
    Unwritten(StoreKind::kContact).EndItem();
    // The card holds its UID; left unparsed, EDS's client sends it as it is.
    return e_contact_new_from_vcard(card.c_str());
  }

  interop::Losses& Unwritten(StoreKind kind) { return unwritten_[FolderIndex(kind)]; }

  bool ComponentText(Folder& f, const ItemValues& values, const std::string& uid,
                     std::string* text, std::string* why) {
    interop::IcalExporter& exporter = Exporter(f.kind);
    icalcomponent* component;
    if (f.kind == StoreKind::kAppointment) {
      interop::AppointmentValues appointment = AppointmentFromItem(values);
      appointment.uid = uid;
      component = exporter.Component(appointment, &Unwritten(f.kind), why);
    } else {
      interop::TaskValues task = TaskFromItem(values);
      task.uid = uid;
      component = exporter.Component(task, &Unwritten(f.kind), why);
    }
    Unwritten(f.kind).EndItem();
    if (component == nullptr) return false;
    *text = interop::ComponentText(component);
    icalcomponent_free(component);
    return true;
  }

  interop::IcalExporter& Exporter(StoreKind kind) {
    auto& exporter = exporters_[kind == StoreKind::kTask ? 1 : 0];
    if (exporter == nullptr) {
      exporter = std::make_unique<interop::IcalExporter>(
          kind == StoreKind::kTask ? interop::IcalKind::kTodos : interop::IcalKind::kEvents,
          zones_.local(), icaltime_current_time_with_zone(icaltimezone_get_utc_timezone()));
    }
    return *exporter;
  }

  // The local zone's VTIMEZONE, given to the calendar before its first timed event.
  bool AddLocalZone(Folder& f, std::string* why) {
    if (f.zoneAdded || f.kind != StoreKind::kAppointment) return true;
    icalcomponent* vtimezone = Exporter(f.kind).vtimezone();
    f.zoneAdded = true;
    if (vtimezone == nullptr) return true;
    std::string text = interop::ComponentText(vtimezone);
    return calls_.Call("adding the local time zone", why, [&](GCancellable* c, GError** e) {
      Ref<ICalComponent> component(i_cal_component_new_from_string(text.c_str()));
      if (component == nullptr) return false;
      Ref<ICalTimezone> zone(i_cal_timezone_new());
      if (!i_cal_timezone_set_component(zone.get(), component.get())) return false;
      return static_cast<bool>(
          e_cal_client_add_timezone_sync(f.client->calendar(), zone.get(), c, e));
    });
  }

  bool UpdateContact(Folder& f, const std::string& uid, const ItemValues& values,
                     std::string* why) {
    EContact* held = nullptr;
    if (!calls_.Call("reading a contact", why, [&](GCancellable* c, GError** e) {
          return e_book_client_get_contact_sync(f.client->book(), uid.c_str(), &held, c, e);
        })) {
      return false;
    }
    Ref<EContact> holder(held);
    GText text(e_vcard_to_string(E_VCARD(held), EVC_FORMAT_VCARD_30));
    interop::Card card;
    if (!ReadCard(text.get(), true, &card)) {
      *why = "the contact " + uid + " in Evolution Data Server cannot be read";
      return false;
    }
    interop::ContactValues contact = ContactFromItem(values);
    contact.uid = uid;
    std::string merged;
    if (!interop::MergeCard(card, contact, &merged)) return true;  // nothing differs
    Ref<EContact> changed(e_contact_new_from_vcard_with_uid(merged.c_str(), uid.c_str()));
    return calls_.Call("changing a contact", why, [&](GCancellable* c, GError** e) {
      return e_book_client_modify_contact_sync(f.client->book(), changed.get(),
                                               E_BOOK_OPERATION_FLAG_NONE, c, e);
    });
  }

  bool UpdateComponent(Folder& f, const std::string& uid, const ItemValues& values,
                       std::string* why) {
    ICalComponent* held = nullptr;
    if (!calls_.Call("reading an item", why, [&](GCancellable* c, GError** e) {
          return e_cal_client_get_object_sync(f.client->calendar(), uid.c_str(), nullptr, &held,
                                              c, e);
        })) {
      return false;
    }
    Ref<ICalComponent> holder(held);
    GText heldText(i_cal_component_as_ical_string(held));
    std::string storeText;
    if (!ComponentText(f, values, uid, &storeText, why) || !AddLocalZone(f, why)) return false;
    interop::IcalExporter& exporter = Exporter(f.kind);
    interop::IcsFile file(exporter, [this](const std::u16string& name, std::u16string* address) {
      auto found = FindAddress(name);
      if (found) *address = *found;
      return found.has_value();
    });
    const std::string calendar = interop::CalendarHead(nullptr) + heldText.get() +
                                 interop::CalendarTail();
    if (!file.Load(calendar)) {
      *why = "the item " + uid + " in Evolution Data Server cannot be read";
      return false;
    }
    icalcomponent* component = interop::ParseComponent(storeText);
    if (component == nullptr) return false;
    interop::Losses dropped("item", "items");
    file.Merge(component, storeText, &dropped);
    icalcomponent_free(component);
    const std::string merged = file.Text();
    if (merged == file.loaded()) return true;  // nothing differs
    icalcomponent* whole = interop::ParseComponent(merged);
    if (whole == nullptr) return false;
    icalcomponent* master = nullptr;
    for (icalcomponent* c = icalcomponent_get_first_component(whole, ICAL_ANY_COMPONENT);
         c != nullptr && master == nullptr;
         c = icalcomponent_get_next_component(whole, ICAL_ANY_COMPONENT)) {
      if (icalcomponent_isa(c) == ICAL_VEVENT_COMPONENT ||
          icalcomponent_isa(c) == ICAL_VTODO_COMPONENT) {
        master = c;
      }
    }
    const std::string masterText = master != nullptr ? interop::ComponentText(master) : "";
    icalcomponent_free(whole);
    if (masterText.empty()) return false;
    return calls_.Call("changing an item", why, [&](GCancellable* c, GError** e) {
      Ref<ICalComponent> changed(i_cal_component_new_from_string(masterText.c_str()));
      if (changed == nullptr) return false;
      return static_cast<bool>(e_cal_client_modify_object_sync(
          f.client->calendar(), changed.get(), E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, c,
          e));
    });
  }

  // Makes every folder's held adds and ends the grouping; *kept as KeepAdds says.
  bool EndGroups(long* kept) {
    for (Folder& folder : folders_) Flush(folder);
    *kept = batchAdds_ - batchLost_;
    const bool all = batchLost_ == 0;
    batch_ = grouped_ = false;
    return all;
  }

  // Makes the held adds of the open batch after the group being made; false when EDS
  // did not take either whole.
  bool Flush(Folder& f) {
    bool done = Settle(f);
    if (done && !f.pending.ids.empty()) {
      const std::string why = MakeGroup(f, f.pending, calls_);
      if (!why.empty()) {
        Failed(f, f.pending, why);
        done = false;
      }
    }
    if (done) {
      f.pending = AddGroup();
    } else {
      Lose(f, f.pending);
    }
    return done;
  }

  // Hands the full group of held adds over to be made beside this process's work; false
  // when the group before it failed (then this one is not made either).
  bool Send(Folder& f) {
    if (!Settle(f)) {
      Lose(f, f.pending);
      return false;
    }
    f.sending = std::move(f.pending);
    f.pending = AddGroup();
    f.sent = std::async(std::launch::async, [this, &f] { return MakeGroup(f, f.sending, sends_); });
    return true;
  }

  // Waits for the group being made; false when EDS did not take it whole.
  bool Settle(Folder& f) {
    if (!f.sent.valid()) return true;
    const std::string why = f.sent.get();
    if (!why.empty()) Failed(f, f.sending, why);
    f.sending = AddGroup();
    return why.empty();
  }

  // Drops the held adds (waiting for a group being made).
  void Drop(Folder& f) {
    Settle(f);
    f.pending = AddGroup();
  }

  // Adds of the batch that are not made: they count as lost, and the folder no longer
  // holds their UIDs.
  void Lose(Folder& f, AddGroup& group) {
    for (int64_t id : group.ids) f.present.erase(*uidOf_[id].second);
    batchLost_ += static_cast<long>(group.ids.size());
    group = AddGroup();
  }

  // A group EDS did not take whole: tells how many of it EDS holds; the rest counts as
  // lost.
  void Failed(Folder& f, AddGroup& group, const std::string& why) {
    long held = 0;
    AddGroup lacking;
    for (int64_t id : group.ids) {
      if (Exists(f, *uidOf_[id].second)) {
        ++held;
      } else {
        lacking.ids.push_back(id);
      }
    }
    std::fprintf(stderr,
                 "Quillmote: a group of %zu adds to Evolution Data Server failed (%s); %ld of "
                 "them are there\n",
                 group.ids.size(), why.c_str(), held);
    store::SetLastStoreError(why);
    Lose(f, lacking);
    group = AddGroup();
  }

  // Makes a group of adds in one call, on the given watchdog; "" or why it failed. Runs
  // beside the store's other calls (Send), so it touches nothing but the group and the
  // folder's client.
  static std::string MakeGroup(Folder& f, const AddGroup& group, Watchdog& calls) {
    if (FaultNext("addgroup")) return "the call was refused (fault injected at \"addgroup\")";
    std::string why;
    calls.Call(f.kind == StoreKind::kContact ? "adding contacts" : "adding items", &why,
               [&](GCancellable* c, GError** e) {
                 GSList* items = nullptr;
                 GSList* added = nullptr;
                 bool ok;
                 if (f.kind == StoreKind::kContact) {
                   for (auto at = group.contacts.rbegin(); at != group.contacts.rend(); ++at) {
                     items = g_slist_prepend(items, at->get());
                   }
                   ok = e_book_client_add_contacts_sync(f.client->book(), items,
                                                        E_BOOK_OPERATION_FLAG_NONE, &added, c, e);
                   g_slist_free(items);
                 } else {
                   for (auto at = group.components.rbegin(); at != group.components.rend();
                        ++at) {
                     items = g_slist_prepend(items, i_cal_component_new_from_string(at->c_str()));
                   }
                   ok = e_cal_client_create_objects_sync(f.client->calendar(), items,
                                                         E_CAL_OPERATION_FLAG_NONE, &added, c, e);
                   g_slist_free_full(items, g_object_unref);
                 }
                 g_slist_free_full(added, g_free);
                 return ok;
               });
    return why;
  }

  void TellUntold() {
    static const char* const kNoun[] = {"contact", "appointment", "task"};
    static const char* const kNouns[] = {"contacts", "appointments", "tasks"};
    for (int k = 0; k < 3; ++k) {
      if (untold_[k].items > 0) {
        std::fprintf(stderr,
                     "Quillmote: %ld %s read from Evolution Data Server %s more than a backup "
                     "file carries; that stays in Evolution Data Server only:\n",
                     untold_[k].items, untold_[k].items == 1 ? kNoun[k] : kNouns[k],
                     untold_[k].items == 1 ? "holds" : "hold");
        for (const std::string& line : untold_[k].losses.Summary()) {
          std::fprintf(stderr, "  %s\n", line.c_str());
        }
      }
      if (!unwritten_[k].empty()) {
        std::fprintf(stderr, "Quillmote: what Evolution Data Server could not take of the %s:\n",
                     kNouns[k]);
        for (const std::string& line : unwritten_[k].Summary()) {
          std::fprintf(stderr, "  %s\n", line.c_str());
        }
      }
      untold_[k].losses = interop::Losses(kNoun[k], kNouns[k]);
      untold_[k].items = 0;
    }
  }

  std::mutex mutex_;
  std::unique_ptr<Registry> registry_;
  Folder folders_[3];
  Watchdog calls_;
  Watchdog sends_;  // the calls of groups made beside the others (Send)
  interop::ZoneTable zones_{interop::LocalZone::Current()};
  std::unique_ptr<interop::IcalExporter> exporters_[2];  // events, tasks
  std::unordered_map<std::string, int64_t> idOf_[3];
  std::unordered_map<int64_t, std::pair<StoreKind, const std::string*>> uidOf_;
  int64_t nextId_ = 1;
  uint64_t writes_ = 0;
  bool batch_ = false;
  bool grouped_ = false;  // the batch is grouped adds (IStoreAddGroups)
  long batchAdds_ = 0;    // the adds made in the batch
  long batchLost_ = 0;    // ... of which EDS did not take
  std::unordered_map<std::u16string, std::u16string> contactKeys_;
  bool contactsValid_ = false;
  Untold untold_[3] = {{interop::Losses("contact", "contacts"), 0},
                       {interop::Losses("appointment", "appointments"), 0},
                       {interop::Losses("task", "tasks"), 0}};
  interop::Losses unwritten_[3] = {interop::Losses("contact", "contacts"),
                                   interop::Losses("appointment", "appointments"),
                                   interop::Losses("task", "tasks")};
};

}  // namespace
}  // namespace handheld::eds

extern "C" __attribute__((visibility("default"))) handheld::store::ItemBackend*
QuillmoteOpenEdsStore(const std::string& named, std::string* error) {
  interop::PrepareLibical();
  return handheld::eds::EdsStore::Open(named, error);
}
