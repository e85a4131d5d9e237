#include "interop/vcardreader.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace interop {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view start) {
  return text.size() >= start.size() &&
         g_ascii_strncasecmp(text.data(), start.data(), start.size()) == 0;
}

bool IsLine(std::string_view line, std::string_view what) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line.size() == what.size() && StartsWithNoCase(line, what);
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Where the value starts: one past the first ':' outside double quotes, after a valid
// [group.]name; npos when the line has no such form.
size_t ValueStart(std::string_view line, std::string* why) {
  size_t at = 0;
  while (at < line.size() &&
         (g_ascii_isalnum(line[at]) || line[at] == '-' || line[at] == '.' || line[at] == '_')) {
    ++at;
  }
  if (at == 0 || line[at - 1] == '.' || (at < line.size() && line[at] != ';' && line[at] != ':')) {
    *why = "a line that does not start with a property name";
    return std::string_view::npos;
  }
  bool quoted = false;
  for (; at < line.size(); ++at) {
    if (line[at] == '"') quoted = !quoted;
    if (line[at] == ':' && !quoted) return at + 1;
  }
  *why = "a line without ':' between the property and its value";
  return std::string_view::npos;
}

// The parameters' part of a content line: from the name's end to the ':'.
std::string_view Parameters(std::string_view line, size_t valueStart) {
  size_t semicolon = line.find(';');
  if (semicolon == std::string_view::npos || semicolon >= valueStart) return {};
  return line.substr(semicolon, valueStart - 1 - semicolon);
}

bool Names(std::string_view parameters, std::string_view word) {
  for (size_t i = 0; i + word.size() <= parameters.size(); ++i) {
    if (g_ascii_strncasecmp(parameters.data() + i, word.data(), word.size()) == 0) return true;
  }
  return false;
}

// Converts a raw value from the CHARSET the line names (and drops the parameter); false
// when the line names none, or one that does not convert.
bool ConvertFromCharset(std::string* line, size_t valueStart) {
  std::string_view parameters = Parameters(*line, valueStart);
  if (parameters.empty() || Names(parameters, "QUOTED-PRINTABLE")) return false;
  size_t start = line->find(';');
  // Each ";NAME=VALUE" of the parameters, outside quotes.
  for (size_t at = start; at < valueStart - 1;) {
    size_t end = at + 1;
    bool quoted = false;
    while (end < valueStart - 1 && (quoted || (*line)[end] != ';')) {
      if ((*line)[end] == '"') quoted = !quoted;
      ++end;
    }
    std::string_view parameter(line->data() + at + 1, end - at - 1);
    if (StartsWithNoCase(parameter, "CHARSET=")) {
      std::string charset(parameter.substr(8));
      if (charset.size() >= 2 && charset.front() == '"')
        charset = charset.substr(1, charset.size() - 2);
      if (g_ascii_strcasecmp(charset.c_str(), "UTF-8") == 0) return false;
      gsize written = 0;
      gchar* converted = g_convert(line->data() + valueStart, line->size() - valueStart, "UTF-8",
                                   charset.c_str(), nullptr, &written, nullptr);
      if (converted == nullptr) return false;
      std::string rebuilt = line->substr(0, at) + line->substr(end, valueStart - end);
      rebuilt.append(converted, written);
      g_free(converted);
      *line = std::move(rebuilt);
      return true;
    }
    at = end;
  }
  return false;
}

// "\:" is no escape of vCard, but some writers (Google's among them) put it before the
// colons of URLs; the library would keep the backslash.
void DropEscapedColons(std::string* line, size_t valueStart) {
  if (line->find("\\:", valueStart) == std::string::npos) return;
  std::string value;
  for (size_t i = valueStart; i < line->size(); ++i) {
    if ((*line)[i] == '\\' && i + 1 < line->size()) {
      if ((*line)[i + 1] != ':') value += '\\';
      value += (*line)[++i];
    } else {
      value += (*line)[i];
    }
  }
  line->replace(valueStart, std::string::npos, value);
}

}  // namespace

CardReader::~CardReader() {
  if (iconv_ != nullptr) g_iconv_close(iconv_);
}

