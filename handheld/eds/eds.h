// Evolution's data server (EDS) as the stand-in reaches it: the source registry, the
// address books, calendars and task lists it knows, the choice of one by an "eds:..."
// name, and an open client for it. Only handheld/ touches GLib and EDS; this
// header names their types without including them.
//
// Contract:
// - Nothing here waits without a bound. Connect and Open take `limit`: a call that has
//   not finished then is cancelled and fails with "no answer from ... within N ms". For
//   Connect that bounds reaching the session bus (also one that takes the connection and
//   never answers); the registry's own calls on it, which EDS does not let be
//   cancelled, end at the latest at D-Bus's timeout of 25 s. Without a session bus
//   (unset, or a dead socket) Connect fails at once with GLib's reason.
// - A client is opened without waiting for its backend to report itself connected: the
//   data server answers calls as soon as the backend is loaded, and a remote source
//   connects in its own time. Its signals, and those of the views made while its
//   context() is the thread's default, come through a main context of its own, which
//   only a caller waiting for them runs (never the application's main loop).
// - Sources are the enabled ones, sorted by display name, then UID. `isDefault` is the
//   registry's default of the kind (there is always one: the built-in
//   "system-address-book", "system-calendar" or "system-task-list" unless the user chose
//   another). `readOnly` is what the opened client says; List opens each source for it,
//   and a source that cannot be opened has its reason in `unavailable` instead.
// - Resolve takes "eds:" (the kind's default) or "eds:X": the source whose UID is X, else
//   the one whose display name is X. None, or more than one by name, fails with a
//   message that names the kind's sources ("UID (name)", comma-separated).
// - Every GObject is owned by exactly one object here and released with it; the census
//   counts live registries ("eds:registry") and clients ("eds:client").
// - No state of the process is kept beyond what GLib keeps itself (its type system and
//   the shared session-bus connection).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _ESourceRegistry ESourceRegistry;
typedef struct _EClient EClient;
typedef struct _EBookClient EBookClient;
typedef struct _ECalClient ECalClient;
typedef struct _GMainContext GMainContext;

namespace handheld::eds {

enum class Kind { kAddressBook, kCalendar, kTaskList };
inline constexpr Kind kKinds[] = {Kind::kAddressBook, Kind::kCalendar, Kind::kTaskList};

// "address book", "calendar", "task list".
const char* KindNoun(Kind kind);

struct Source {
  Kind kind = Kind::kAddressBook;
  std::string uid;
  std::string name;  // the display name
  bool isDefault = false;
  bool readOnly = false;
  std::string unavailable;  // why it could not be opened; "" when it was
};

using Limit = std::chrono::milliseconds;
inline constexpr Limit kDefaultLimit{15000};

// An open client of one source; released with the object.
class Client {
 public:
  Client(EClient* client, GMainContext* context);  // takes both references
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool readOnly() const;
  // The client as its kind's type: book() for an address book, calendar() otherwise.
  EBookClient* book() const;
  ECalClient* calendar() const;
  GMainContext* context() const { return context_; }

 private:
  EClient* client_;
  GMainContext* context_;
};

class Registry {
 public:
  // The registry of this session's data server; null, with the reason in *error, when it
  // cannot be reached within `limit`.
  static std::unique_ptr<Registry> Connect(Limit limit, std::string* error);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The kind's sources; each one is opened (within `limit`) to learn whether it is
  // read-only.
  std::vector<Source> List(Kind kind, Limit limit = kDefaultLimit) const;

  // The source an "eds:..." name chooses (see the contract); false, with the reason in
  // *error, when there is none or more than one. Does not open it.
  bool Resolve(Kind kind, std::string_view named, Source* source, std::string* error) const;

  // Opens the source of `kind` whose UID is `uid`; null, with the reason in *error.
  std::unique_ptr<Client> Open(Kind kind, const std::string& uid, Limit limit,
                               std::string* error) const;

 private:
  explicit Registry(ESourceRegistry* registry);
  std::vector<Source> Sources(Kind kind) const;  // without opening them

  ESourceRegistry* registry_;
};

}  // namespace handheld::eds
