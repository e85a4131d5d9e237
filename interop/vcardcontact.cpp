// The mapping between the store's contact and a vCard, as built:
//
// clang-format off
// | Store property                   | vCard 3.0 written              | also read
// |----------------------------------|--------------------------------|----------------------------
// | LastName, FirstName, MiddleName, | N (family; given; additional;  | FN as FirstName when N is
// | Title, Suffix                    | prefix; suffix), FN composed   | missing or empty
// | Email1Address .. Email3Address   | EMAIL;TYPE=INTERNET            | every EMAIL, in order
// | MobileTelephoneNumber            | TEL;TYPE=CELL                  | MOBILE
// | HomeTelephoneNumber, Home2...    | TEL;TYPE=HOME,VOICE            | TEL of no kind the store
// |                                  |                                | has: the first free place
// |                                  |                                | after the typed ones
// | BusinessTelephoneNumber, Bus...2 | TEL;TYPE=WORK,VOICE            |
// | BusinessFaxNumber                | TEL;TYPE=WORK,FAX              | FAX without HOME
// | HomeFaxNumber                    | TEL;TYPE=HOME,FAX              |
// | PagerNumber                      | TEL;TYPE=PAGER                 |
// | CarTelephoneNumber               | TEL;TYPE=CAR                   |
// | RadioTelephoneNumber             | TEL;TYPE=X-EVOLUTION-RADIO     | RADIO
// | AssistantTelephoneNumber         | TEL;TYPE=X-EVOLUTION-ASSISTANT | ASSISTANT
// | Home/Business/OtherAddress       | ADR;TYPE=HOME / WORK / OTHER   | ADR without a kind as the
// | Street, City, State, PostalCode, | (;;street;city;region;code;    | first free; post office
// | Country                          | country)                       | box and extended address
// |                                  |                                | joined to the street on
// |                                  |                                | lines of their own
// | CompanyName, Department,         | ORG (name; unit; office, as    | X-KADDRESSBOOK-X-OFFICE
// | OfficeLocation                   | Evolution writes it)           |
// | JobTitle                         | TITLE                          |
// | WebPage                          | URL                            |
// | Categories                       | CATEGORIES (split at ,)        |
// | Body                             | NOTE                           |
// | Birthday                         | BDAY (date, or date and time   | basic and extended ISO
// |                                  | when it has one)               | forms, a zone ignored
// | Anniversary                      | X-EVOLUTION-ANNIVERSARY and    | ANNIVERSARY,
// |                                  | X-ANNIVERSARY (khard's)        | X-MS-ANNIVERSARY
// | Spouse                           | X-EVOLUTION-SPOUSE             | RELATED;TYPE=spouse,
// |                                  |                                | X-SPOUSE, X-MS-SPOUSE,
// |                                  |                                | X-KADDRESSBOOK-X-SPOUSES-
// |                                  |                                | NAME
// | Children                         | X-CHILDREN                     | RELATED;TYPE=child,
// |                                  |                                | X-MS-CHILD
// | AssistantName                    | X-EVOLUTION-ASSISTANT          | X-ASSISTANT,
// |                                  |                                | X-MS-ASSISTANT, X-KADDRESS-
// |                                  |                                | BOOK-X-ASSISTANTSNAME
// | (the item's identifier)          | UID                            |
// clang-format on
//
// Texts: the handheld's CR LF is a vCard line break ("\n"); a line break read from a card
// becomes CR LF. Telephones and e-mails fill their places in the card's order; a value
// that has no free place left is not kept. An export into an existing card (MergeCard)
// goes the other way along the same table: each place knows the line, and the part of
// its value, that it came from.
#include "interop/vcardcontact.h"

#include <glib.h>
#include <libebook-contacts/libebook-contacts.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "handheld/utf16.h"

#ifndef QUILLMOTE_VERSION
#define QUILLMOTE_VERSION "0"
#endif

namespace interop {

#define INTEROP_NAME(Name) #Name,
#define INTEROP_GETTER(Name) &IContact::get_##Name,
#define INTEROP_SETTER(Name) &IContact::put_##Name,
const char* const kContactTextNames[kContactTextCount] = {HANDHELD_CONTACT_STRINGS(INTEROP_NAME)};
const ContactTextGetter kContactTextGetters[kContactTextCount] = {
    HANDHELD_CONTACT_STRINGS(INTEROP_GETTER)};
const ContactTextSetter kContactTextSetters[kContactTextCount] = {
    HANDHELD_CONTACT_STRINGS(INTEROP_SETTER)};
#undef INTEROP_NAME
#undef INTEROP_GETTER
#undef INTEROP_SETTER

namespace {

constexpr const char* kProdId = "-//Quillmote//Quillmote " QUILLMOTE_VERSION "//EN";
constexpr const char* kSlotParameter = "X-QUILLMOTE-SLOT";

// ---- texts ------------------------------------------------------------------------------

// Store text to UTF-8 for a vCard value: CR LF (and a lone CR or LF) to LF, which the
// library writes as "\n".
std::string VCardText(std::u16string_view text, Losses* losses) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      if (c == u'\r') {
        if (i + 1 < text.size() && text[i + 1] == u'\n') {
          ++i;
        } else if (losses != nullptr) {
          losses->Note("a line break other than CR LF");
        }
        out += '\n';
      } else if (c == u'\n') {
        if (losses != nullptr) losses->Note("a line break other than CR LF");
        out += '\n';
      } else if (c == 0) {
        if (losses != nullptr) losses->Note("a zero character");
      } else if ((c < 0x20 && c != u'\t') || c == 0x7F) {
        if (losses != nullptr) losses->Note("a control character");
      } else {
        out += static_cast<char>(c);
      }
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      } else {
        if (losses != nullptr) losses->Note("a lone surrogate");
        c = 0xFFFD;
      }
    }
    char bytes[4];
    int n = g_unichar_to_utf8(static_cast<gunichar>(c), bytes);
    out.append(bytes, static_cast<size_t>(n));
  }
  return out;
}

// A value read from a card (valid UTF-8) to store text, line breaks to CR LF.
std::u16string StoreText(std::string_view text) {
  std::u16string out = handheld::Utf16FromUtf8(text);
  if (out.find_first_of(u"\r\n") == std::u16string::npos) return out;
  std::u16string broken;
  broken.reserve(out.size() + 8);
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == u'\r' || out[i] == u'\n') {
      broken += u"\r\n";
      if (out[i] == u'\r' && i + 1 < out.size() && out[i + 1] == u'\n') ++i;
    } else {
      broken += out[i];
    }
  }
  return broken;
}

