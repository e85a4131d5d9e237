// The mapping between the store's contact and a vCard, as built:
//
// clang-format off
// | Store property                   | vCard 3.0 written              | also read
// |----------------------------------|--------------------------------|----------------------------
// | LastName, FirstName, MiddleName, | N (family; given; additional;  | FN as FirstName when N is
// | Title, Suffix                    | prefix; suffix), FN composed   | missing or empty
// | Email1Address .. Email3Address   | EMAIL;TYPE=INTERNET            | every EMAIL, in order
// | MobileTelephoneNumber            | TEL;TYPE=CELL                  | MOBILE
// | HomeTelephoneNumber, Home2...    | TEL;TYPE=HOME,VOICE            | TEL without a kind
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
// that has no free place left is not kept.
#include "interop/vcardcontact.h"

#include <glib.h>
#include <libebook-contacts/libebook-contacts.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  // The library folds at 75 characters; a line must not pass 75 octets. Its lines are
  // unfolded and folded again, never inside a character.
  static std::string Refolded(std::string_view text) {
    std::string out, line;
    out.reserve(text.size() + text.size() / 32 + 16);
    auto emit = [&out](std::string_view logical) {
      size_t limit = 75;
      while (logical.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(logical[cut]) & 0xC0) == 0x80) --cut;
        out.append(logical.substr(0, cut));
        out += "\r\n ";
        logical.remove_prefix(cut);
        limit = 74;
      }
      out.append(logical);
      out += "\r\n";
    };
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view piece = text.substr(start, end - start);
      if (!first && !piece.empty() && piece.front() == ' ') {
        line.append(piece.substr(1));
      } else {
        if (!first) emit(line);
        line.assign(piece);
        first = false;
      }
      start = end + 2;
    }
    if (!first) emit(line);
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

std::string CardFromContact(const ContactValues& c, Losses* losses) {
  CardBuilder card(losses);
  const auto& t = c.texts;
  card.Add("PRODID", {kProdId});
  if (!c.uid.empty()) card.Add("UID", {c.uid});
  card.Add("N", {card.Text(t[kLastName]), card.Text(t[kFirstName]), card.Text(t[kMiddleName]),
                 card.Text(t[kTitle]), card.Text(t[kSuffix])});
  card.Add("FN", {card.Text(ComposedName(c))});
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
};

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
                {"OTHER", kOtherType}};
  for (const auto& type : kTypes) {
    if (word.size() == std::strlen(type.name) &&
        g_ascii_strncasecmp(word.data(), type.name, word.size()) == 0) {
      return type.bit;
    }
  }
  return 0;
}

bool SameName(const char* a, const char* b) {
  return g_ascii_strcasecmp(a, b) == 0;
}

// The TYPE words of an attribute (vCard 2.1 bare parameters arrive as TYPE), and its
// X-QUILLMOTE-SLOT (0 when none).
void Parameters(EVCardAttribute* attribute, unsigned* types, int* slot) {
  *types = 0;
  *slot = 0;
  for (GList* p = e_vcard_attribute_get_params(attribute); p != nullptr; p = p->next) {
    auto* parameter = static_cast<EVCardAttributeParam*>(p->data);
    const char* name = e_vcard_attribute_param_get_name(parameter);
    bool isType = SameName(name, "TYPE");
    bool isSlot = SameName(name, kSlotParameter);
    if (!isType && !isSlot) continue;
    for (GList* v = e_vcard_attribute_param_get_values(parameter); v != nullptr; v = v->next) {
      std::string_view value = static_cast<const char*>(v->data);
      if (isSlot) {
        *slot = std::atoi(std::string(value).c_str());
        continue;
      }
      for (size_t start = 0; start <= value.size();) {
        size_t comma = value.find(',', start);
        if (comma == std::string_view::npos) comma = value.size();
        *types |= TypeOf(value.substr(start, comma - start));
        start = comma + 1;
      }
    }
  }
}

