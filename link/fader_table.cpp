// The console's fader table: the list's entries and the addresses from one set of rows.
#include "link/fader_table.h"

#include <cmath>
#include <cstdio>

char FaderAddressTable[kFaderCount][kLongestFaderAddress + 1];

namespace {

constexpr int GroupedFaders() {
  int total = 0;
  for (const FaderGroup& group : kFaderGroups) total += group.count;
  return total;
}
static_assert(GroupedFaders() == kFaderCount);

// The group that holds the fader at index, and the fader's number in it (from 1).
const FaderGroup* GroupOf(int index, int* number) {
  if (index < 0) return nullptr;
  for (const FaderGroup& group : kFaderGroups) {
    if (index < group.count) {
      *number = index + 1;
      return &group;
    }
    index -= group.count;
  }
  return nullptr;
}

}  // namespace

void FillFaderAddressTable() {
  for (int index = 0; index < kFaderCount; ++index) {
    int number = 0;
    const FaderGroup* group = GroupOf(index, &number);
    std::snprintf(FaderAddressTable[index], sizeof FaderAddressTable[index], group->address, number);
  }
}

void FaderLabel(int index, char* text, int size) {
  if (size <= 0) return;
  int number = 0;
  const FaderGroup* group = GroupOf(index, &number);
  text[0] = '\0';
  if (group != nullptr) std::snprintf(text, static_cast<std::size_t>(size), group->label, number);
}

void FaderDecibelText(float level, char* text, int size) {
  if (size <= 0) return;
  const double f = level;
  if (!(f > 0.0)) {
    std::snprintf(text, static_cast<std::size_t>(size), "-\u221e dB");
    return;
  }
  const FaderLawPiece* piece = kFaderLaw;
  while (f < piece->from) ++piece;  // the last piece starts at 0, below every level here
  const double db = f * piece->slope + piece->offset;
  // Rounded to tenths first, so that what rounds to nought reads "0.0 dB"
  // with no sign.
  const long tenths = std::lround(db * 10.0);
  const long whole = tenths < 0 ? -tenths : tenths;
  const char* sign = tenths < 0 ? "-" : tenths > 0 ? "+" : "";
  std::snprintf(text, static_cast<std::size_t>(size), "%s%ld.%ld dB", sign, whole / 10, whole % 10);
}
