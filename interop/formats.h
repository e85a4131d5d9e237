// The kinds of item the tools know, each described once: where the store keeps it, what
// it can do (quillmote-batch's load and save, export and import of other programs'
// files), and the words for messages.
//
// Contract: a kind is added by one entry of the table in formats.cpp (contacts: vCard;
// calendar and tasks: iCalendar; the call log, which is only saved and has no file
// format). KindNamed finds any entry by the tools' KIND word; FormatForKind only one
// with a file format;
// FormatForPath by the extension of a file, or of the files in a folder (the first entry
// whose extension the folder's files carry; an empty folder, or one PATH that ends in '/'
// and does not exist yet, gives the first entry whose kind is `fallback`). Kinds that
// share an extension (.ics) are told apart by what the files hold, so a file that does
// not exist yet fits neither. Both give null when nothing fits.
#pragma once

#include <string>
#include <string_view>

#include "handheld/pimstore.h"
#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"

namespace interop {

struct ForeignFormat {
  const char* kind;         // the tools' KIND: "contacts"
  LONG folder;              // olFolderContacts; 0 for the call log, kept apart from the store
  LONG itemType;            // what the store creates: olContactItem
  const char* extension;    // ".vcf"; null when the kind has no file format
  const char* itemNouns;    // what the store holds: "contacts"
  const char* itemNoun;     // "contact"
  const char* fileNouns;    // what the files hold: "cards"
  const char* fileNoun;     // "card"
  const char* loadCommand;  // quillmote-batch: "load-contacts"; null when it cannot load
  const char* saveCommand;  // "save-contacts"
  void (*exportItems)(StoreSession& session, const std::string& path, Losses* losses,
                      TransferResult* result);  // null without a file format
  void (*importItems)(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                      TransferResult* result);
  // For kinds that share their extension: whether the file, or a folder's files, hold
  // this kind (null for the others).
  bool (*holds)(const std::string& path);
};

const ForeignFormat* KindNamed(std::string_view kind);
const ForeignFormat* FormatForKind(std::string_view kind);
const ForeignFormat* FormatForPath(const std::string& path, std::string_view fallback = "");
// Every KIND that has a file format, separated by ", " (for usage texts).
std::string FormatKinds();

}  // namespace interop
