#include "analytics/audiences/interpreter/GWLPCommandTable.h"

#include <array>

namespace {

constexpr int kHighestNumber = 66;

// Table rows by command number; none where a number stands for no command.
constexpr std::array<const GWLPCommandEntry*, kHighestNumber + 1> byNumber() {
  std::array<const GWLPCommandEntry*, kHighestNumber + 1> rows{};
  for (const auto& entry : kGWLPCommandTable) rows[static_cast<size_t>(entry.number)] = &entry;
  return rows;
}
constexpr auto kRowsByNumber = byNumber();

constexpr std::array<const GWLPCommandEntry*, kGWLPCommandCount> byCommand() {
  std::array<const GWLPCommandEntry*, kGWLPCommandCount> rows{};
  for (const auto& entry : kGWLPCommandTable) {
    auto& row = rows[static_cast<size_t>(entry.command)];
    if (!row) row = &entry;
  }
  return rows;
}
constexpr auto kRowsByCommand = byCommand();

}  // namespace

const GWLPCommandEntry* GWLPCommandEntryForName(std::string_view name) {
  if (name.empty() || name.size() > 2) return nullptr;
  if (name.size() == 2 && name[0] == '0') return nullptr;
  int number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return nullptr;
    number = number * 10 + (c - '0');
  }
  return number <= kHighestNumber ? kRowsByNumber[static_cast<size_t>(number)] : nullptr;
}

const GWLPCommandEntry& GWLPCommandEntryFor(GWLPCommand command) {
  return *kRowsByCommand[static_cast<size_t>(command)];
}
