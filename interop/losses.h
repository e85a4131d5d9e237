// What a conversion could not keep, or kept otherwise than the file said, counted per kind,
// and its summary lines.
//
// Contract: a converter notes each loss (Note, or NotKept as a LossCounter) and each
// change (Changed) of the item it is converting, then ends the item (EndItem); a kind
// counts once per item however often it was noted. Summary gives one line per kind, in
// the order the kinds were first noted, e.g. "not kept: PHOTO on 12 cards" or "changed:
// TEL;TYPE=ISDN kept as a home number on 2 cards" (the nouns are the caller's:
// card/cards, event/events, contact/contacts), at most kSummaryKinds of them, then one
// line telling how many kinds were left unnamed. The kinds are short texts that name what
// was lost as the file names it (a property name) or, for what no property name says, in
// a few words ("EMAIL beyond the third", "group card"). Noting costs constant time
// whatever the number of kinds, and the kinds a hostile file can make are bounded by
// what it holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "interop/ical_losses.h"

namespace interop {

class Losses : public LossCounter {
 public:
  static constexpr size_t kSummaryKinds = 40;

  Losses(std::string noun, std::string nouns) : noun_(std::move(noun)), nouns_(std::move(nouns)) {}
  Losses(const Losses&) = default;
  Losses& operator=(const Losses&) = default;
  Losses(Losses&&) = default;
  Losses& operator=(Losses&&) = default;
  ~Losses() = default;

  void Note(std::string_view what) { Mark(what, false); }
  void NotKept(std::string_view what) override { Mark(what, false); }
  void Changed(std::string_view what) override { Mark(what, true); }
  void EndItem();
  // Adds what another counter counted (its items ended), kind by kind.
  void Absorb(const Losses& other);

  std::vector<std::string> Summary() const;
  bool empty() const { return kinds_.empty(); }
  // How many items lost `what` (0 when none did); ChangedCount for changes.
  long Count(std::string_view what) const { return Find(what, false); }
  long ChangedCount(std::string_view what) const { return Find(what, true); }

 private:
  struct Kind {
    std::string what;
    bool change = false;
    long items = 0;
    bool inThisItem = false;
  };
  void Mark(std::string_view what, bool change);
  size_t IndexOf(std::string_view what, bool change);
  long Find(std::string_view what, bool change) const;
  static std::string Key(std::string_view what, bool change);

  std::string noun_, nouns_;
  std::vector<Kind> kinds_;
  std::unordered_map<std::string, size_t> index_;  // Key -> place in kinds_
  std::vector<size_t> noted_;                      // kinds noted for the current item
  std::string key_;                                // reused for lookups
};

}  // namespace interop