// ---- dates ------------------------------------------------------------------------------

// "YYYY-MM-DD", or "YYYY-MM-DDTHH:MM:SS" when the date has a time of day.
bool VCardDate(DATE value, std::string* text, Losses* losses) {
  SYSTEMTIME t;
  if (!VariantTimeToSystemTime(value, &t)) return false;
  char buffer[64];
  if (t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0) {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
  }
  DATE back = 0;
  if (losses != nullptr && (!SystemTimeToVariantTime(&t, &back) || back != value)) {
    losses->Note("a date's fraction of a second");
  }
  *text = buffer;
  return true;
}

bool Digits(std::string_view* text, size_t count, WORD* value) {
  if (text->size() < count) return false;
  unsigned number = 0;
  for (size_t i = 0; i < count; ++i) {
    char c = (*text)[i];
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  text->remove_prefix(count);
  *value = static_cast<WORD>(number);
  return true;
}

bool Skip(std::string_view* text, char c) {
  if (text->empty() || text->front() != c) return false;
  text->remove_prefix(1);
  return true;
}

// A date, or a date and time, in the ISO 8601 forms that vCards use; a zone is ignored
// (the store's dates are local). On failure *why names what is missing.
bool ParseDate(std::string_view text, DATE* out, const char** why) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  *why = "that is not a date";
  if (text.substr(0, 2) == "--") {
    *why = "without a year";
    return false;
  }
  SYSTEMTIME t{};
  bool extended = text.size() > 4 && text[4] == '-';
  if (!Digits(&text, 4, &t.wYear) || (extended && !Skip(&text, '-')) ||
      !Digits(&text, 2, &t.wMonth) || (extended && !Skip(&text, '-')) ||
      !Digits(&text, 2, &t.wDay)) {
    return false;
  }
  if (Skip(&text, 'T') || Skip(&text, 't')) {
    bool colons = text.size() > 2 && text[2] == ':';
    if (!Digits(&text, 2, &t.wHour)) return false;
    if ((colons ? Skip(&text, ':') : true) && Digits(&text, 2, &t.wMinute)) {
      if ((colons ? Skip(&text, ':') : true)) Digits(&text, 2, &t.wSecond);
    }
    if (Skip(&text, '.') || Skip(&text, ',')) {
      while (!text.empty() && text.front() >= '0' && text.front() <= '9') text.remove_prefix(1);
    }
    if (!(Skip(&text, 'Z') || Skip(&text, 'z'))) {
      if (Skip(&text, '+') || Skip(&text, '-')) {
        WORD zone = 0;
        if (!Digits(&text, 2, &zone)) return false;
        Skip(&text, ':');
        Digits(&text, 2, &zone);
      }
    }
  }
  if (!text.empty()) return false;
  if (!SystemTimeToVariantTime(&t, out)) {
    *why = "outside the years 100 to 9999";
    return false;
  }
  return true;
}

// ---- writing ----------------------------------------------------------------------------

// A logical line folded at 75 octets, never inside a character (the library folds at 75
// characters), ended by `eol`.
void Fold(std::string_view logical, std::string_view eol, std::string* out) {
  size_t limit = 75;
  while (logical.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(logical[cut]) & 0xC0) == 0x80) --cut;
    out->append(logical.substr(0, cut));
    out->append(eol);
    out->push_back(' ');
    logical.remove_prefix(cut);
    limit = 74;
  }
  out->append(logical);
  out->append(eol);
}

class CardBuilder {
 public:
  explicit CardBuilder(Losses* losses) : losses_(losses) {}
  ~CardBuilder() {
    for (EVCardAttribute* attribute : attributes_) e_vcard_attribute_free(attribute);
  }

  EVCardAttribute* Add(const char* name, std::initializer_list<std::string> values) {
    EVCardAttribute* attribute = e_vcard_attribute_new(nullptr, name);
    for (const std::string& value : values) e_vcard_attribute_add_value(attribute, value.c_str());
    attributes_.push_back(attribute);
    return attribute;
  }
  // A one-valued property, left out when the text is empty.
  EVCardAttribute* AddText(const char* name, std::u16string_view text) {
    if (text.empty()) return nullptr;
    return Add(name, {VCardText(text, losses_)});
  }
  std::string Text(std::u16string_view text) { return VCardText(text, losses_); }

  // The library prepends what it is given: the attributes go in backwards.
  std::string Finish() {
    EVCard* card = e_vcard_new();
    for (auto at = attributes_.rbegin(); at != attributes_.rend(); ++at) {
      e_vcard_add_attribute(card, *at);
    }
    attributes_.clear();
    gchar* text = e_vcard_to_string(card, EVC_FORMAT_VCARD_30);
    g_object_unref(card);
    std::string folded = Refolded(text);
    g_free(text);
    return folded;
  }

 private:
  static std::string Refolded(std::string_view text) {
    std::string out, line;
    out.reserve(text.size() + text.size() / 32 + 16);
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view piece = text.substr(start, end - start);
      if (!first && !piece.empty() && piece.front() == ' ') {
        line.append(piece.substr(1));
      } else {
        if (!first) Fold(line, "\r\n", &out);
        line.assign(piece);
        first = false;
      }
      start = end + 2;
    }
    if (!first) Fold(line, "\r\n", &out);
    return out;
  }

  Losses* losses_;
  std::vector<EVCardAttribute*> attributes_;
};

void AddParameter(EVCardAttribute* attribute, const char* name,
                  std::initializer_list<const char*> values) {
  EVCardAttributeParam* parameter = e_vcard_attribute_param_new(name);
  for (const char* value : values) e_vcard_attribute_param_add_value(parameter, value);
  e_vcard_attribute_add_param(attribute, parameter);
}

// The places of one group (e-mails, home telephones, ...) in order: each value that is
// not empty, with X-QUILLMOTE-SLOT where its place would not follow from the order.
void AddGroup(CardBuilder& card, const char* name, std::initializer_list<const char*> types,
              std::initializer_list<std::u16string_view> values) {
  size_t written = 0, place = 0;
  for (std::u16string_view value : values) {
    ++place;
    if (value.empty()) continue;
    EVCardAttribute* attribute = card.Add(name, {card.Text(value)});
    AddParameter(attribute, "TYPE", types);
    if (++written != place) {
      AddParameter(attribute, kSlotParameter, {std::to_string(place).c_str()});
    }
  }
}

