#include "split/split_plan.h"

#include <cstdio>

namespace {

constexpr int kMinimumDigits = 4;

// Enough digits for every number below `count`, and never fewer than four.
int digits_for(std::uint64_t count) {
  int digits = 1;
  for (std::uint64_t largest = count > 0 ? count - 1 : 0; largest >= 10; largest /= 10) ++digits;
  return digits < kMinimumDigits ? kMinimumDigits : digits;
}

std::string numbered(const char* stem, std::uint64_t number, int digits, const char* extension) {
  char name[64];
  std::snprintf(name, sizeof name, "%s-%0*llu%s", stem, digits,
                static_cast<unsigned long long>(number), extension);
  return name;
}

}  // namespace

SplitPlan::SplitPlan(std::uint64_t map_size, const char* extension)
    : extension_(extension),
      entries_(map_size / kEntryBytes),
      rest_(map_size % kEntryBytes),
      entry_digits_(digits_for(entries_ + (rest_ > 0 ? 1 : 0))),
      sheet_digits_(digits_for(sheets())) {}

std::uint64_t SplitPlan::sheet_lines(std::uint64_t sheet) const {
  const std::uint64_t first = sheet * kSheetLines;
  return entries_ - first < kSheetLines ? entries_ - first : kSheetLines;
}

std::string SplitPlan::entry_name(std::uint64_t entry) const {
  return numbered("entry", entry, entry_digits_, extension_.c_str());
}

std::string SplitPlan::rest_name() const {
  return numbered("entry", entries_, entry_digits_, ".bin");
}

std::string SplitPlan::sheet_name(std::uint64_t sheet) const {
  if (sheets() == 1) return "sheet" + extension_;
  return numbered("sheet", sheet, sheet_digits_, extension_.c_str());
}
