#include "interop/losses.h"

namespace interop {

std::string Losses::Key(std::string_view what, bool change) {
  std::string key(1, change ? 'c' : 'n');
  key.append(what);
  return key;
}

size_t Losses::IndexOf(std::string_view what, bool change) {
  key_.assign(1, change ? 'c' : 'n');
  key_.append(what);
  // Looked up before it is added: emplace makes a node (and drops it) even for a kind
  // that is there.
  if (auto at = index_.find(key_); at != index_.end()) return at->second;
  index_.emplace(key_, kinds_.size());
  kinds_.push_back(Kind{std::string(what), change, 0, false});
  return kinds_.size() - 1;
}

void Losses::Mark(std::string_view what, bool change) {
  const size_t i = IndexOf(what, change);
  if (!kinds_[i].inThisItem) {
    kinds_[i].inThisItem = true;
    noted_.push_back(i);
  }
}

void Losses::EndItem() {
  for (size_t i : noted_) {
    ++kinds_[i].items;
    kinds_[i].inThisItem = false;
  }
  noted_.clear();
}

void Losses::Absorb(const Losses& other) {
  for (const Kind& kind : other.kinds_) {
    if (kind.items != 0) kinds_[IndexOf(kind.what, kind.change)].items += kind.items;
  }
}

std::vector<std::string> Losses::Summary() const {
  std::vector<std::string> lines;
  size_t unnamed = 0;
  for (const Kind& kind : kinds_) {
    if (kind.items == 0) continue;
    if (lines.size() == kSummaryKinds) {
      ++unnamed;
      continue;
    }
    lines.push_back((kind.change ? "changed: " : "not kept: ") + kind.what + " on " +
                    std::to_string(kind.items) + " " + (kind.items == 1 ? noun_ : nouns_));
  }
  if (unnamed != 0) {
    lines.push_back("not kept or changed: " + std::to_string(unnamed) +
                    " more kinds, not named here");
  }
  return lines;
}

long Losses::Find(std::string_view what, bool change) const {
  auto found = index_.find(Key(what, change));
  return found == index_.end() ? 0 : kinds_[found->second].items;
}

}  // namespace interop
