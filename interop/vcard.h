// Contacts between the stand-in's store and vCard files or address-book folders: the
// vCard format of the transfer engine (engine.h).
//
// Contract:
// - ExportContacts writes every contact of the session's folder, in the store's order,
//   to PATH. A folder (vdir.h: IsFolderPath) gets one UID.vcf per contact, made when
//   missing; a contact's existing file (found by the UID inside it) changes only where
//   the contact says otherwise than the file (MergeCard), so that what the store does not
//   keep stays, and a file with nothing to change is not touched; nothing else in the
//   folder is touched. Any other PATH becomes one .vcf file holding every card, written
//   whole or not at all; an existing file keeps its cards and the text between them, the
//   contacts' own cards merged the same way and the others kept (a note says how many),
//   the contacts it lacks added at its end, and it is not written when nothing changed.
//   Each card's UID is its contact's store identifier, made and kept at the first
//   export, so that every later export names the contact the same way.
// - ImportContacts reads one .vcf file, or every *.vcf file of a folder in name order,
//   and saves one contact per card (a group card makes none). With `replace`, every
//   contact of the store is removed first. A card whose UID a contact holds updates that
//   contact when anything differs (its saved version is kept first in a removed-items
//   file) and leaves it alone otherwise; any other card adds a contact, which keeps the
//   card's UID. result counts them (added, updated, unchanged). A card that cannot be
//   read is named in the problems and skipped; the others are saved. A saved version
//   that cannot be kept stops the import, leaving that contact as it was. Each file
//   without anything in it, and a folder without files, says so in a note ("no cards in
//   PATH").
// - Both note in `losses` what the files cannot keep (export) or the store cannot keep
//   (import), per contact or card, and an import also what it keeps otherwise than the
//   card says (Losses::Changed). They change the store in batches of a bounded size; a
//   store or file failure stops the transfer with the reason in result->error, and what
//   was saved before it stays saved.
#pragma once

#include <string>

#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"

namespace interop {

// The session must have the Contacts folder open.
void ExportContacts(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result);
void ImportContacts(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result);
void ImportContacts(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result, Reading reading);

}  // namespace interop
