// iCalendar files, written and read one item at a time.
#include "interop/ical_stream.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "handheld/faults.h"

namespace interop {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

namespace {

// Whether a content line's name (up to ';' or ':') is `name`, in any case.
bool HasName(std::string_view line, std::string_view name) {
  return line.size() > name.size() && (line[name.size()] == ':' || line[name.size()] == ';') &&
         strncasecmp(line.data(), name.data(), name.size()) == 0;
}

// A content line's value: after the first ':' outside quoted parameter values.
std::string_view ValueOf(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return line.substr(i + 1);
  }
  return {};
}

std::string TakeText(char* text) {
  std::string out = text != nullptr ? text : "";
  free(text);
  return out;
}

// Hands libical the lines of a text. Its own reader of strings looks for each line's end
// again for every 80 bytes it takes, which is quadratic in a line's length; this one
// remembers where the line ends.
struct LineSource {
  const char* at;
  const char* end;
  const char* newline;  // the next '\n' at or after `at`, or `end`

  static char* Next(char* out, size_t size, void* data) {
    LineSource& source = *static_cast<LineSource*>(data);
    if (source.at >= source.end || size < 2) return nullptr;
    if (source.newline == nullptr || source.newline < source.at) {
      const void* found = std::memchr(source.at, '\n', static_cast<size_t>(source.end - source.at));
      source.newline = found != nullptr ? static_cast<const char*>(found) : source.end;
    }
    const size_t line =
        static_cast<size_t>(source.newline - source.at) + (source.newline < source.end ? 1 : 0);
    const size_t take = std::min(line, size - 1);
    std::memcpy(out, source.at, take);
    out[take] = '\0';
    source.at += take;
    return out;
  }
};

// Text properties that hold one value: libical trims the spaces and tabs around every
// value, and these get theirs back from the raw line.
bool KeepsEdges(std::string_view name) {
  for (const char* kept : {"SUMMARY", "LOCATION", "DESCRIPTION", "COMMENT", "CONTACT"}) {
    if (name.size() == std::strlen(kept) && strncasecmp(name.data(), kept, name.size()) == 0) {
      return true;
    }
  }
  return false;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Whether any value in `text` (lines ending in CR LF) may begin or end with a space or a
// tab: a blank after a ':' or after a folded line's first character, or before a line end.
bool MayHaveEdges(std::string_view text) {
  for (size_t at = text.find_first_of(" \t"); at != std::string_view::npos;
       at = text.find_first_of(" \t", at + 1)) {
    const char before = at > 0 ? text[at - 1] : '\n';
    if (before == ':' || (at + 1 < text.size() && text[at + 1] == '\r')) return true;
    if (at >= 2 && IsBlank(before) && text[at - 2] == '\n') return true;
  }
  return false;
}

// Puts back the spaces and tabs libical trimmed from the text values of the component's
// own properties (not those of its VALARMs), reading them from `text`.
void RestoreEdges(icalcomponent* component, std::string_view text) {
  if (!MayHaveEdges(text)) return;
  struct Edged {
    std::string name;
    size_t index;  // which property of that name, counted from 0
    std::string value;
  };
  std::vector<Edged> edged;
  std::map<std::string, size_t> count;
  std::string line;
  int depth = 0;
  for (size_t at = 0; at < text.size();) {
    line.clear();
    for (;;) {  // one content line, unfolded
      size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      const size_t stop = end > at && text[end - 1] == '\r' ? end - 1 : end;
      line.append(text.substr(at, stop - at));
      at = end + 1;
      if (at >= text.size() || !IsBlank(text[at])) break;
      ++at;
    }
    if (HasName(line, "BEGIN")) {
      ++depth;
    } else if (HasName(line, "END")) {
      --depth;
    } else if (depth == 1) {
      const std::string_view name = std::string_view(line).substr(0, line.find_first_of(";:"));
      if (!KeepsEdges(name)) continue;
      const size_t index = count[Upper(name)]++;
      const std::string_view value = ValueOf(line);
      if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()))) {
        edged.push_back({Upper(name), index, std::string(value)});
      }
    }
  }
  if (edged.empty()) return;
  std::map<std::string, std::vector<icalproperty*>> byName;
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
    const char* name = icalproperty_get_property_name(p);
    if (name != nullptr && KeepsEdges(name)) byName[Upper(name)].push_back(p);
  }
  for (const Edged& e : edged) {
    const std::vector<icalproperty*>& properties = byName[e.name];
    if (e.index >= properties.size()) continue;
    icalproperty* property = properties[e.index];
    icalvalue* old = icalproperty_get_value(property);
    if (old == nullptr || icalvalue_isa(old) != ICAL_TEXT_VALUE) continue;
    if (icalvalue* value = icalvalue_new_from_string(ICAL_TEXT_VALUE, e.value.c_str())) {
      icalproperty_set_value(property, value);
    }
  }
}

}  // namespace