bool CardReader::Fill() {
  if (atEnd_) return false;
  // What was taken goes, when it is the larger part: each byte is moved a bounded number
  // of times.
  if (taken_ > 0 && taken_ >= buffer_.size() - taken_) {
    buffer_.erase(0, taken_);
    scanned_ -= taken_;
    taken_ = 0;
  }
  char chunk[1 << 16];
  size_t got = std::fread(chunk, 1, sizeof chunk, file_);
  if (got < sizeof chunk) {
    atEnd_ = true;
    if (std::ferror(file_)) failed_ = true;
  }
  std::string_view bytes(chunk, got);
  if (first_ && buffer_.empty() && undecoded_.empty() && bytes.size() >= 2) {
    const bool little = bytes.substr(0, 2) == "\xFF\xFE", big = bytes.substr(0, 2) == "\xFE\xFF";
    if (little || big) {
      iconv_ = g_iconv_open("UTF-8", little ? "UTF-16LE" : "UTF-16BE");
      bytes.remove_prefix(2);
    }
  }
  if (iconv_ == nullptr) {
    buffer_.append(bytes);
    return got > 0;
  }
  undecoded_.append(bytes);
  size_t at = 0;
  while (at < undecoded_.size()) {
    char out[1 << 16];
    gchar* in = undecoded_.data() + at;
    gsize inLeft = undecoded_.size() - at, outLeft = sizeof out;
    gchar* outAt = out;
    gsize result = g_iconv(iconv_, &in, &inLeft, &outAt, &outLeft);
    buffer_.append(out, static_cast<size_t>(outAt - out));
    at = static_cast<size_t>(in - undecoded_.data());
    if (result != static_cast<gsize>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EINVAL && !atEnd_) break;  // a unit or a pair that the next chunk ends
    buffer_ += "\xEF\xBF\xBD";             // not UTF-16: U+FFFD for it
    at = std::min(undecoded_.size(), at + 2);
  }
  undecoded_.erase(0, at);
  return true;
}

bool CardReader::NextRawLine(std::string* into) {
  if (hasPending_) {
    hasPending_ = false;
    into->swap(pending_);
    rawNumber_ = pendingNumber_;
    rawStart_ = pendingStart_;
    return true;
  }
  size_t lf;
  for (;;) {
    const char* found = static_cast<const char*>(
        std::memchr(buffer_.data() + scanned_, '\n', buffer_.size() - scanned_));
    if (found != nullptr) {
      lf = static_cast<size_t>(found - buffer_.data()) + 1;
      break;
    }
    scanned_ = buffer_.size();
    if (!Fill()) {
      if (taken_ == buffer_.size()) return false;
      lf = buffer_.size();  // a last line without a line break
      break;
    }
  }
  ++rawNumber_;
  std::string_view text(buffer_.data() + taken_, lf - taken_);
  if (keepRaw_) {
    rawStart_ = log_.size();
    log_.append(text);
  }
  taken_ = scanned_ = lf;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (first_) {
    first_ = false;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  }
  into->assign(text);
  return true;
}

bool CardReader::NextLogicalLine() {
  if (!NextRawLine(&line_)) return false;
  lineNumber_ = rawNumber_;
  lineStart_ = rawStart_;
  std::string next;
  // Whether the value is quoted-printable or BASE64, found once the line has its ':'.
  bool known = false, quoted = false, base64 = false;
  for (;;) {
    if (!NextRawLine(&next)) break;
    if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
      line_.append(next, 1);  // a fold
      continue;
    }
    std::string why;
    if (!known) {
      size_t valueStart = ValueStart(line_, &why);
      if (valueStart != std::string::npos) {
        std::string_view parameters = Parameters(line_, valueStart);
        known = true;
        quoted = Names(parameters, "QUOTED-PRINTABLE");
        base64 = Names(parameters, "BASE64");
      }
    }
    if (quoted && !line_.empty() && line_.back() == '=') {
      line_.pop_back();  // a soft line break
      line_ += next;
      continue;
    }
    if (base64 && !next.empty() && ValueStart(next, &why) == std::string::npos) {
      line_ += next;  // vCard 2.1 base64 data goes on unindented until a blank line
      continue;
    }
    pending_.swap(next);
    hasPending_ = true;
    pendingNumber_ = rawNumber_;
    pendingStart_ = rawStart_;
    rawNumber_ = pendingNumber_ - 1;
    break;
  }
  return true;
}