void AddDate(CardBuilder& card, const char* name, DATE value, Losses* losses) {
  std::string text;
  if (value == handheld::kNoDate) return;
  if (!VCardDate(value, &text, losses)) {
    if (losses != nullptr) losses->Note(std::string(name) + " outside the years 100 to 9999");
    return;
  }
  card.Add(name, {text});
}

// Title First Middle Last Suffix; else the company, else the first e-mail.
std::u16string ComposedName(const ContactValues& c) {
  std::u16string name;
  for (int part : {kTitle, kFirstName, kMiddleName, kLastName, kSuffix}) {
    if (c.texts[part].empty()) continue;
    if (!name.empty()) name += u' ';
    name += c.texts[part];
  }
  if (name.empty()) name = c.texts[kCompanyName];
  if (name.empty()) name = c.texts[kEmail1Address];
  return name;
}

}  // namespace

HRESULT ReadContact(IContact* contact, ContactValues* values) {
  HRESULT hr = S_OK;
  for (int i = 0; i < kContactTextCount && SUCCEEDED(hr); ++i) {
    BSTR text = nullptr;
    hr = (contact->*kContactTextGetters[i])(&text);
    if (SUCCEEDED(hr)) values->texts[i].assign(text != nullptr ? text : u"", SysStringLen(text));
    SysFreeString(text);
  }
  if (SUCCEEDED(hr)) hr = contact->get_Birthday(&values->birthday);
  if (SUCCEEDED(hr)) hr = contact->get_Anniversary(&values->anniversary);
  return hr;
}