std::string CalendarHead(icalcomponent* vtimezone) {
  PrepareLibical();
  icalcomponent* calendar = icalcomponent_new_vcalendar();
  icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
  icalcomponent_add_property(calendar, icalproperty_new_prodid("-//Quillmote//Quillmote//EN"));
  if (vtimezone != nullptr) {
    icalcomponent_add_component(calendar, icalcomponent_new_clone(vtimezone));
  }
  std::string text = TakeText(icalcomponent_as_ical_string_r(calendar));
  icalcomponent_free(calendar);
  const std::string tail = CalendarTail();
  if (text.size() >= tail.size() &&
      text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
    text.resize(text.size() - tail.size());
  }
  return text;
}

std::string CalendarTail() {
  return "END:VCALENDAR\r\n";
}

std::string ComponentText(icalcomponent* component) {
  return TakeText(icalcomponent_as_ical_string_r(component));
}

icalcomponent* ParseComponent(std::string_view text) {
  PrepareLibical();
  icalparser* parser = icalparser_new();
  if (parser == nullptr) return nullptr;
  LineSource source{text.data(), text.data() + text.size(), nullptr};
  icalparser_set_gen_data(parser, &source);
  icalcomponent* component = icalparser_parse(parser, LineSource::Next);
  icalparser_free(parser);
  if (component != nullptr) RestoreEdges(component, text);
  return component;
}

// Cuts a file into its components: each top-level component of a VCALENDAR, with its UID
// and whether it is a changed occurrence, and its raw lines when they are wanted (for
// libical to parse them). The file is read in blocks into a buffer of its own; a file that
// fits in one block is read once for every pass over it. The lines, the chunk and the stack
// of open components keep their room from one chunk to the next.
struct IcsReader::Scanner {
  enum class Type { kComponent, kStray, kBroken };
  struct Chunk {
    Type type = Type::kComponent;
    std::string name;
    std::string text;
    long line = 0;
    std::string uid;
    bool recurrenceId = false;
    std::string problem;

    void Start(Type kind, long at) {
      type = kind;
      name.clear();
      text.clear();
      line = at;
      uid.clear();
      recurrenceId = false;
      problem.clear();
    }
  };

  static constexpr size_t kBlock = 1 << 16;

