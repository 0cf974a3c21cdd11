#include "analytics/audiences/interpreter/GWLPCommandTable.h"

#include <array>

namespace {

constexpr int kHighestNumber = 66;
constexpr int kNone = -1;

// Rows of the table by command number; none where a number stands for no
// command.
constexpr std::array<int, kHighestNumber + 1> byNumber() {
  std::array<int, kHighestNumber + 1> rows{};
  rows.fill(kNone);
  for (size_t i = 0; i < std::size(kGWLPCommandTable); ++i) {
    rows[static_cast<size_t>(kGWLPCommandTable[i].number)] = static_cast<int>(i);
  }
  return rows;
}
constexpr auto kRowsByNumber = byNumber();

// The first row of each command.
constexpr std::array<int, kGWLPCommandCount> byCommand() {
  std::array<int, kGWLPCommandCount> rows{};
  rows.fill(kNone);
  for (size_t i = 0; i < std::size(kGWLPCommandTable); ++i) {
    int& row = rows[static_cast<size_t>(kGWLPCommandTable[i].command)];
    if (row == kNone) row = static_cast<int>(i);
  }
  return rows;
}
constexpr auto kRowsByCommand = byCommand();

constexpr bool everyCommandHasARow() {
  for (int row : kRowsByCommand) {
    if (row == kNone) return false;
  }
  return true;
}
static_assert(everyCommandHasARow(), "a command that no row of the table names");

}  // namespace

const GWLPCommandEntry* GWLPCommandEntryForName(std::string_view name) {
  if (name.empty() || name.size() > 2) return nullptr;
  if (name.size() == 2 && name[0] == '0') return nullptr;
  int number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return nullptr;
    number = number * 10 + (c - '0');
  }
  if (number > kHighestNumber) return nullptr;
  int row = kRowsByNumber[static_cast<size_t>(number)];
  return row == kNone ? nullptr : &kGWLPCommandTable[row];
}

const GWLPCommandEntry& GWLPCommandEntryFor(GWLPCommand command) {
  return kGWLPCommandTable[kRowsByCommand[static_cast<size_t>(command)]];
}