namespace {

void AddName(CardBuilder& card, const ContactValues& c) {
  const auto& t = c.texts;
  card.Add("N", {card.Text(t[kLastName]), card.Text(t[kFirstName]), card.Text(t[kMiddleName]),
                 card.Text(t[kTitle]), card.Text(t[kSuffix])});
}

// Every property after N and FN, for the values that are not empty.
void AddBody(CardBuilder& card, const ContactValues& c, Losses* losses) {
  const auto& t = c.texts;
  if (!t[kOfficeLocation].empty()) {
    card.Add("ORG", {card.Text(t[kCompanyName]), card.Text(t[kDepartment]),
                     card.Text(t[kOfficeLocation])});
  } else if (!t[kDepartment].empty()) {
    card.Add("ORG", {card.Text(t[kCompanyName]), card.Text(t[kDepartment])});
  } else {
    card.AddText("ORG", t[kCompanyName]);
  }
  card.AddText("TITLE", t[kJobTitle]);
  AddGroup(card, "EMAIL", {"INTERNET"}, {t[kEmail1Address], t[kEmail2Address], t[kEmail3Address]});
  AddGroup(card, "TEL", {"CELL"}, {t[kMobileTelephoneNumber]});
  AddGroup(card, "TEL", {"HOME", "VOICE"}, {t[kHomeTelephoneNumber], t[kHome2TelephoneNumber]});
  AddGroup(card, "TEL", {"WORK", "VOICE"},
           {t[kBusinessTelephoneNumber], t[kBusiness2TelephoneNumber]});
  AddGroup(card, "TEL", {"WORK", "FAX"}, {t[kBusinessFaxNumber]});
  AddGroup(card, "TEL", {"HOME", "FAX"}, {t[kHomeFaxNumber]});
  AddGroup(card, "TEL", {"PAGER"}, {t[kPagerNumber]});
  AddGroup(card, "TEL", {"CAR"}, {t[kCarTelephoneNumber]});
  AddGroup(card, "TEL", {"X-EVOLUTION-RADIO"}, {t[kRadioTelephoneNumber]});
  AddGroup(card, "TEL", {"X-EVOLUTION-ASSISTANT"}, {t[kAssistantTelephoneNumber]});
  const struct {
    const char* type;
    int street;
  } kAddresses[] = {{"HOME", kHomeAddressStreet},
                    {"WORK", kBusinessAddressStreet},
                    {"OTHER", kOtherAddressStreet}};
  for (const auto& address : kAddresses) {
    // Street, city, state, postal code and country are five texts in a row.
    bool any = false;
    for (int i = 0; i < 5; ++i) any = any || !t[address.street + i].empty();
    if (!any) continue;
    EVCardAttribute* attribute =
        card.Add("ADR", {"", "", card.Text(t[address.street]), card.Text(t[address.street + 1]),
                         card.Text(t[address.street + 2]), card.Text(t[address.street + 3]),
                         card.Text(t[address.street + 4])});
    AddParameter(attribute, "TYPE", {address.type});
  }
  card.AddText("URL", t[kWebPage]);
  if (!t[kCategories].empty()) {
    EVCardAttribute* categories = card.Add("CATEGORIES", {});
    std::string all = card.Text(t[kCategories]);
    for (size_t start = 0;;) {
      size_t comma = all.find(',', start);
      e_vcard_attribute_add_value(categories, all.substr(start, comma - start).c_str());
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  card.AddText("NOTE", t[kBody]);
  AddDate(card, "BDAY", c.birthday, losses);
  AddDate(card, "X-EVOLUTION-ANNIVERSARY", c.anniversary, losses);
  AddDate(card, "X-ANNIVERSARY", c.anniversary, nullptr);  // khard's name
  card.AddText("X-EVOLUTION-SPOUSE", t[kSpouse]);
  card.AddText("X-CHILDREN", t[kChildren]);
  card.AddText("X-EVOLUTION-ASSISTANT", t[kAssistantName]);
}

}  // namespace

std::string CardFromContact(const ContactValues& c, Losses* losses) {
  CardBuilder card(losses);
  card.Add("PRODID", {kProdId});
  if (!c.uid.empty()) card.Add("UID", {c.uid});
  AddName(card, c);
  card.Add("FN", {card.Text(ComposedName(c))});
  AddBody(card, c, losses);
  return card.Finish();
}

// ---- reading ----------------------------------------------------------------------------

namespace {

enum TypeBit : unsigned {
  kHome = 1 << 0,
  kWork = 1 << 1,
  kCell = 1 << 2,
  kFax = 1 << 3,
  kPager = 1 << 4,
  kCar = 1 << 5,
  kRadio = 1 << 6,
  kAssistant = 1 << 7,
  kSpouseType = 1 << 8,
  kChild = 1 << 9,
  kOtherType = 1 << 10,
  kPref = 1 << 11,
  kPlain = 1 << 12,  // a word that says nothing the store keeps otherwise
};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool IsOneOf(std::string_view name, std::initializer_list<const char*> names) {
  for (const char* candidate : names) {
    if (SameName(name, candidate)) return true;
  }
  return false;
}

unsigned TypeOf(std::string_view word) {
  static const struct {
    const char* name;
    unsigned bit;
  } kTypes[] = {{"HOME", kHome},
                {"WORK", kWork},
                {"CELL", kCell},
                {"MOBILE", kCell},
                {"FAX", kFax},
                {"PAGER", kPager},
                {"CAR", kCar},
                {"X-EVOLUTION-RADIO", kRadio},
                {"RADIO", kRadio},
                {"X-EVOLUTION-ASSISTANT", kAssistant},
                {"ASSISTANT", kAssistant},
                {"SPOUSE", kSpouseType},
                {"CHILD", kChild},
                {"OTHER", kOtherType},
                {"PREF", kPref},
                {"VOICE", kPlain},
                {"INTERNET", kPlain},
                {"X-INTERNET", kPlain}};
  for (const auto& type : kTypes) {
    if (SameName(word, type.name)) return type.bit;
  }
  return 0;
}

std::string Upper(std::string_view name) {
  std::string text(name);
  for (char& c : text) c = g_ascii_toupper(c);
  return text;
}

// One line of a card as written: [group.]NAME;PARAMETERS:VALUE.
struct Property {
  std::string_view name;   // without its group
  std::string_view head;   // what comes before the ':'
  std::string_view value;  // as written
  unsigned types = 0;
  std::string other;  // the first TYPE word of no known kind, upper case
  std::string said;   // the first TYPE word that names a kind, known or not
  int slot = 0;
  bool quoted = false, base64 = false, uri = false, text = false;
  std::string charset;
};

// Every ";NAME=VALUE,VALUE" (or vCard 2.1's bare ";VALUE") of `parameters` (which starts
// at a ';'), quotes honoured.
void ReadParameters(std::string_view parameters, Property* p) {
  for (size_t at = 0; at < parameters.size();) {
    size_t end = at + 1;
    for (bool quoted = false; end < parameters.size() && (quoted || parameters[end] != ';');
         ++end) {
      if (parameters[end] == '"') quoted = !quoted;
    }
    std::string_view one = parameters.substr(at + 1, end - at - 1);
    at = end;
    const size_t equals = one.find('=');
    std::string_view name = equals == std::string_view::npos ? "TYPE" : one.substr(0, equals);
    std::string_view values = equals == std::string_view::npos ? one : one.substr(equals + 1);
    for (size_t start = 0; start <= values.size();) {
      size_t comma = start;
      for (bool quoted = false; comma < values.size() && (quoted || values[comma] != ',');
           ++comma) {
        if (values[comma] == '"') quoted = !quoted;
      }
      std::string_view word = values.substr(start, comma - start);
      start = comma + 1;
      if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
        word = word.substr(1, word.size() - 2);
      }
      if (SameName(word, "QUOTED-PRINTABLE")) {
        p->quoted = true;
      } else if (SameName(word, "BASE64") || (SameName(name, "ENCODING") && SameName(word, "B"))) {
        p->base64 = true;
      } else if (SameName(name, "TYPE")) {
        // TYPE="voice,cell" holds its commas inside the quotes.
        for (size_t from = 0; from <= word.size();) {
          size_t next = word.find(',', from);
          if (next == std::string_view::npos) next = word.size();
          std::string_view type = word.substr(from, next - from);
          from = next + 1;
          const unsigned bit = TypeOf(type);
          if (bit == 0 && !type.empty() && p->other.empty()) p->other = Upper(type);
          if ((bit & ~(kPlain | kPref)) != 0 || (bit == 0 && !type.empty())) {
            if (p->said.empty()) p->said = Upper(type);
          }
          p->types |= bit;
        }
      } else if (SameName(name, "PREF")) {
        p->types |= kPref;
      } else if (SameName(name, "CHARSET")) {
        p->charset = word;
      } else if (SameName(name, "VALUE")) {
        p->uri = p->uri || SameName(word, "uri") || SameName(word, "url");
        p->text = p->text || SameName(word, "text");
      } else if (SameName(name, kSlotParameter)) {
        p->slot = std::atoi(std::string(word).c_str());
      }
    }
  }
}

// False for a line that is no property (the reader has checked that every line is one).
bool ReadProperty(std::string_view line, Property* p) {
  size_t at = 0, nameStart = 0;
  while (at < line.size() && line[at] != ';' && line[at] != ':') {
    if (line[at] == '.') nameStart = at + 1;
    ++at;
  }
  if (at == line.size()) return false;
  p->name = line.substr(nameStart, at - nameStart);
  size_t colon = at;
  for (bool quoted = false; colon < line.size() && (quoted || line[colon] != ':'); ++colon) {
    if (line[colon] == '"') quoted = !quoted;
  }
  if (colon == line.size()) return false;
  ReadParameters(line.substr(at, colon - at), p);
  p->head = line.substr(0, colon);
  p->value = line.substr(colon + 1);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value as UTF-8: quoted-printable decoded, converted from its CHARSET; bytes that are
// still not UTF-8 become U+FFFD (*unknown is set then).
std::string Decoded(const Property& p, bool* unknown) {
  std::string bytes;
  if (p.quoted) {
    bytes.reserve(p.value.size());
    for (size_t i = 0; i < p.value.size(); ++i) {
      int high, low;
      if (p.value[i] == '=' && i + 2 < p.value.size() &&
          (high = HexDigit(p.value[i + 1])) >= 0 && (low = HexDigit(p.value[i + 2])) >= 0) {
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
      } else {
        bytes += p.value[i];
      }
    }
    if (!p.charset.empty() && !SameName(p.charset, "UTF-8")) {
      gsize written = 0;
      gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                   p.charset.c_str(), nullptr, &written, nullptr);
      if (converted != nullptr) bytes.assign(converted, written);
      g_free(converted);
    }
  } else {
    bytes.assign(p.value);
  }
  if (!g_utf8_validate_len(bytes.data(), bytes.size(), nullptr)) {
    gchar* made = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    bytes = made;
    g_free(made);
    *unknown = true;
  }
  return bytes;
}

// The parts of a decoded value split at `separator` (none: 0) outside escapes, each
// unescaped: \n and \N a line break, \, \; \\ the character. At most `limit` parts;
// *more tells whether the value had more.
std::vector<std::string> Parts(std::string_view value, char separator, size_t limit = 1,
                               bool* more = nullptr) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      if (next == 'n' || next == 'N') {
        parts.back() += '\n';
      } else if (next == ',' || next == ';' || next == '\\') {
        parts.back() += next;
      } else {
        parts.back() += c;
        parts.back() += next;
      }
    } else if (separator != 0 && c == separator) {
      if (parts.size() == limit) {
        if (more != nullptr) *more = true;
        break;
      }
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::string Unescaped(std::string_view value) {
  return std::move(Parts(value, 0)[0]);
}

// Text for a value: \ ; , and line breaks escaped.
std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\\' || c == ';' || c == ',') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

constexpr int kBirthdayPlace = kContactTextCount, kAnniversaryPlace = kContactTextCount + 1,
              kPlaces = kContactTextCount + 2;

// Where a card's values came from, for an export that changes only what differs: for
// each place (the texts, then the two dates) the line and the part of its value (-1: the
// whole value); `joined` lists the other parts and lines that went into a place (a post
// office box into the street, a second NOTE into the body), `same` the other lines that
// hold the same date.
struct CardMap {
  struct Source {
    int line = -1, part = -1;
  };
  struct Extra {
    int place, line, part;
  };
  Source at[kPlaces];
  std::vector<Extra> joined, same;
  int n = -1, fn = -1;
  std::vector<std::string_view> lines;
  std::vector<Property> properties;  // by line; a line that is no property has no name
};

// A telephone of no kind the store has, placed after the typed ones.
struct Untyped {
  std::string value;
  int line;
  std::string label;  // "TEL without a type", "TEL;TYPE=ISDN"
};

class Mapper {
 public:
  Mapper(ContactValues* c, Losses* losses, CardMap* map) : c_(c), losses_(losses), map_(map) {}

  void Source(int place, int line, int part) {
    if (map_ != nullptr) map_->at[place] = {line, part};
  }
  void Joined(int place, int line, int part) {
    if (map_ != nullptr) map_->joined.push_back({place, line, part});
  }

  // Fills the first free of `places` (the `slot`th, 1-based, when it is free); -1 when
  // none is left.
  int Place(std::initializer_list<int> places, int slot, std::string_view value, int line) {
    int free = -1, index = 0;
    for (int place : places) {
      ++index;
      if (!c_->texts[place].empty()) continue;
      if (index == slot) {
        free = place;
        break;
      }
      if (free < 0) free = place;
    }
    if (free < 0) return -1;
    c_->texts[free] = StoreText(value);
    Source(free, line, -1);
    return free;
  }

  // A one-valued text: the first is kept; another one is noted as lost.
  void Single(int place, const std::string& text, int line, const char* lost) {
    if (text.empty()) return;
    if (!c_->texts[place].empty()) {
      losses_->Note(lost);
      return;
    }
    c_->texts[place] = StoreText(text);
    Source(place, line, -1);
  }

  void Append(int place, std::string_view text, std::u16string_view separator, int line) {
    if (text.empty()) return;
    if (!c_->texts[place].empty()) {
      c_->texts[place] += separator;
      Joined(place, line, -1);
    } else {
      Source(place, line, -1);
    }
    c_->texts[place] += StoreText(text);
  }

  void Date(int place, const std::string& text, int line, const char* name) {
    DATE* into = place == kBirthdayPlace ? &c_->birthday : &c_->anniversary;
    const char* why = nullptr;
    DATE value = 0;
    if (!ParseDate(text, &value, &why)) {
      losses_->Note(std::string(name) + " " + why);
    } else if (*into == handheld::kNoDate) {
      *into = value;
      Source(place, line, -1);
    } else if (*into != value) {  // the same date under two names is one
      losses_->Note(std::string(name) + " beyond the first");
    } else if (map_ != nullptr) {
      map_->same.push_back({place, line, -1});
    }
  }

  ContactValues* c_;
  Losses* losses_;
  CardMap* map_;
};

const char* PlaceWords(int place) {
  switch (place) {
    case kHomeTelephoneNumber:
    case kHome2TelephoneNumber:
      return "a home number";
    case kBusinessTelephoneNumber:
    case kBusiness2TelephoneNumber:
      return "a work number";
    case kMobileTelephoneNumber:
      return "a mobile number";
    case kCarTelephoneNumber:
      return "a car number";
    case kRadioTelephoneNumber:
      return "a radio number";
    case kPagerNumber:
      return "a pager number";
    case kHomeAddressStreet:
      return "the home address";
    case kBusinessAddressStreet:
      return "the work address";
    case kOtherAddressStreet:
      return "the other address";
    default:
      return "the assistant's number";
  }
}

// A link rather than a name (vCard 4.0's RELATED says urn:uuid:..., a URL, ...).
bool IsLink(const Property& p, std::string_view value) {
  if (p.text) return false;
  if (p.uri) return true;
  for (const char* scheme : {"urn:", "http:", "https:", "mailto:", "tel:", "uuid:", "cid:"}) {
    if (value.size() >= std::strlen(scheme) &&
        g_ascii_strncasecmp(value.data(), scheme, std::strlen(scheme)) == 0) {
      return true;
    }
  }
  return false;
}

CardKind MapCard(const Card& card, ContactValues* c, Losses* losses, CardMap* map) {
  *c = ContactValues{};
  CardMap local;
  CardMap& m = map != nullptr ? *map : local;
  Mapper mapper(c, losses, map);
  bool unknown = card.notUtf8;
  // The lines, and what each holds.
  std::string_view text = card.text;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    m.lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  m.properties.resize(m.lines.size());
  bool group = false;
  for (size_t i = 0; i < m.lines.size(); ++i) {
    ReadProperty(m.lines[i], &m.properties[i]);
    const Property& p = m.properties[i];
    if (IsOneOf(p.name, {"KIND", "X-ADDRESSBOOKSERVER-KIND"}) && SameName(p.value, "group")) {
      group = true;
    }
    if (SameName(p.name, "X-EVOLUTION-LIST") && SameName(p.value, "TRUE")) group = true;
  }
  if (group) {
    if (unknown) losses->Note("text in an unknown character set (replaced by U+FFFD)");
    losses->Note("group card");
    return CardKind::kGroup;
  }
  bool hasName = false, agent = false;
  std::string fullName;
  std::vector<Untyped> untyped;
  int depth = 0, org = -1;
  for (size_t i = 0; i < m.lines.size(); ++i) {
    const Property& p = m.properties[i];
    const std::string_view name = p.name;
    const int line = static_cast<int>(i);
    // A nested card (vCard 2.1's AGENT) is a card of its own, never part of this one.
    if (SameName(name, "BEGIN")) {
      if (++depth > 1) agent = true;
      continue;
    }
    if (SameName(name, "END")) {
      --depth;
      continue;
    }
    if (depth > 1 || name.empty()) continue;
    if (IsOneOf(name, {"VERSION", "PRODID", "REV"})) continue;
    if (p.base64) {
      losses->Note(Upper(name));
      continue;
    }
    const std::string value = Decoded(p, &unknown);
    if (SameName(name, "UID")) {
      if (c->uid.empty()) c->uid = Unescaped(value);
    } else if (SameName(name, "N")) {
      bool more = false;
      std::vector<std::string> parts = Parts(value, ';', 5, &more);
      if (more) losses->Note("N parts beyond the fifth");
      const int kParts[] = {kLastName, kFirstName, kMiddleName, kTitle, kSuffix};
      if (m.n < 0) {
        m.n = line;
        for (size_t k = 0; k < 5; ++k) {
          if (k < parts.size()) c->texts[kParts[k]] = StoreText(parts[k]);
          hasName = hasName || (k < parts.size() && !parts[k].empty());
        }
      } else {
        losses->Note("N beyond the first");
      }
    } else if (SameName(name, "FN")) {
      if (m.fn < 0) {
        m.fn = line;
        fullName = Unescaped(value);
      }
    } else if (SameName(name, "ORG")) {
      bool more = false;
      std::vector<std::string> parts = Parts(value, ';', 4, &more);
      if (more) losses->Note("ORG units beyond the second");
      const int kParts[] = {kCompanyName, kDepartment, kOfficeLocation};
      const bool first = org < 0;
      if (first) org = line;
      for (size_t k = 0; k < parts.size() || (first && k < 3); ++k) {
        if (k >= 3) {
          if (!parts[k].empty()) losses->Note("ORG units beyond the second");
        } else if (first) {
          if (k < parts.size()) c->texts[kParts[k]] = StoreText(parts[k]);
          mapper.Source(kParts[k], line, static_cast<int>(k));
        } else if (k < parts.size() && !parts[k].empty()) {
          losses->Note("ORG beyond the first");
        }
      }
    } else if (SameName(name, "X-KADDRESSBOOK-X-OFFICE")) {
      mapper.Single(kOfficeLocation, Unescaped(value), line, "X-KADDRESSBOOK-X-OFFICE");
    } else if (SameName(name, "TITLE")) {
      mapper.Single(kJobTitle, Unescaped(value), line, "TITLE beyond the first");
    } else if (SameName(name, "URL")) {
      mapper.Single(kWebPage, Unescaped(value), line, "URL beyond the first");
    } else if (SameName(name, "NOTE")) {
      if (!c->texts[kBody].empty() && !value.empty()) {
        losses->Changed("NOTE beyond the first joined to the first");
      }
      mapper.Append(kBody, Unescaped(value), u"\r\n", line);
    } else if (SameName(name, "CATEGORIES")) {
      mapper.Append(kCategories, Unescaped(value), u",", line);
    } else if (SameName(name, "EMAIL")) {
      const std::string address = Unescaped(value);
      if (address.empty()) continue;
      if (mapper.Place({kEmail1Address, kEmail2Address, kEmail3Address}, p.slot, address,
                       line) < 0) {
        losses->Note("EMAIL beyond the third");
        continue;
      }
      if (!p.said.empty()) losses->Changed("EMAIL;TYPE=" + p.said + " kept without its type");
      if (p.types & kPref) losses->Changed("EMAIL;TYPE=PREF kept without the preference");
    } else if (SameName(name, "TEL")) {
      std::string number = Unescaped(value);
      if (number.size() > 4 && g_ascii_strncasecmp(number.c_str(), "tel:", 4) == 0) {
        number.erase(0, 4);  // vCard 4.0 VALUE=uri
      }
      if (number.empty()) continue;
      const unsigned t = p.types;
      if (t & kPref) losses->Changed("TEL;TYPE=PREF kept without the preference");
      int placed;
      const char* lost;
      if (t & kFax) {
        const bool home = (t & kHome) && !(t & kWork);
        placed = mapper.Place({home ? kHomeFaxNumber : kBusinessFaxNumber}, 0, number, line);
        lost = home ? "TEL;TYPE=HOME,FAX beyond the first" : "TEL;TYPE=FAX beyond the first";
      } else if (t & kCell) {
        placed = mapper.Place({kMobileTelephoneNumber}, 0, number, line);
        lost = "TEL;TYPE=CELL beyond the first";
      } else if (t & kPager) {
        placed = mapper.Place({kPagerNumber}, 0, number, line);
        lost = "TEL;TYPE=PAGER beyond the first";
      } else if (t & kCar) {
        placed = mapper.Place({kCarTelephoneNumber}, 0, number, line);
        lost = "TEL;TYPE=CAR beyond the first";
      } else if (t & kRadio) {
        placed = mapper.Place({kRadioTelephoneNumber}, 0, number, line);
        lost = "TEL;TYPE=X-EVOLUTION-RADIO beyond the first";
      } else if (t & kAssistant) {
        placed = mapper.Place({kAssistantTelephoneNumber}, 0, number, line);
        lost = "TEL;TYPE=X-EVOLUTION-ASSISTANT beyond the first";
      } else if (t & kWork) {
        placed = mapper.Place({kBusinessTelephoneNumber, kBusiness2TelephoneNumber}, p.slot,
                              number, line);
        lost = "TEL;TYPE=WORK beyond the second";
      } else if (t & kHome) {
        placed = mapper.Place({kHomeTelephoneNumber, kHome2TelephoneNumber}, p.slot, number, line);
        lost = "TEL;TYPE=HOME beyond the second";
      } else {
        // No kind the store has: placed once every typed number has its place.
        untyped.push_back({number, line,
                           p.other.empty() ? (t & kPlain) ? "TEL;TYPE=VOICE" : "TEL without a type"
                                           : "TEL;TYPE=" + p.other});
        continue;
      }
      if (placed < 0) {
        losses->Note(lost);
      } else if (!p.other.empty()) {
        losses->Changed("TEL;TYPE=" + p.other + " kept as " + PlaceWords(placed));
      }
    } else if (SameName(name, "ADR")) {
      bool more = false;
      std::vector<std::string> parts = Parts(value, ';', 7, &more);
      if (more) losses->Note("ADR parts beyond the seventh");
      parts.resize(7);
      std::string street = parts[2];
      for (size_t part : {1, 0}) {  // extended address, then post office box
        if (parts[part].empty()) continue;
        if (!street.empty()) street += "\n";
        street += parts[part];
      }
      bool any = !street.empty();
      for (size_t k = 3; k < 7; ++k) any = any || !parts[k].empty();
      if (!any) continue;
      const unsigned t = p.types;
      static const int kHomeOnly[] = {kHomeAddressStreet}, kWorkOnly[] = {kBusinessAddressStreet},
                       kAnyFree[] = {kOtherAddressStreet, kHomeAddressStreet,
                                     kBusinessAddressStreet};
      std::span<const int> order = (t & kHome)   ? std::span<const int>(kHomeOnly)
                                   : (t & kWork) ? std::span<const int>(kWorkOnly)
                                                 : std::span<const int>(kAnyFree);
      int chosen = -1;
      for (int street0 : order) {
        bool taken = false;
        for (int k = 0; k < 5; ++k) taken = taken || !c->texts[street0 + k].empty();
        if (!taken) {
          chosen = street0;
          break;
        }
      }
      if (chosen < 0) {
        losses->Note((t & kHome)   ? "ADR;TYPE=HOME beyond the first"
                     : (t & kWork) ? "ADR;TYPE=WORK beyond the first"
                                   : "ADR beyond the third");
        continue;
      }
      c->texts[chosen] = StoreText(street);
      mapper.Source(chosen, line, 2);
      for (int k = 1; k < 5; ++k) {
        c->texts[chosen + k] = StoreText(parts[2 + static_cast<size_t>(k)]);
        mapper.Source(chosen + k, line, 2 + k);
      }
      for (int part : {1, 0}) {
        if (parts[static_cast<size_t>(part)].empty()) continue;
        mapper.Joined(chosen, line, part);
        losses->Changed("ADR's post office box and extended address joined to the street");
      }
      if (t & kPref) losses->Changed("ADR;TYPE=PREF kept without the preference");
      if (!(t & (kHome | kWork | kOtherType)) || !p.other.empty()) {
        losses->Changed((p.other.empty() ? std::string("ADR without a type")
                                         : "ADR;TYPE=" + p.other) +
                        " kept as " + PlaceWords(chosen));
      }
    } else if (SameName(name, "BDAY")) {
      mapper.Date(kBirthdayPlace, Unescaped(value), line, "BDAY");
    } else if (IsOneOf(name, {"X-EVOLUTION-ANNIVERSARY", "ANNIVERSARY", "X-ANNIVERSARY",
                              "X-MS-ANNIVERSARY"})) {
      mapper.Date(kAnniversaryPlace, Unescaped(value), line, "ANNIVERSARY");
    } else if (SameName(name, "RELATED") && IsLink(p, value)) {
      // Who the link leads to is another card: no name to keep.
      losses->Note("RELATED that is a link, not a name");
    } else if (IsOneOf(name, {"X-EVOLUTION-SPOUSE", "X-SPOUSE", "X-MS-SPOUSE",
                              "X-KADDRESSBOOK-X-SPOUSESNAME"}) ||
               (SameName(name, "RELATED") && (p.types & kSpouseType))) {
      mapper.Single(kSpouse, Unescaped(value), line, "a second spouse");
    } else if (IsOneOf(name, {"X-CHILDREN", "X-MS-CHILD"}) ||
               (SameName(name, "RELATED") && (p.types & kChild))) {
      mapper.Append(kChildren, Unescaped(value), u", ", line);
    } else if (IsOneOf(name, {"X-EVOLUTION-ASSISTANT", "X-ASSISTANT", "X-MS-ASSISTANT",
                              "X-KADDRESSBOOK-X-ASSISTANTSNAME"})) {
      mapper.Single(kAssistantName, Unescaped(value), line, "a second assistant");
    } else if (SameName(name, "KIND")) {
      // individual, org, location: a contact all the same
    } else if (SameName(name, "AGENT")) {
      agent = true;
    } else {
      losses->Note(Upper(name));
    }
  }
  // Telephones of no kind the store has: the first free place that no typed number took.
  for (const Untyped& number : untyped) {
    const int placed =
        mapper.Place({kHomeTelephoneNumber, kHome2TelephoneNumber, kBusinessTelephoneNumber,
                      kBusiness2TelephoneNumber, kMobileTelephoneNumber, kCarTelephoneNumber,
                      kRadioTelephoneNumber, kPagerNumber, kAssistantTelephoneNumber},
                     0, number.value, number.line);
    if (placed < 0) {
      losses->Note(number.label + " with every telephone place taken");
    } else {
      losses->Changed(number.label + " kept as " + PlaceWords(placed));
    }
  }
  if (agent) losses->Note("AGENT");
  if (unknown) losses->Note("text in an unknown character set (replaced by U+FFFD)");
  if (!fullName.empty() && StoreText(fullName) != ComposedName(*c)) {
    if (!hasName) {
      c->texts[kFirstName] = StoreText(fullName);
    } else {
      losses->Changed("FN (the store composes it from N)");
    }
  }
  return CardKind::kContact;
}


// The head of a line without the parameters of a quoted-printable value (its new value
// is plain UTF-8).
std::string PlainHead(const Property& p) {
  if (!p.quoted) return std::string(p.head);
  std::string head;
  std::string_view rest = p.head;
  for (size_t at = 0, end; at <= rest.size(); at = end + 1) {
    end = at;
    for (bool quoted = false; end < rest.size() && (quoted || rest[end] != ';'); ++end) {
      if (rest[end] == '"') quoted = !quoted;
    }
    std::string_view one = rest.substr(at, end - at);
    if (at != 0 && (SameName(one, "QUOTED-PRINTABLE") ||
                    SameName(one, "ENCODING=QUOTED-PRINTABLE") ||
                    (one.size() > 8 && SameName(one.substr(0, 8), "CHARSET=")))) {
      continue;
    }
    if (at != 0) head += ';';
    head.append(one);
  }
  return head;
}

}  // namespace

bool MergeCard(const Card& card, const ContactValues& s, std::string* merged) {
  ContactValues f;
  CardMap m;
  Losses scratch("card", "cards");
  if (MapCard(card, &f, &scratch, &m) == CardKind::kGroup || m.lines.size() != card.spans.size() ||
      m.lines.empty()) {
    return false;
  }
  const size_t count = m.lines.size();
  std::vector<std::vector<std::string>> parts(count);
  std::vector<char> edited(count, 0), removed(count, 0);
  auto partsOf = [&](int line) -> std::vector<std::string>& {
    if (!edited[static_cast<size_t>(line)]) {
      const Property& p = m.properties[static_cast<size_t>(line)];
      bool unknown = false;
      edited[static_cast<size_t>(line)] = 1;
      parts[static_cast<size_t>(line)] =
          Parts(Decoded(p, &unknown), IsOneOf(p.name, {"N", "ORG", "ADR"}) ? ';' : 0, 7);
    }
    return parts[static_cast<size_t>(line)];
  };
  auto set = [&](int line, int part, std::string value) {
    std::vector<std::string>& list = partsOf(line);
    const size_t at = part < 0 ? 0 : static_cast<size_t>(part);
    if (list.size() <= at) list.resize(at + 1);
    // A vCard 4.0 telephone keeps its tel: form.
    if (part < 0 && SameName(m.properties[static_cast<size_t>(line)].name, "TEL") &&
        g_ascii_strncasecmp(list[0].c_str(), "tel:", 4) == 0 && !value.empty()) {
      value.insert(0, "tel:");
    }
    list[at] = std::move(value);
  };
  CardBuilder added(nullptr);
  bool changed = false;

  // The name's parts go together into N; FN changes only when what the store composes
  // from them does.
  const int kNameParts[] = {kLastName, kFirstName, kMiddleName, kTitle, kSuffix};
  bool names = false;
  for (int place : kNameParts) names = names || s.texts[place] != f.texts[place];
  if (names) {
    changed = true;
    if (m.n < 0) {
      AddName(added, s);
    } else {
      for (int k = 0; k < 5; ++k) set(m.n, k, VCardText(s.texts[kNameParts[k]], nullptr));
    }
  }
  const std::u16string composed = ComposedName(s);
  if (composed != ComposedName(f)) {
    changed = true;
    if (m.fn < 0) {
      added.Add("FN", {VCardText(composed, nullptr)});
    } else {
      set(m.fn, -1, VCardText(composed, nullptr));
    }
  }
  ContactValues extra;
  bool anyExtra = false;
  for (int place = 0; place < kPlaces; ++place) {
    if (std::find(std::begin(kNameParts), std::end(kNameParts), place) != std::end(kNameParts)) {
      continue;
    }
    const bool date = place >= kContactTextCount;
    const DATE* storeDate = place == kBirthdayPlace ? &s.birthday : &s.anniversary;
    const DATE* fileDate = place == kBirthdayPlace ? &f.birthday : &f.anniversary;
    if (date ? *storeDate == *fileDate : s.texts[place] == f.texts[place]) continue;
    changed = true;
    const CardMap::Source source = m.at[place];
    if (source.line < 0) {
      anyExtra = true;
      if (date) {
        (place == kBirthdayPlace ? extra.birthday : extra.anniversary) = *storeDate;
      } else {
        extra.texts[place] = s.texts[place];
      }
      continue;
    }
    std::string value;
    if (date) {
      if (*storeDate != handheld::kNoDate && !VCardDate(*storeDate, &value, nullptr)) value.clear();
    } else {
      value = VCardText(s.texts[place], nullptr);
    }
    set(source.line, source.part, value);
    for (const CardMap::Extra& other : m.joined) {
      if (other.place == place) set(other.line, other.part, "");
    }
    for (const CardMap::Extra& other : m.same) {
      if (other.place == place) set(other.line, other.part, value);
    }
  }
  if (!changed) return false;
  if (anyExtra) AddBody(added, extra, nullptr);

  // The card again: each line as it was, changed or left out, what was added before END.
  const Card::Span last = card.spans.back();
  const std::string_view eol =
      std::string_view(card.raw).substr(last.begin, last.end - last.begin).ends_with("\r\n")
          ? "\r\n"
          : "\n";
  std::string additions;
  {
    const std::string made = added.Finish();
    // Only the properties: BEGIN, VERSION and END are the card's own.
    for (size_t at = 0; at < made.size();) {
      size_t end = made.find("\r\n", at);
      if (end == std::string::npos) end = made.size();
      std::string_view line(made.data() + at, end - at);
      at = end + 2;
      if (line == "BEGIN:VCARD" || line == "VERSION:3.0" || line == "END:VCARD") continue;
      additions.append(line);
      additions.append(eol);
    }
  }
  merged->clear();
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    const Card::Span span = card.spans[i];
    merged->append(card.raw, at, span.begin - at);
    at = span.end;
    if (i + 1 == count) merged->append(additions);
    if (!edited[i]) {
      merged->append(card.raw, span.begin, span.end - span.begin);
      continue;
    }
    const Property& p = m.properties[i];
    bool empty = true;
    for (const std::string& part : parts[i]) empty = empty && part.empty();
    if (empty && static_cast<int>(i) != m.n && static_cast<int>(i) != m.fn) continue;
    std::string line = PlainHead(p) + ":";
    if (SameName(p.name, "CATEGORIES")) {
      std::vector<std::string> each = Parts(parts[i][0], ',', SIZE_MAX);
      for (size_t k = 0; k < each.size(); ++k) line += (k == 0 ? "" : ",") + Escaped(each[k]);
    } else {
      for (size_t k = 0; k < parts[i].size(); ++k) line += (k == 0 ? "" : ";") + Escaped(parts[i][k]);
    }
    Fold(line, eol, merged);
  }
  merged->append(card.raw, at, std::string::npos);
  return true;
}

CardKind ContactFromCard(const Card& card, ContactValues* c, Losses* losses) {
  return MapCard(card, c, losses, nullptr);
}

}  // namespace interop
