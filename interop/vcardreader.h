// The cards of a vCard file, one at a time, made ready for the vCard library.
//
// Contract:
// - Lines end in LF or CR LF; a UTF-8 byte-order mark at the start is skipped. Folded
//   lines (a line break followed by a space or a tab) are joined before anything else
//   looks at them, so that a fold inside a multi-byte character does no harm. A
//   quoted-printable value that ends in '=' goes on in the next line, and so do the
//   unindented lines of a vCard 2.1 BASE64 value; both are left to the library.
// - A card runs from BEGIN:VCARD to its END:VCARD, nested cards (a vCard 2.1 AGENT)
//   included; blank lines are skipped.
// - Text that is not UTF-8: a line that names its CHARSET (vCard 2.1) and is not
//   quoted-printable is converted from it and the parameter dropped (the library
//   converts quoted-printable values itself). Bytes that are still not UTF-8 become
//   U+FFFD and the card is marked notUtf8.
// - A card that cannot be read comes back as kProblem with the reason and the line it
//   names, and reading goes on after it: a card without END:VCARD (the next BEGIN:VCARD
//   or the end of the file ends it), a line without a property name or without ':', and
//   text outside any card. Memory holds one card at a time.
#pragma once

#include <cstdio>
#include <string>

namespace interop {

struct Card {
  std::string text;  // unfolded lines, each ended by CR LF, BEGIN and END included
  long line = 0;     // where its BEGIN:VCARD is
  bool notUtf8 = false;
};

class CardReader {
 public:
  explicit CardReader(FILE* file) : file_(file) {}
  ~CardReader();
  CardReader(const CardReader&) = delete;
  CardReader& operator=(const CardReader&) = delete;

  enum class Next { kCard, kProblem, kEnd };
  // kProblem: *problem is "line N: reason" (the card is skipped).
  Next Read(Card* card, std::string* problem);
  // True when the file could not be read to its end (an I/O error).
  bool failed() const { return failed_; }

 private:
  // The next logical line (folds joined) into line_, its first line number in lineNumber_.
  bool NextLogicalLine();
  bool NextRawLine(std::string* into);

  FILE* file_;
  char* raw_ = nullptr;
  size_t rawSize_ = 0;
  std::string pending_;  // a raw line read ahead
  bool hasPending_ = false;
  long rawNumber_ = 0;
  long pendingNumber_ = 0;
  bool first_ = true;
  bool failed_ = false;

  std::string line_;
  long lineNumber_ = 0;
  bool held_ = false;  // line_ is to be looked at again by the next Read
};

}  // namespace interop