// The values of an attribute joined again by `separator` (the library splits every value
// at ';', and CATEGORIES also at ',').
std::string Joined(EVCardAttribute* attribute, const char* separator) {
  std::string text;
  bool first = true;
  for (GList* v = e_vcard_attribute_get_values(attribute); v != nullptr; v = v->next) {
    if (!first) text += separator;
    text += static_cast<const char*>(v->data);
    first = false;
  }
  return text;
}

std::vector<std::string_view> Values(EVCardAttribute* attribute) {
  std::vector<std::string_view> values;
  for (GList* v = e_vcard_attribute_get_values(attribute); v != nullptr; v = v->next) {
    values.emplace_back(static_cast<const char*>(v->data));
  }
  return values;
}

std::string Upper(const char* name) {
  gchar* upper = g_ascii_strup(name, -1);
  std::string text = upper;
  g_free(upper);
  return text;
}

// Fills the places of a group in the card's order: `slot` (1-based) when it is given and
// free, else the first free place. False when none is left.
bool Place(ContactValues* c, std::initializer_list<int> places, int slot, std::string_view value) {
  int free = -1, index = 0;
  for (int place : places) {
    ++index;
    if (!c->texts[place].empty()) continue;
    if (index == slot) {
      free = place;
      break;
    }
    if (free < 0) free = place;
  }
  if (free < 0) return false;
  c->texts[free] = StoreText(value);
  return true;
}

// A one-valued text: the first is kept; another one is noted as lost.
void Single(ContactValues* c, int place, EVCardAttribute* attribute, Losses* losses,
            const char* lost) {
  std::string text = Joined(attribute, ";");
  if (text.empty()) return;
  if (!c->texts[place].empty()) {
    losses->Note(lost);
    return;
  }
  c->texts[place] = StoreText(text);
}

void Append(ContactValues* c, int place, std::string_view text, std::u16string_view separator) {
  if (text.empty()) return;
  if (!c->texts[place].empty()) c->texts[place] += separator;
  c->texts[place] += StoreText(text);
}

void ReadDate(DATE* into, EVCardAttribute* attribute, const char* name, Losses* losses) {
  std::string text = Joined(attribute, ";");
  const char* why = nullptr;
  DATE value = 0;
  if (!ParseDate(text, &value, &why)) {
    losses->Note(std::string(name) + " " + why);
  } else if (*into == handheld::kNoDate) {
    *into = value;
  } else if (*into != value) {  // the same date under two names is one
    losses->Note(std::string(name) + " beyond the first");
  }
}

bool IsOneOf(const char* name, std::initializer_list<const char*> names) {
  for (const char* candidate : names) {
    if (SameName(name, candidate)) return true;
  }
  return false;
}