  explicit Scanner(const std::string& path) : path(path) {}
  ~Scanner() {
    if (file != nullptr) std::fclose(file);
  }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  void Open() {
    file = handheld::OpenForReading(path);
    if (file == nullptr) return;
    // A file smaller than a block takes a buffer of its size, read whole at the first fill.
    struct stat info {};
    size_t size = kBlock;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
        static_cast<unsigned long long>(info.st_size) < kBlock) {
      size = static_cast<size_t>(info.st_size) + 1;
    }
    buffer.resize(size);
  }

  // Starts a pass from the first line (the first opens the file; a later one opens it
  // again unless the buffer holds all of it), keeping the text of VTIMEZONEs (zones) and
  // of the other components (items); false when the file cannot be opened.
  bool Restart(bool zones, bool items) {
    keepZones = zones;
    keepItems = items;
    number = 0;
    pending = false;
    inCalendar = sawCalendar = sawContent = strayShown = false;
    pos = 0;
    if (whole()) return true;
    if (file != nullptr) std::fclose(file);
    filled = 0;
    offset = 0;
    ended = false;
    Open();
    return file != nullptr;
  }

  // Every byte of the file is in the buffer.
  bool whole() const { return ended && offset == 0 && file != nullptr && !std::ferror(file); }

  // Reads more of the file behind what is left in the buffer (growing it for a line longer
  // than it); sets `ended` at the end of the file or when a read fails (ferror tells).
  void Fill() {
    if (pos > 0) {
      std::memmove(buffer.data(), buffer.data() + pos, filled - pos);
      filled -= pos;
      offset += pos;
      pos = 0;
    }
    if (filled == buffer.size()) buffer.resize(std::max(buffer.size() * 2, kBlock));
    const size_t wanted = buffer.size() - filled;
    const size_t got = std::fread(buffer.data() + filled, 1, wanted, file);
    filled += got;
    ended = got < wanted;
  }

  // The next line without its end (the LF and every CR before it), and on the first line
  // without a UTF-8 byte order mark; false at the end of the file or when a read fails.
  bool ReadPhysical(std::string* line) {
    const char* begin = nullptr;
    size_t size = 0;
    for (;;) {
      const char* at = buffer.data() + pos;
      if (const void* newline = std::memchr(at, '\n', filled - pos)) {
        begin = at;
        size = static_cast<size_t>(static_cast<const char*>(newline) - at);
        pos += size + 1;
        break;
      }
      if (ended) {
        if (pos == filled) return false;
        begin = at;
        size = filled - pos;
        pos = filled;
        break;
      }
      Fill();
    }
    ++number;
    while (size > 0 && begin[size - 1] == '\r') --size;
    const size_t from =
        number == 1 && size >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    line->assign(begin + from, size - from);
    return true;
  }

  // One content line, unfolded, and the number of its first line; its raw lines are
  // appended to *raw when it is given.
  bool Logical(std::string* unfolded, std::string* raw, long* first) {
    if (!pending) {
      if (!ReadPhysical(&ahead)) return false;
      aheadNumber = number;
    }
    *first = aheadNumber;
    unfolded->swap(ahead);
    if (raw != nullptr) raw->append(*unfolded).append("\r\n");
    pending = false;
    while (ReadPhysical(&ahead)) {
      if (!ahead.empty() && (ahead[0] == ' ' || ahead[0] == '\t')) {
        unfolded->append(ahead, 1, std::string::npos);
        if (raw != nullptr) raw->append(ahead).append("\r\n");
        continue;
      }
      aheadNumber = number;
      pending = true;
      break;
    }
    return true;
  }

  // The line's value in upper case, into *out.
  static void UpperValue(const std::string& line, std::string* out) {
    const std::string_view value = ValueOf(line);
    out->assign(value.data(), value.size());
    for (char& c : *out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }

  bool NextChunk(Chunk* chunk) {
    long at = 0;
    while (Logical(&line, nullptr, &at)) {
      const bool begin = HasName(line, "BEGIN");
      const bool end = !begin && HasName(line, "END");
      if (begin || end) {
        UpperValue(line, &what);
      } else {
        what.clear();
      }
      if (!inCalendar) {
        if (begin && what == "VCALENDAR") {
          inCalendar = sawCalendar = sawContent = true;
          strayShown = false;
          continue;
        }
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        sawContent = true;
        if (strayShown) continue;
        strayShown = true;
        chunk->Start(Type::kStray, at);
        chunk->problem = "a line outside any VCALENDAR";
        return true;
      }
      if (end && what == "VCALENDAR") {
        inCalendar = false;
        continue;
      }
      if (!begin) continue;  // a property of the calendar itself
      chunk->Start(Type::kComponent, at);
      chunk->name = what;
      std::string* text = (what == "VTIMEZONE" ? keepZones : keepItems) ? &chunk->text : nullptr;
      if (text != nullptr) text->append(line).append("\r\n");
      open.clear();
      open.push_back(what);
      while (Logical(&line, text, &at)) {
        if (HasName(line, "BEGIN")) {
          UpperValue(line, &what);
          open.push_back(what);
        } else if (HasName(line, "END")) {
          UpperValue(line, &what);
          if (what == "VCALENDAR") {
            inCalendar = false;
            chunk->type = Type::kBroken;
            chunk->problem = "BEGIN:" + chunk->name + " without its END";
            return true;
          }
          if (what != open.back() && chunk->type != Type::kBroken) {
            chunk->type = Type::kBroken;
            chunk->problem = "END:" + what + " where END:" + open.back() + " belongs";
          }
          open.pop_back();
          if (open.empty()) return true;
        } else if (open.size() == 1 && HasName(line, "UID")) {
          const std::string_view uid = ValueOf(line);
          chunk->uid.assign(uid.data(), uid.size());
        } else if (open.size() == 1 && HasName(line, "RECURRENCE-ID")) {
          chunk->recurrenceId = true;
        }
      }
      chunk->type = Type::kBroken;
      chunk->problem = "BEGIN:" + chunk->name + " cut off by the end of the file";
      return true;
    }
    return false;
  }

  std::string path;
  FILE* file = nullptr;
  std::vector<char> buffer;
  size_t pos = 0;     // the next byte to read
  size_t filled = 0;  // bytes in the buffer
  size_t offset = 0;  // where the buffer's first byte is in the file
  bool ended = false;
  bool keepZones = false, keepItems = false;
  long number = 0;
  std::string ahead, line, what;
  std::vector<std::string> open;
  long aheadNumber = 0;
  bool pending = false;
  bool inCalendar = false;
  bool sawCalendar = false;
  bool sawContent = false;  // any line that is not blank
  bool strayShown = false;
  Chunk chunk;  // the passes' own, which keeps its room
};

