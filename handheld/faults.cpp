// Fault injection: the armed list, per-point occurrence counters and the fetch ordinal.
#include "handheld/faults.h"

#include <atomic>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace handheld {

// Whether anything is armed; lets the hot paths skip the lock when nothing is.
std::atomic<bool> internal::anyFaultArmed{false};

namespace {

struct Armed {
  std::string point;  // "write", "item", "read:FirstName", ...
  long n;
  bool fired;
};

struct FaultState {
  std::mutex mutex;
  std::vector<Armed> armed;
  std::map<std::string, long, std::less<>> occurrences;
  std::atomic<long> fetches{0};  // counted off the lock: one per item fetched
};

FaultState& State() {
  static FaultState* state = new FaultState;
  return *state;
}

// Points that take an optional occurrence number, and whether the number names an
// index or fetch ordinal (FaultAt) rather than an occurrence count (FaultNext).
const char* const kPoints[] = {"logon",        "folder",        "items",  "item",       "remove",
                               "create",       "pattern",       "write",  "shortwrite", "readfile",
                               "calllog-open", "calllog-entry", "thread", "replace",    "save",
                               "keep",         "addgroup"};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool ParseCount(std::string_view text, long* n) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1) return false;
  *n = value;
  return true;
}

bool IsPropertyName(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool ParsePoint(std::string_view text, Armed* out, std::string* why) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  std::string_view name = parts[0];
  size_t numberPart = 1;
  std::string point(name);
  if (name == "read") {
    if (parts.size() < 2 || !IsPropertyName(parts[1])) {
      *why = "expects read:PROPERTY or read:PROPERTY:N";
      return false;
    }
    point += ':';
    point += parts[1];
    numberPart = 2;
  } else {
    bool known = false;
    for (const char* candidate : kPoints) known = known || name == candidate;
    if (!known) {
      *why = "unknown fault point";
      return false;
    }
  }
  long n = 1;
  if (parts.size() > numberPart + 1) {
    *why = "too many parts";
    return false;
  }
  if (parts.size() == numberPart + 1 && !ParseCount(parts[numberPart], &n)) {
    *why = "N must be a whole number from 1";
    return false;
  }
  *out = Armed{point, n, false};
  return true;
}

void ResetLocked(FaultState& state) {
  state.occurrences.clear();
  state.fetches.store(0, std::memory_order_relaxed);
}

}  // namespace

bool ArmFaults(std::string_view list, std::string* error) {
  std::vector<Armed> armed;
  std::string_view rest = list;
  if (!Trim(list).empty()) {
    while (true) {
      size_t comma = rest.find(',');
      std::string_view item = Trim(rest.substr(0, comma));
      Armed point;
      std::string why;
      if (item.empty()) {
        why = "empty entry";
      }
      if (!why.empty() || !ParsePoint(item, &point, &why)) {
        if (error != nullptr) {
          *error = "bad fault point \"" + std::string(item) + "\" in \"" + std::string(list) +
                   "\": " + why;
        }
        ClearFaults();  // a refused list leaves nothing armed
        return false;
      }
      armed.push_back(point);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  FaultState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.armed = std::move(armed);
  ResetLocked(state);
  internal::anyFaultArmed.store(!state.armed.empty());
  return true;
}

bool ArmFaultsFromEnvironment(std::string* error) {
  const char* list = std::getenv("HANDHELD_FAULTS");
  if (list == nullptr) {
    ClearFaults();
    return true;
  }
  std::string why;
  if (!ArmFaults(list, &why)) {
    if (error != nullptr) *error = "HANDHELD_FAULTS: " + why;
    return false;
  }
  return true;
}

void ClearFaults() {
  FaultState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.armed.clear();
  ResetLocked(state);
  internal::anyFaultArmed.store(false);
}

bool FaultNext(std::string_view point) {
  // Counters restart whenever a list is armed, so nothing needs counting until then.
  if (!FaultsArmed()) return false;
  FaultState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto it = state.occurrences.find(point);
  if (it == state.occurrences.end()) it = state.occurrences.emplace(std::string(point), 0).first;
  long n = ++it->second;
  for (Armed& armed : state.armed) {
    if (!armed.fired && armed.n == n && armed.point == point) {
      armed.fired = true;
      return true;
    }
  }
  return false;
}

bool FaultAt(std::string_view point, long n) {
  if (!FaultsArmed()) return false;
  FaultState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (Armed& armed : state.armed) {
    if (!armed.fired && armed.n == n && armed.point == point) {
      armed.fired = true;
      return true;
    }
  }
  return false;
}

long NextFetchOrdinal() {
  return State().fetches.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace handheld

namespace handheld {
namespace {

ssize_t CountedRead(void* cookie, char* buffer, size_t size) {
  if (FaultNext("readfile")) {
    errno = EIO;
    return -1;
  }
  std::FILE* file = static_cast<std::FILE*>(cookie);
  const size_t got = std::fread(buffer, 1, size, file);
  return got == 0 && std::ferror(file) ? -1 : static_cast<ssize_t>(got);
}

int CloseUnder(void* cookie) {
  return std::fclose(static_cast<std::FILE*>(cookie));
}

}  // namespace

std::FILE* OpenForReading(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr || !FaultsArmed()) return file;
  // Unbuffered underneath: the counted stream above does the buffering.
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::FILE* counted = fopencookie(file, "rb", {CountedRead, nullptr, nullptr, CloseUnder});
  if (counted == nullptr) std::fclose(file);
  return counted;
}

}  // namespace handheld
