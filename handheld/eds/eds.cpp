// Evolution's data server: the registry, its sources and open clients (see eds.h).
#include "handheld/eds/eds.h"

#include <libebook/libebook.h>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "handheld/census.h"

namespace handheld::eds {
namespace {

// The GObject's reference, released at the end of the scope.
template <typename T>
struct Owned {
  T* object;
  explicit Owned(T* given) : object(given) {}
  ~Owned() {
    if (object != nullptr) g_object_unref(object);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

// Runs `call` with a cancellable that a timer thread cancels once `limit` has passed.
// The synchronous calls of GLib and EDS give up with G_IO_ERROR_CANCELLED then; the
// failure is reported as the missing answer of `what` it is. Any other failure is GLib's
// own message.
template <typename Call>
auto Bounded(Limit limit, const char* what, std::string* error, Call&& call) {
  Owned<GCancellable> cancellable(g_cancellable_new());
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread timer([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, limit, [&] { return done; })) {
      g_cancellable_cancel(cancellable.object);
    }
  });
  GError* failure = nullptr;
  auto result = call(cancellable.object, &failure);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  finished.notify_one();
  timer.join();
  if (failure != nullptr) {
    if (g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      *error = std::string("no answer from ") + what + " within " +
               std::to_string(limit.count()) + " ms";
    } else {
      *error = failure->message;
    }
    g_error_free(failure);
  }
  return result;
}

const char* Extension(Kind kind) {
  switch (kind) {
    case Kind::kAddressBook: return E_SOURCE_EXTENSION_ADDRESS_BOOK;
    case Kind::kCalendar: return E_SOURCE_EXTENSION_CALENDAR;
    case Kind::kTaskList: return E_SOURCE_EXTENSION_TASK_LIST;
  }
  return E_SOURCE_EXTENSION_ADDRESS_BOOK;
}

ESource* RefDefault(ESourceRegistry* registry, Kind kind) {
  switch (kind) {
    case Kind::kAddressBook: return e_source_registry_ref_default_address_book(registry);
    case Kind::kCalendar: return e_source_registry_ref_default_calendar(registry);
    case Kind::kTaskList: return e_source_registry_ref_default_task_list(registry);
  }
  return nullptr;
}

std::string Names(const std::vector<Source>& sources) {
  std::string names;
  for (const Source& source : sources) {
    names += (names.empty() ? "" : ", ") + source.uid + " (" + source.name + ")";
  }
  return names.empty() ? "none" : names;
}

}  // namespace

const char* KindNoun(Kind kind) {
  switch (kind) {
    case Kind::kAddressBook: return "address book";
    case Kind::kCalendar: return "calendar";
    case Kind::kTaskList: return "task list";
  }
  return "source";
}

Client::Client(EClient* client, GMainContext* context) : client_(client), context_(context) {
  CensusAdd("eds:client", 1);
}

Client::~Client() {
  g_object_unref(client_);
  // What the client left for its context (notices of its properties) goes with it.
  while (g_main_context_iteration(context_, FALSE)) {
  }
  g_main_context_unref(context_);
  CensusAdd("eds:client", -1);
}

bool Client::readOnly() const { return e_client_is_readonly(client_) != FALSE; }
EBookClient* Client::book() const { return E_BOOK_CLIENT(client_); }
ECalClient* Client::calendar() const { return E_CAL_CLIENT(client_); }

Registry::Registry(ESourceRegistry* registry) : registry_(registry) {
  CensusAdd("eds:registry", 1);
}

Registry::~Registry() {
  g_object_unref(registry_);
  CensusAdd("eds:registry", -1);
}

std::unique_ptr<Registry> Registry::Connect(Limit limit, std::string* error) {
  // The registry connects to the session bus on a thread of its own that does not heed
  // the cancellable: a bus that takes the connection and never answers would hold it.
  // The bus is connected here first, within the limit; the registry then finds GLib's
  // shared connection made, and its calls end at the latest at D-Bus's own timeout.
  ESourceRegistry* registry = Bounded(
      limit, "Evolution's source registry", error,
      [](GCancellable* cancellable, GError** failure) -> ESourceRegistry* {
        Owned<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, failure));
        if (bus.object == nullptr) return nullptr;
        return e_source_registry_new_sync(cancellable, failure);
      });
  if (registry == nullptr) return nullptr;
  return std::unique_ptr<Registry>(new Registry(registry));
}