IcsReader::IcsReader(LocalZone local) : zones_(std::move(local)) {}

IcsReader::~IcsReader() = default;

void IcsReader::Scan(bool firstPass) {
  Scanner::Chunk& chunk = scanner_->chunk;
  while (scanner_->NextChunk(&chunk)) {
    if (chunk.type != Scanner::Type::kComponent) continue;
    const bool item = chunk.name == "VEVENT" || chunk.name == "VTODO";
    if (firstPass && chunk.name == "VTIMEZONE") {
      if (icalcomponent* zone = ParseComponent(chunk.text); zone != nullptr) {
        if (icalcomponent_isa(zone) == ICAL_VTIMEZONE_COMPONENT) {
          zones_.Add(zone);
        } else {
          icalcomponent_free(zone);
        }
      }
    } else if (firstPass && item) {
      ++(chunk.name == "VEVENT" ? events_ : todos_);
      if (chunk.recurrenceId) changed_.insert(chunk.uid);
    } else if (!firstPass && item && !chunk.recurrenceId && changed_.count(chunk.uid) != 0) {
      masters_.insert(chunk.uid);
    }
  }
}

bool IcsReader::Open(const std::string& path, std::string* error) {
  PrepareLibical();
  path_ = path;
  scanner_ = std::make_unique<Scanner>(path);
  const auto unreadable = [&] {
    *error = "cannot read \"" + path + "\": " + std::strerror(errno);
    unreadable_ = true;
    return false;
  };
  if (!scanner_->Restart(true, false)) return unreadable();
  Scan(true);
  if (std::ferror(scanner_->file)) return unreadable();
  if (!scanner_->sawContent) {
    empty_ = true;
    scanner_.reset();
    return true;
  }
  if (!scanner_->sawCalendar) {
    *error = path + " holds no VCALENDAR";
    return false;
  }
  if (!changed_.empty()) {
    if (!scanner_->Restart(false, false)) return unreadable();
    Scan(false);
    if (std::ferror(scanner_->file)) return unreadable();
  }
  if (!scanner_->Restart(false, true)) return unreadable();
  return true;
}

IcsReader::Entry IcsReader::Next() {
  Entry entry;
  if (scanner_ == nullptr) return entry;
  Scanner::Chunk& chunk = scanner_->chunk;
  while (scanner_->NextChunk(&chunk)) {
    entry.line = chunk.line;
    if (chunk.type != Scanner::Type::kComponent && std::ferror(scanner_->file)) break;
    if (chunk.type != Scanner::Type::kComponent) {
      entry.kind = Kind::kUnreadable;
      entry.problem = chunk.problem;
      return entry;
    }
    if (chunk.name == "VTIMEZONE") continue;
    if (chunk.name != "VEVENT" && chunk.name != "VTODO") {
      entry.kind = Kind::kOther;
      entry.name = chunk.name;
      return entry;
    }
    const bool hasSeries = masters_.count(chunk.uid) != 0;
    if (chunk.recurrenceId && hasSeries) continue;  // told with its series
    icalcomponent* component = ParseComponent(chunk.text);
    const icalcomponent_kind expected =
        chunk.name == "VEVENT" ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT;
    if (component == nullptr || icalcomponent_isa(component) != expected) {
      if (component != nullptr) icalcomponent_free(component);
      entry.kind = Kind::kUnreadable;
      entry.problem = "libical could not read this " + chunk.name;
      return entry;
    }
    entry.kind = Kind::kItem;
    entry.component = component;
    entry.changed = hasSeries && !chunk.recurrenceId;
    return entry;
  }
  // A read error is not the end of the file.
  if (std::ferror(scanner_->file)) {
    entry.kind = Kind::kFailed;
    entry.problem = "cannot read \"" + path_ + "\" to its end: " + std::strerror(errno);
  }
  scanner_.reset();
  return entry;
}

}  // namespace interop