void CardReader::TakeRaw(Card* card, size_t upTo) {
  if (!keepRaw_) return;
  card->raw.assign(log_, 0, upTo);
  log_.erase(0, upTo);
  lineStart_ -= std::min(lineStart_, upTo);
  pendingStart_ -= std::min(pendingStart_, upTo);
}

CardReader::Next CardReader::Read(Card* card, std::string* problem) {
  card->text.clear();
  card->notUtf8 = false;
  card->spans.clear();
  bool inside = false, skipping = false, junk = false;
  int depth = 0;
  bool agentBefore = false;  // the last line was a vCard 2.1 AGENT without a value
  long junkLine = 0;
  // The bytes of the current line end where the next one (read ahead) starts.
  auto lineEnd = [this] { return hasPending_ ? pendingStart_ : log_.size(); };
  auto add = [&] {
    card->text += line_;
    card->text += "\r\n";
    if (keepRaw_) card->spans.push_back({lineStart_, lineEnd()});
  };
  // What this Read gives: up to the end of its last line, or up to a line held for the
  // next Read.
  auto give = [&](Next next) {
    TakeRaw(card, held_ ? lineStart_ : lineEnd());
    return next;
  };
  while (held_ || NextLogicalLine()) {
    held_ = false;
    if (IsBlank(line_)) continue;
    const bool begin = IsLine(line_, "BEGIN:VCARD");
    if (!inside) {
      if (!begin) {
        if (!junk) junkLine = lineNumber_;
        junk = true;
        continue;
      }
      if (junk) {
        held_ = true;
        *problem = "line " + std::to_string(junkLine) + ": text outside any card";
        return give(Next::kProblem);
      }
      inside = true;
      depth = 1;
      card->line = lineNumber_;
      add();
      continue;
    }
    if (skipping) {
      if (begin) held_ = true;  // the next card
      if (begin || (IsLine(line_, "END:VCARD") && --depth == 0)) return give(Next::kProblem);
      continue;
    }
    if (begin && !agentBefore) {
      // A new card: the open one never ended.
      held_ = true;
      *problem = "line " + std::to_string(card->line) + ": the card has no END:VCARD";
      return give(Next::kProblem);
    }
    if (begin) {
      ++depth;
    } else if (IsLine(line_, "END:VCARD")) {
      add();
      if (--depth == 0) return give(Next::kCard);
      continue;
    }
    std::string why;
    size_t valueStart = ValueStart(line_, &why);
    if (valueStart == std::string::npos) {
      *problem = "line " + std::to_string(lineNumber_) + ": " + why + " (the card from line " +
                 std::to_string(card->line) + " is skipped)";
      skipping = true;
      continue;
    }
    agentBefore = valueStart == line_.size() && StartsWithNoCase(line_, "AGENT");
    bool valid = g_utf8_validate_len(line_.data(), line_.size(), nullptr);
    if (!valid || !Parameters(line_, valueStart).empty()) {
      valid = ConvertFromCharset(&line_, valueStart) || valid;
    }
    if (!valid && !g_utf8_validate_len(line_.data(), line_.size(), nullptr)) {
      gchar* made = g_utf8_make_valid(line_.data(), static_cast<gssize>(line_.size()));
      line_ = made;
      g_free(made);
      card->notUtf8 = true;
    }
    DropEscapedColons(&line_, valueStart);
    add();
  }
  if (junk) {
    *problem = "line " + std::to_string(junkLine) + ": text outside any card";
    return give(Next::kProblem);
  }
  if (inside) {
    if (skipping) return give(Next::kProblem);
    *problem = "line " + std::to_string(card->line) + ": the card has no END:VCARD";
    return give(Next::kProblem);
  }
  return give(Next::kEnd);
}

}  // namespace interop
