// What one run writes, and under which names: fixed from the map's size and
// the pictures' format before anything is written, never from the map's
// bytes. Names sort in the order written, and each is one mkcolormap reads.
#pragma once

#include <cstdint>
#include <string>

constexpr std::uint64_t kEntryBytes = 256;
// A sheet holds one line per entry, 256 pixels wide; a taller map is cut
// into sheets of this many lines (1 MiB of pixels each), so memory stays
// flat whatever the map's size.
constexpr std::uint64_t kSheetLines = 4096;
// mkcolormap's INI file, from which `mkcolormap maps.ini` run in the folder
// rebuilds the map as colormap.bin, a name this run never writes.
constexpr char kListName[] = "maps.ini";

class SplitPlan {
 public:
  SplitPlan(std::uint64_t map_size, const char* extension);

  std::uint64_t entries() const { return entries_; }
  // The bytes past the last whole entry, 0 to 255.
  std::uint64_t rest() const { return rest_; }
  std::uint64_t sheets() const { return (entries_ + kSheetLines - 1) / kSheetLines; }
  std::uint64_t sheet_lines(std::uint64_t sheet) const;

  // entry-0000.bmp, entry-0001.bmp, ...: four digits, more only when needed.
  std::string entry_name(std::uint64_t entry) const;
  // The rest, a raw row numbered after the last entry: entry-0001.bin.
  std::string rest_name() const;
  // sheet.bmp for a single sheet, else sheet-0000.bmp, sheet-0001.bmp, ...
  std::string sheet_name(std::uint64_t sheet) const;

 private:
  std::string extension_;
  std::uint64_t entries_;
  std::uint64_t rest_;
  int entry_digits_;
  int sheet_digits_;
};
