// The contacts both benchmarks work on, and the exact write() calls that exporting
// them makes: the engine benchmark saves them into the store, the floor benchmark
// issues those writes straight to a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr int kContacts = 100'000;

struct BenchContact {
  std::u16string title, firstName, lastName, mobile, email, city, company, body;
  int day, month, year;  // the birthday; the anniversary stays unset
};

inline std::u16string Wide(const std::string& ascii) {
  return {ascii.begin(), ascii.end()};
}

inline BenchContact ContactNumber(int i) {
  static const char* const kTitles[] = {"Mr", "Ms", "Dr."};
  const std::string n = std::to_string(i);
  return {Wide(kTitles[i % 3]),
          Wide("Name" + n),
          Wide("Surname" + n),
          Wide("+7 900 " + n),
          Wide("name" + n + "@example.org"),
          Wide("Moscow"),
          Wide("Quillmote Ltd"),
          Wide("Met at the conference, table " + n + "."),
          1 + i % 28,
          1 + i % 12,
          1950 + i % 50};
}

// One record's writes, in order: each non-empty text, then its TAB; a date group as one
// write; CR and LF as one write each.
inline std::vector<std::u16string> RecordWrites(const BenchContact& c) {
  std::vector<std::u16string> writes;
  const auto text = [&](const std::u16string& value) {
    if (!value.empty()) writes.push_back(value);
    writes.push_back(u"\t");
  };
  const auto empty = [&](int count) {
    for (int i = 0; i < count; ++i) text(u"");
  };
  text(c.title);      // 0
  text(c.firstName);  // 1
  empty(1);           // 2 middle name
  text(c.lastName);   // 3
  empty(2);           // 4 suffix, 5 categories
  text(c.mobile);     // 6
  text(c.email);      // 7
  writes.push_back(Wide(std::to_string(c.day) + "\t" + std::to_string(c.month) + "\t" +
                        std::to_string(c.year) + "\t"));  // 8-10 birthday
  empty(3);                                               // 11-13
  text(c.city);                                           // 14 home city
  empty(4);                                               // 15-18
  writes.push_back(u"\t\t\t");                            // 19-21 anniversary (unset)
  empty(3);                                               // 22-24
  text(c.company);                                        // 25
  empty(23);                                              // 26-48
  text(c.body);                                           // 49
  writes.push_back(u"\r");
  writes.push_back(u"\n");
  return writes;
}

}  // namespace bench