// A group (a list of other cards) as vCard 4.0, Apple and Evolution mark it.
bool IsGroup(EVCard* card) {
  for (GList* a = e_vcard_get_attributes(card); a != nullptr; a = a->next) {
    auto* attribute = static_cast<EVCardAttribute*>(a->data);
    const char* name = e_vcard_attribute_get_name(attribute);
    if (IsOneOf(name, {"KIND", "X-ADDRESSBOOKSERVER-KIND"}) &&
        g_ascii_strcasecmp(Joined(attribute, ";").c_str(), "group") == 0) {
      return true;
    }
    if (SameName(name, "X-EVOLUTION-LIST") &&
        g_ascii_strcasecmp(Joined(attribute, ";").c_str(), "TRUE") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

CardKind ContactFromCard(const Card& card, ContactValues* c, Losses* losses) {
  static const bool quiet = (QuietVCardLibrary(), true);
  (void)quiet;
  *c = ContactValues{};
  EVCard* parsed = e_vcard_new_from_string(card.text.c_str());
  if (card.notUtf8) losses->Note("text in an unknown character set (replaced by U+FFFD)");
  if (IsGroup(parsed)) {
    g_object_unref(parsed);
    losses->Note("group card");
    return CardKind::kGroup;
  }
  bool hasName = false;
  std::string fullName;
  for (GList* a = e_vcard_get_attributes(parsed); a != nullptr; a = a->next) {
    auto* attribute = static_cast<EVCardAttribute*>(a->data);
    const char* name = e_vcard_attribute_get_name(attribute);
    unsigned types = 0;
    int slot = 0;
    Parameters(attribute, &types, &slot);
    if (IsOneOf(name, {"BEGIN", "END", "VERSION", "PRODID", "REV"})) continue;
    if (SameName(name, "UID")) {
      if (c->uid.empty()) c->uid = Joined(attribute, ";");
    } else if (SameName(name, "N")) {
      std::vector<std::string_view> parts = Values(attribute);
      const int kParts[] = {kLastName, kFirstName, kMiddleName, kTitle, kSuffix};
      for (size_t i = 0; i < parts.size() && i < 5; ++i) {
        c->texts[kParts[i]] = StoreText(parts[i]);
        hasName = hasName || !parts[i].empty();
      }
    } else if (SameName(name, "FN")) {
      if (fullName.empty()) fullName = Joined(attribute, ";");
    } else if (SameName(name, "ORG")) {
      std::vector<std::string_view> parts = Values(attribute);
      const int kParts[] = {kCompanyName, kDepartment, kOfficeLocation};
      for (size_t i = 0; i < parts.size(); ++i) {
        if (i >= 3) {
          if (!parts[i].empty()) losses->Note("ORG units beyond the second");
        } else if (!parts[i].empty()) {
          if (!c->texts[kParts[i]].empty())
            losses->Note("ORG beyond the first");
          else
            c->texts[kParts[i]] = StoreText(parts[i]);
        }
      }
    } else if (SameName(name, "X-KADDRESSBOOK-X-OFFICE")) {
      Single(c, kOfficeLocation, attribute, losses, "X-KADDRESSBOOK-X-OFFICE");
    } else if (SameName(name, "TITLE")) {
      Single(c, kJobTitle, attribute, losses, "TITLE beyond the first");
    } else if (SameName(name, "URL")) {
      Single(c, kWebPage, attribute, losses, "URL beyond the first");
    } else if (SameName(name, "NOTE")) {
      Append(c, kBody, Joined(attribute, ";"), u"\r\n");
    } else if (SameName(name, "CATEGORIES")) {
      Append(c, kCategories, Joined(attribute, ","), u",");
    } else if (SameName(name, "EMAIL")) {
      std::string value = Joined(attribute, ";");
      if (!value.empty() &&
          !Place(c, {kEmail1Address, kEmail2Address, kEmail3Address}, slot, value)) {
        losses->Note("EMAIL beyond the third");
      }
    } else if (SameName(name, "TEL")) {
      std::string value = Joined(attribute, ";");
      if (value.size() > 4 && g_ascii_strncasecmp(value.c_str(), "tel:", 4) == 0) {
        value.erase(0, 4);  // vCard 4.0 VALUE=uri
      }
      if (value.empty()) continue;
      bool placed;
      const char* lost;
      if (types & kFax) {
        placed = (types & kHome) && !(types & kWork) ? Place(c, {kHomeFaxNumber}, 0, value)
                                                     : Place(c, {kBusinessFaxNumber}, 0, value);
        lost = (types & kHome) && !(types & kWork) ? "TEL;TYPE=HOME,FAX beyond the first"
                                                   : "TEL;TYPE=FAX beyond the first";
      } else if (types & kCell) {
        placed = Place(c, {kMobileTelephoneNumber}, 0, value);
        lost = "TEL;TYPE=CELL beyond the first";
      } else if (types & kPager) {
        placed = Place(c, {kPagerNumber}, 0, value);
        lost = "TEL;TYPE=PAGER beyond the first";
      } else if (types & kCar) {
        placed = Place(c, {kCarTelephoneNumber}, 0, value);
        lost = "TEL;TYPE=CAR beyond the first";
      } else if (types & kRadio) {
        placed = Place(c, {kRadioTelephoneNumber}, 0, value);
        lost = "TEL;TYPE=X-EVOLUTION-RADIO beyond the first";
      } else if (types & kAssistant) {
        placed = Place(c, {kAssistantTelephoneNumber}, 0, value);
        lost = "TEL;TYPE=X-EVOLUTION-ASSISTANT beyond the first";
      } else if (types & kWork) {
        placed = Place(c, {kBusinessTelephoneNumber, kBusiness2TelephoneNumber}, slot, value);
        lost = "TEL;TYPE=WORK beyond the second";
      } else {
        placed = Place(c, {kHomeTelephoneNumber, kHome2TelephoneNumber}, slot, value);
        lost = (types & kHome) ? "TEL;TYPE=HOME beyond the second"
                               : "TEL of another kind with both home places taken";
      }
      if (!placed) losses->Note(lost);
    } else if (SameName(name, "ADR")) {
      std::vector<std::string_view> parts = Values(attribute);
      parts.resize(7);
      std::string street(parts[2]);
      for (size_t part : {1, 0}) {  // extended address, then post office box
        if (parts[part].empty()) continue;
        if (!street.empty()) street += "\n";
        street += parts[part];
      }
      bool any = !street.empty();
      for (size_t i = 3; i < 7; ++i) any = any || !parts[i].empty();
      if (!any) continue;
      static const int kHomeOnly[] = {kHomeAddressStreet}, kWorkOnly[] = {kBusinessAddressStreet},
                       kAnyFree[] = {kOtherAddressStreet, kHomeAddressStreet,
                                     kBusinessAddressStreet};
      std::span<const int> order = (types & kHome)   ? std::span<const int>(kHomeOnly)
                                   : (types & kWork) ? std::span<const int>(kWorkOnly)
                                                     : std::span<const int>(kAnyFree);
      int chosen = -1;
      for (int street0 : order) {
        bool taken = false;
        for (int i = 0; i < 5; ++i) taken = taken || !c->texts[street0 + i].empty();
        if (!taken) {
          chosen = street0;
          break;
        }
      }
      if (chosen < 0) {
        losses->Note((types & kHome)   ? "ADR;TYPE=HOME beyond the first"
                     : (types & kWork) ? "ADR;TYPE=WORK beyond the first"
                                       : "ADR beyond the third");
        continue;
      }
      c->texts[chosen] = StoreText(street);
      for (int i = 1; i < 5; ++i) c->texts[chosen + i] = StoreText(parts[2 + i]);
    } else if (SameName(name, "BDAY")) {
      ReadDate(&c->birthday, attribute, "BDAY", losses);
    } else if (IsOneOf(name, {"X-EVOLUTION-ANNIVERSARY", "ANNIVERSARY", "X-ANNIVERSARY",
                              "X-MS-ANNIVERSARY"})) {
      ReadDate(&c->anniversary, attribute, "ANNIVERSARY", losses);
    } else if (IsOneOf(name, {"X-EVOLUTION-SPOUSE", "X-SPOUSE", "X-MS-SPOUSE",
                              "X-KADDRESSBOOK-X-SPOUSESNAME"}) ||
               (SameName(name, "RELATED") && (types & kSpouseType))) {
      Single(c, kSpouse, attribute, losses, "a second spouse");
    } else if (IsOneOf(name, {"X-CHILDREN", "X-MS-CHILD"}) ||
               (SameName(name, "RELATED") && (types & kChild))) {
      Append(c, kChildren, Joined(attribute, ";"), u", ");
    } else if (IsOneOf(name, {"X-EVOLUTION-ASSISTANT", "X-ASSISTANT", "X-MS-ASSISTANT",
                              "X-KADDRESSBOOK-X-ASSISTANTSNAME"})) {
      Single(c, kAssistantName, attribute, losses, "a second assistant");
    } else if (SameName(name, "KIND")) {
      // individual, org, location: a contact all the same
    } else if (SameName(name, "RELATED")) {
      losses->Note("RELATED");
    } else if (SameName(name, "LABEL")) {
      losses->Note("LABEL");
    } else {
      losses->Note(Upper(name));
    }
  }
  g_object_unref(parsed);
  if (!hasName && !fullName.empty() && StoreText(fullName) != ComposedName(*c)) {
    c->texts[kFirstName] = StoreText(fullName);
  }
  return CardKind::kContact;
}

void QuietVCardLibrary() {
  g_log_set_handler(
      "libebook-contacts",
      static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO |
                                  G_LOG_LEVEL_DEBUG),
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
}

}  // namespace interop
