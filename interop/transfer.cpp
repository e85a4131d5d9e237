#include "interop/transfer.h"

namespace interop {

void TransferResult::Count(handheld::SaveOutcome outcome) {
  ++items;
  ++(outcome == handheld::kItemUpdated     ? updated
     : outcome == handheld::kItemUnchanged ? unchanged
                                           : added);
}

std::string TransferResult::Outcomes() const {
  return std::to_string(added) + " added, " + std::to_string(updated) + " updated, " +
         std::to_string(unchanged) + " unchanged";
}

void Report(const TransferResult& result, const Losses& losses, std::string_view program,
            std::string_view done, std::string_view nouns, std::ostream& err) {
  for (const std::string& problem : result.problems) err << program << ": " << problem << "\n";
  if (!result.error.empty()) err << program << ": " << result.error << "\n";
  for (const std::string& line : losses.Summary()) err << line << "\n";
  for (const std::string& note : result.notes) err << program << ": " << note << "\n";
  if (!result.problems.empty()) {
    err << program << ": " << result.items << " " << nouns << " " << done << ", "
        << result.problems.size() << " skipped\n";
  }
}

}  // namespace interop
