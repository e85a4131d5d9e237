#include "interop/vcardreader.h"

#include <glib.h>

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
  std::free(raw_);
}

bool CardReader::NextRawLine(std::string* into) {
  if (hasPending_) {
    hasPending_ = false;
    into->swap(pending_);
    rawNumber_ = pendingNumber_;
    return true;
  }
  ssize_t length = getline(&raw_, &rawSize_, file_);
  if (length < 0) {
    if (std::ferror(file_)) failed_ = true;
    return false;
  }
  ++rawNumber_;
  std::string_view text(raw_, static_cast<size_t>(length));
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
  std::string next;
  for (;;) {
    if (!NextRawLine(&next)) break;
    if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
      line_.append(next, 1);  // a fold
      continue;
    }
    std::string why;
    size_t valueStart = ValueStart(line_, &why);
    std::string_view parameters =
        valueStart == std::string::npos ? std::string_view() : Parameters(line_, valueStart);
    if (!parameters.empty() && Names(parameters, "QUOTED-PRINTABLE") && !line_.empty() &&
        line_.back() == '=') {
      line_ += "\r\n";  // a soft line break, for the library
      line_ += next;
      continue;
    }
    if (!parameters.empty() && Names(parameters, "BASE64") && !next.empty() &&
        ValueStart(next, &why) == std::string::npos) {
      line_ += next;  // vCard 2.1 base64 data goes on unindented until a blank line
      continue;
    }
    pending_.swap(next);
    hasPending_ = true;
    pendingNumber_ = rawNumber_;
    rawNumber_ = pendingNumber_ - 1;
    break;
  }
  return true;
}

CardReader::Next CardReader::Read(Card* card, std::string* problem) {
  card->text.clear();
  card->notUtf8 = false;
  bool inside = false, skipping = false, junk = false;
  int depth = 0;
  bool agentBefore = false;  // the last line was a vCard 2.1 AGENT without a value
  long junkLine = 0;
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
        return Next::kProblem;
      }
      inside = true;
      depth = 1;
      card->line = lineNumber_;
      card->text = line_ + "\r\n";
      continue;
    }
    if (skipping) {
      if (begin) held_ = true;  // the next card
      if (begin || (IsLine(line_, "END:VCARD") && --depth == 0)) return Next::kProblem;
      continue;
    }
    if (begin && !agentBefore) {
      // A new card: the open one never ended.
      held_ = true;
      *problem = "line " + std::to_string(card->line) + ": the card has no END:VCARD";
      return Next::kProblem;
    }
    if (begin) {
      ++depth;
    } else if (IsLine(line_, "END:VCARD")) {
      card->text += line_;
      card->text += "\r\n";
      if (--depth == 0) return Next::kCard;
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
    card->text += line_;
    card->text += "\r\n";
  }
  if (junk) {
    *problem = "line " + std::to_string(junkLine) + ": text outside any card";
    return Next::kProblem;
  }
  if (inside) {
    if (skipping) return Next::kProblem;
    *problem = "line " + std::to_string(card->line) + ": the card has no END:VCARD";
    return Next::kProblem;
  }
  return Next::kEnd;
}

}  // namespace interop
