// The cards of a vCard file, one at a time, made ready for the mapping.
//
// Contract:
// - Lines end in LF or CR LF; a UTF-8 byte-order mark at the start is skipped. A file
//   that starts with a UTF-16 byte-order mark (FF FE or FE FF) is converted to UTF-8 as
//   it is read. Folded lines (a line break followed by a space or a tab) are joined
//   before anything else looks at them, so that a fold inside a multi-byte character does
//   no harm. A quoted-printable value that ends in '=' goes on in the next line (the soft
//   line break is dropped), and so do the unindented lines of a vCard 2.1 BASE64 value.
// - A card runs from BEGIN:VCARD to its END:VCARD, nested cards (a vCard 2.1 AGENT)
//   included; blank lines are skipped.
// - Text that is not UTF-8: a line that names its CHARSET (vCard 2.1) and is not
//   quoted-printable is converted from it and the parameter dropped (a quoted-printable
//   value is decoded and converted by the mapping). Bytes that are still not UTF-8
//   become U+FFFD and the card is marked notUtf8.
// - A card that cannot be read comes back as kProblem with the reason and the line it
//   names, and reading goes on after it: a card without END:VCARD (the next BEGIN:VCARD
//   or the end of the file ends it), a line without a property name or without ':', and
//   text outside any card. Memory holds one card at a time; reading takes time in
//   proportion to the bytes read, however long a line is.
// - With keepRaw, every Read also gives the bytes it went through (as read, after a
//   UTF-16 conversion): what came since the previous Read up to this card's end, and at
//   kEnd what was left; and for each line of `text` where its bytes lie in `raw`. Put
//   together, the raws of all Reads are the file.
#pragma once

#include <glib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace interop {

struct Card {
  std::string text;  // unfolded lines, each ended by CR LF, BEGIN and END included
  long line = 0;     // where its BEGIN:VCARD is
  bool notUtf8 = false;
  // With keepRaw: the bytes, and each line of `text` as [begin, end) in them (its line
  // break included).
  std::string raw;
  struct Span {
    size_t begin, end;
  };
  std::vector<Span> spans;
};

class CardReader {
 public:
  explicit CardReader(FILE* file, bool keepRaw = false) : file_(file), keepRaw_(keepRaw) {}
  ~CardReader();
  CardReader(const CardReader&) = delete;
  CardReader& operator=(const CardReader&) = delete;

  enum class Next { kCard, kProblem, kEnd };
  // kProblem: *problem is "line N: reason" (the card is skipped).
  Next Read(Card* card, std::string* problem);
  // True when the file could not be read to its end (an I/O error).
  bool failed() const { return failed_; }
  // True when the file was UTF-16.
  bool converted() const { return iconv_ != nullptr; }

 private:
  // The next logical line (folds joined) into line_, its first line number in lineNumber_.
  bool NextLogicalLine();
  bool NextRawLine(std::string* into);
  bool Fill();  // more bytes into buffer_; false at the end or on an error
  void TakeRaw(Card* card, size_t upTo);

  FILE* file_;
  bool keepRaw_;
  std::string buffer_;  // bytes read (UTF-8) and not yet taken as lines
  size_t taken_ = 0;    // buffer_ up to here is taken
  size_t scanned_ = 0;  // buffer_ from taken_ up to here holds no LF
  bool atEnd_ = false;
  GIConv iconv_ = nullptr;
  std::string undecoded_;  // UTF-16 bytes of a unit not yet whole

  std::string pending_;  // a raw line read ahead
  bool hasPending_ = false;
  long rawNumber_ = 0;
  long pendingNumber_ = 0;
  bool first_ = true;
  bool failed_ = false;

  std::string line_;
  long lineNumber_ = 0;
  bool held_ = false;  // line_ is to be looked at again by the next Read

  // keepRaw: the bytes of the lines taken since the last Read gave its raw, and where
  // the current logical line and the pending raw line start in it.
  std::string log_;
  size_t lineStart_ = 0, pendingStart_ = 0, rawStart_ = 0;
};

}  // namespace interop
