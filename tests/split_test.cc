// splitcolormap's parts that need no files: text palettes, the names a run
// writes, and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/split_command_line.h"
#include "split/split_plan.h"
#include "split/text_palette.h"

namespace {

struct PaletteCase {
  const char* text;
  long bad_line;      // 0: the palette is good
  std::size_t count;  // colours of a good palette
  int last[3];        // its last colour
};

TEST(TextPalette, ReadsGoodFilesAndNamesTheFirstBadLine) {
  const PaletteCase cases[] = {
      {"JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n255 0 9\r\n", 0, 2, {255, 0, 9}},
      {"\xEF\xBB\xBFJASC-PAL\n0100\n1\n  7\t8 9 \n\n", 0, 1, {7, 8, 9}},
      {"JASC-PAL\n0100\n2\n1 2 3\n4 5\n", 5, 0, {}},    // two numbers
      {"JASC-PAL\n0100\n2\n1 2 3\n", 5, 0, {}},         // one colour short
      {"JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n", 5, 0, {}},  // one too many
      {"JASC-PAL\n0100\n1\n1 2 256\n", 4, 0, {}},       // past 255
      {"JASC-PAL\n0100\n1\n1 2 0003\n", 4, 0, {}},      // four digits
      {"JASC-PAL\n0100\n1\n1 2 3 4\n", 4, 0, {}},       // a fourth number
      {"JASC-PAL\n0101\n1\n1 2 3\n", 2, 0, {}},         // another version
      {"JASC-PAL\n0100\n257\n", 3, 0, {}},              // more than 256
      {"JASC-PAL\n0100\n0\n", 3, 0, {}},                // none
      {"GIMP Palette\nName: x\nColumns: 16\n#\n  0   0   0\tBlack\n9 9 9\n", 0, 2, {9, 9, 9}},
      {"GIMP Palette\n10 20 30 name with spaces\n# 1 2 3\n\n", 0, 1, {10, 20, 30}},
      {"GIMP Palette\n10 20 30x\n", 2, 0, {}},          // no blank before the name
      {"GIMP Palette\n1 2 3\nName: late\n", 3, 0, {}},  // header after a colour
      {"GIMP Palette\nColumns: many\n", 2, 0, {}},
      {"GIMP Palette\n-1 2 3\n", 2, 0, {}},
      {"GIMP Palette\n# only a comment\n", 2, 0, {}},  // no colours
  };
  for (const PaletteCase& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    const TextPalette kind = text_palette_kind(text.data(), text.size());
    ASSERT_NE(kind, TextPalette::None);
    PaletteColours colours;
    TextPaletteError error;
    const bool good = parse_text_palette(kind, text.data(), text.size(), &colours, &error);
    EXPECT_EQ(good, c.bad_line == 0) << error.problem;
    if (!good) {
      EXPECT_EQ(error.line, c.bad_line) << error.problem;
      continue;
    }
    ASSERT_EQ(colours.count, c.count);
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_EQ(colours.rgb[3 * (c.count - 1) + channel], c.last[channel]);
    }
  }
}

TEST(TextPalette, OnlyItsFirstLineMakesATextPalette) {
  for (const char* text : {"JASC-PAL 0100\n", "jasc-pal\n", "GIMP Palette \n", "", "\x00\x01"}) {
    EXPECT_EQ(text_palette_kind(text, std::string(text).size()), TextPalette::None) << text;
  }
}

