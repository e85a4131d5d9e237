// The kinds of item that move between the store and other programs' files, with what
// the tools need to move each: the store folder, the file extension, the words for
// messages, quillmote-batch's commands for the same kind, and the export and import.
//
// Contract: a kind is added by one entry of the table in formats.cpp (contacts: vCard;
// calendar and tasks: iCalendar). FormatForKind finds an entry by the tools' KIND word;
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
  LONG folder;              // olFolderContacts
  const char* extension;    // ".vcf"
  const char* itemNouns;    // what the store holds: "contacts"
  const char* itemNoun;     // "contact"
  const char* fileNouns;    // what the files hold: "cards"
  const char* fileNoun;     // "card"
  const char* loadCommand;  // quillmote-batch: "load-contacts"
  const char* saveCommand;  // "save-contacts"
  void (*exportItems)(StoreSession& session, const std::string& path, Losses* losses,
                      TransferResult* result);
  void (*importItems)(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                      TransferResult* result);
  // For kinds that share their extension: whether the file, or a folder's files, hold
  // this kind (null for the others).
  bool (*holds)(const std::string& path);
};

const ForeignFormat* FormatForKind(std::string_view kind);
const ForeignFormat* FormatForPath(const std::string& path, std::string_view fallback = "");
// Every KIND that has a format, separated by ", " (for usage texts).
std::string FormatKinds();

}  // namespace interop