std::vector<Source> Registry::Sources(Kind kind) const {
  std::vector<Source> sources;
  Owned<ESource> fallback(RefDefault(registry_, kind));
  const char* defaultUid = fallback.object ? e_source_get_uid(fallback.object) : "";
  GList* listed = e_source_registry_list_enabled(registry_, Extension(kind));
  for (GList* at = listed; at != nullptr; at = at->next) {
    ESource* source = E_SOURCE(at->data);
    Source entry;
    entry.kind = kind;
    entry.uid = e_source_get_uid(source);
    const char* name = e_source_get_display_name(source);
    entry.name = name != nullptr ? name : "";
    entry.isDefault = entry.uid == defaultUid;
    sources.push_back(std::move(entry));
  }
  g_list_free_full(listed, g_object_unref);
  std::sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) {
    return a.name != b.name ? a.name < b.name : a.uid < b.uid;
  });
  return sources;
}

std::vector<Source> Registry::List(Kind kind, Limit limit) const {
  std::vector<Source> sources = Sources(kind);
  for (Source& source : sources) {
    std::unique_ptr<Client> client = Open(kind, source.uid, limit, &source.unavailable);
    if (client) source.readOnly = client->readOnly();
  }
  return sources;
}

bool Registry::Resolve(Kind kind, std::string_view named, Source* source,
                       std::string* error) const {
  if (named.substr(0, 4) != "eds:") {
    *error = "\"" + std::string(named) + "\" does not begin with \"eds:\"";
    return false;
  }
  const std::string wanted(named.substr(4));
  const std::vector<Source> sources = Sources(kind);
  const Source* found = nullptr;
  for (const Source& candidate : sources) {
    if (wanted.empty() ? candidate.isDefault : candidate.uid == wanted) found = &candidate;
  }
  if (found == nullptr && !wanted.empty()) {
    int named = 0;
    for (const Source& candidate : sources) {
      if (candidate.name == wanted) {
        found = &candidate;
        ++named;
      }
    }
    if (named > 1) {
      *error = std::string("more than one ") + KindNoun(kind) + " is called \"" + wanted +
               "\"; name it by its UID: " + Names(sources);
      return false;
    }
  }
  if (found == nullptr) {
    *error = wanted.empty() ? std::string("no default ") + KindNoun(kind)
                            : std::string("no ") + KindNoun(kind) + " \"" + wanted + "\"";
    *error += "; there are: " + Names(sources);
    return false;
  }
  *source = *found;
  return true;
}

std::unique_ptr<Client> Registry::Open(Kind kind, const std::string& uid, Limit limit,
                                       std::string* error) const {
  Owned<ESource> source(e_source_registry_ref_source(registry_, uid.c_str()));
  if (source.object == nullptr || !e_source_has_extension(source.object, Extension(kind))) {
    *error = std::string("no ") + KindNoun(kind) + " \"" + uid + "\"";
    return nullptr;
  }
  // A wait of -1: the client is handed over as soon as the backend is loaded, without
  // waiting for it to report itself connected (which, for a local source, took the whole
  // wait given).
  const std::string what = std::string("the ") + KindNoun(kind) + " \"" + uid + "\"";
  // The client's signals go to the context that is the thread's default when it is made.
  GMainContext* context = g_main_context_new();
  EClient* client = Bounded(
      limit, what.c_str(), error, [&](GCancellable* cancellable, GError** failure) {
        g_main_context_push_thread_default(context);
        EClient* made =
            kind == Kind::kAddressBook
                ? e_book_client_connect_sync(source.object, -1, cancellable, failure)
                : e_cal_client_connect_sync(source.object,
                                            kind == Kind::kCalendar
                                                ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                                : E_CAL_CLIENT_SOURCE_TYPE_TASKS,
                                            -1, cancellable, failure);
        g_main_context_pop_thread_default(context);
        return made;
      });
  if (client == nullptr) {
    g_main_context_unref(context);
    return nullptr;
  }
  return std::make_unique<Client>(client, context);
}

}  // namespace handheld::eds