TEST(SplitPlan, NamesWidenOnlyWhenNeededAndSheetsAreCut) {
  struct {
    std::uint64_t size;
    std::uint64_t entries, rest, sheets, last_sheet_lines;
    const char *last_entry, *rest_name, *first_sheet;
  } cases[] = {
      {256, 1, 0, 1, 1, "entry-0000.tga", "", "sheet.tga"},
      {257, 1, 1, 1, 1, "entry-0000.tga", "entry-0001.bin", "sheet.tga"},
      {255, 0, 255, 0, 0, "", "entry-0000.bin", ""},
      {4097 * 256, 4097, 0, 2, 1, "entry-4096.tga", "", "sheet-0000.tga"},
      {10000 * 256, 10000, 0, 3, 1808, "entry-9999.tga", "", "sheet-0000.tga"},
      {9999 * 256 + 1, 9999, 1, 3, 1807, "entry-9998.tga", "entry-9999.bin", "sheet-0000.tga"},
      {10000 * 256 + 1, 10000, 1, 3, 1808, "entry-09999.tga", "entry-10000.bin", "sheet-0000.tga"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const SplitPlan plan(c.size, ".tga");
    EXPECT_EQ(plan.entries(), c.entries);
    EXPECT_EQ(plan.rest(), c.rest);
    ASSERT_EQ(plan.sheets(), c.sheets);
    if (c.entries > 0) {
      EXPECT_EQ(plan.entry_name(c.entries - 1), c.last_entry);
      EXPECT_EQ(plan.sheet_name(0), c.first_sheet);
      EXPECT_EQ(plan.sheet_lines(c.sheets - 1), c.last_sheet_lines);
    }
    if (c.rest > 0) {
      EXPECT_EQ(plan.rest_name(), c.rest_name);
    }
  }
}

SplitCommand parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "splitcolormap");
  return parse_split_command_line(static_cast<int>(arguments.size()), arguments.data());
}

TEST(SplitCommandLine, TakesOptionsAnywhereBeforeTheEndMark) {
  SplitCommand command = parse({"map.bin", "--shape=256x1", "out", "--format", "Pcx", "--force"});
  ASSERT_EQ(command.action, SplitCommand::Action::Split) << command.error;
  EXPECT_EQ(command.settings.map_path, "map.bin");
  EXPECT_EQ(command.settings.folder, "out");
  EXPECT_EQ(command.settings.width, 256);
  EXPECT_EQ(command.settings.height, 1);
  EXPECT_EQ(command.settings.format, PictureFormat::Pcx);
  EXPECT_TRUE(command.settings.force);

  command = parse({"--palette", "a=b.pal", "--", "--map", "-"});
  ASSERT_EQ(command.action, SplitCommand::Action::Split) << command.error;
  EXPECT_EQ(command.palette_path, "a=b.pal");
  EXPECT_EQ(command.settings.map_path, "--map");
  EXPECT_EQ(command.settings.folder, "-");
  EXPECT_EQ(command.settings.width * command.settings.height, 256);

  EXPECT_EQ(parse({"--version", "x"}).action, SplitCommand::Action::Version);
  EXPECT_EQ(parse({"--version", "--help"}).action, SplitCommand::Action::Help);
}

TEST(SplitCommandLine, RefusesWhatItCannotUse) {
  const std::vector<std::vector<const char*>> bad = {
      {"a"},
      {"a", "b", "c"},
      {"--shape", "16x17", "a", "b"},
      {"--shape=0x256", "a", "b"},
      {"--shape=16x16x", "a", "b"},
      {"--shape=+16x16", "a", "b"},
      {"--shape=x", "a", "b"},
      {"--format=png", "a", "b"},
      {"--format"},
      {"-f", "a", "b"},
      {"--force=1", "a", "b"},
      {"--palette=", "a", "b"},
      // What was given is shown, a control character escaped: one line.
      {"--format", "bm\np", "a", "b"},
      {"--shape=16\rx16", "a", "b"},
      {"--x\ty", "a", "b"},
      {"a", "b", "c\nd\x7F"},
  };
  for (const auto& arguments : bad) {
    const SplitCommand command = parse(arguments);
    EXPECT_EQ(command.action, SplitCommand::Action::UsageError) << arguments[0];
    EXPECT_FALSE(command.error.empty());
    for (const char c : command.error) {
      EXPECT_TRUE(c >= 0x20 && c != 0x7F) << command.error;
    }
  }
  EXPECT_EQ(parse({"--format", "bm\np", "a", "b"}).error,
            "--format \"bm\\x0Ap\": expected bmp, pcx or tga");
  EXPECT_EQ(parse({"a", "b", "c\nd\x7F\xC3\xA9"}).error,
            "unexpected argument \"c\\x0Ad\\x7F\xC3\xA9\"");
}

}  // namespace
