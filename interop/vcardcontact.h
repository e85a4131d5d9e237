// A store contact as a vCard and back: written through Evolution's vCard library (EVCard),
// read by a parser of its own that takes time in proportion to the card's length.
//
// Contract:
// - CardFromContact writes a vCard 3.0 (UTF-8, CR LF, lines folded at 75 octets, never
//   inside a character) with a PRODID naming Quillmote, the contact's UID, N and a
//   composed FN, and one property for each property of the contact that is not empty,
//   as the table in vcardcontact.cpp says. Properties that vCard 3.0 lacks take the
//   X- names that Evolution writes. Where the order of the cards' properties alone would
//   put a value in another place (a second home telephone without a first one), the
//   property carries X-QUILLMOTE-SLOT with the place it came from.
// - ContactFromCard reads a card of vCard 2.1, 3.0 or 4.0 (as CardReader gives it) into
//   the 46 properties: the names that CardFromContact writes, the vCard 4.0 ones
//   (ANNIVERSARY, RELATED;TYPE=spouse, ...) and other common spellings. A card without
//   N (or with an empty one) keeps its FN as the first name, unless the FN is only what
//   would be composed anyway. Whatever the card holds that the store cannot keep is
//   noted in `losses` under its property name (or a few words where a name would not
//   say it), and whatever is kept otherwise than the card says is counted as changed (an
//   FN the store composes otherwise, a type the store has no place for, a post office
//   box joined to the street). Telephones of no kind the store has take the first free
//   place that no typed one took. A card inside the card (vCard 2.1's AGENT) is noted as
//   AGENT and none of it is read; a group card is noted as "group card" and makes no
//   contact.
// - A contact written by CardFromContact and read back by ContactFromCard has all 46
//   properties and the UID identical, for any valid text (line breaks are the
//   handheld's CR LF), and dates with whole seconds in years 100 to 9999.
// - Text that vCard cannot carry is noted by CardFromContact in `losses` when given: a
//   zero character or another control character but the tab (dropped), a lone surrogate (U+FFFD), a line break other than CR LF
//   (written as one and read back as CR LF) and a date's fraction of a second.
#pragma once

#include <string>

#include "handheld/oledate.h"
#include "handheld/pimstore.h"
#include "interop/losses.h"
#include "interop/vcardreader.h"

namespace interop {

enum ContactText : int {
#define INTEROP_CONTACT_TEXT(Name) k##Name,
  HANDHELD_CONTACT_STRINGS(INTEROP_CONTACT_TEXT) kContactTextCount
#undef INTEROP_CONTACT_TEXT
};

// The published name, the getter and the setter of each text, in the order of the texts.
using ContactTextGetter = HRESULT (IContact::*)(BSTR*);
using ContactTextSetter = HRESULT (IContact::*)(BSTR);
extern const char* const kContactTextNames[kContactTextCount];
extern const ContactTextGetter kContactTextGetters[kContactTextCount];
extern const ContactTextSetter kContactTextSetters[kContactTextCount];

struct ContactValues {
  std::u16string texts[kContactTextCount];
  DATE birthday = handheld::kNoDate;
  DATE anniversary = handheld::kNoDate;
  std::string uid;  // UTF-8; empty: none
};

// Reads a store contact's texts and dates (not its UID, see identity.h); the first
// failing read's result otherwise.
HRESULT ReadContact(IContact* contact, ContactValues* values);

// The card, ended by CR LF. `losses` may be null.
std::string CardFromContact(const ContactValues& contact, Losses* losses);

enum class CardKind { kContact, kGroup };
CardKind ContactFromCard(const Card& card, ContactValues* contact, Losses* losses);

// The card as a file holds it (read with keepRaw) into *merged, changed only where
// `contact` says otherwise than the card maps to: a changed value is set in the line it
// came from (its parameters kept), a value the card lacks is added as CardFromContact
// writes it, a line whose value the store emptied is left out, and FN follows the name
// only when what the store composes from it changed. Every other line stays byte for
// byte. False (and *merged untouched) when nothing differs.
bool MergeCard(const Card& card, const ContactValues& contact, std::string* merged);

}  // namespace interop
