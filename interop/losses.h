// What a conversion could not keep, counted per kind of loss, and its summary lines.
//
// Contract: a converter notes each loss of the item it is converting (Note), then ends
// the item (EndItem); a kind of loss counts once per item however often it was noted.
// Summary gives one line per kind, in the order the kinds were first noted, e.g.
// "not kept: PHOTO on 12 cards" (the nouns are the caller's: card/cards, event/events,
// contact/contacts). The kinds are short texts that name what was lost as the file
// names it (a property name) or, for what no property name says, in a few words
// ("EMAIL beyond the third", "group card").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace interop {

class Losses {
 public:
  Losses(std::string noun, std::string nouns) : noun_(std::move(noun)), nouns_(std::move(nouns)) {}

  void Note(std::string_view what);
  void EndItem();
  // Adds what another counter counted (its items ended), kind by kind.
  void Absorb(const Losses& other);

  std::vector<std::string> Summary() const;
  bool empty() const { return kinds_.empty(); }
  // How many items lost `what` (0 when none did).
  long Count(std::string_view what) const;

 private:
  struct Kind {
    std::string what;
    long items = 0;
    bool inThisItem = false;
  };
  std::string noun_, nouns_;
  std::vector<Kind> kinds_;    // few kinds: a list is quicker than a map
  std::vector<size_t> noted_;  // kinds noted for the current item
};

}  // namespace interop
