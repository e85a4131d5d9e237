#include "interop/losses.h"

namespace interop {

void Losses::Note(std::string_view what) {
  for (size_t i = 0; i < kinds_.size(); ++i) {
    if (kinds_[i].what == what) {
      if (!kinds_[i].inThisItem) {
        kinds_[i].inThisItem = true;
        noted_.push_back(i);
      }
      return;
    }
  }
  kinds_.push_back(Kind{std::string(what), 0, true});
  noted_.push_back(kinds_.size() - 1);
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
    if (kind.items == 0) continue;
    size_t i = 0;
    while (i < kinds_.size() && kinds_[i].what != kind.what) ++i;
    if (i == kinds_.size()) kinds_.push_back(Kind{kind.what, 0, false});
    kinds_[i].items += kind.items;
  }
}

std::vector<std::string> Losses::Summary() const {
  std::vector<std::string> lines;
  for (const Kind& kind : kinds_) {
    if (kind.items == 0) continue;
    lines.push_back("not kept: " + kind.what + " on " + std::to_string(kind.items) + " " +
                    (kind.items == 1 ? noun_ : nouns_));
  }
  return lines;
}

long Losses::Count(std::string_view what) const {
  for (const Kind& kind : kinds_) {
    if (kind.what == what) return kind.items;
  }
  return 0;
}

}  // namespace interop
