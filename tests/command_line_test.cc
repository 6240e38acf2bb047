#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

RunSettings parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), {"mkcolormap", "maps.ini"});
  return parse_command_line(static_cast<int>(arguments.size()), arguments.data());
}

void expect_settings(const RunSettings& settings, const char* output_path, bool quiet) {
  EXPECT_EQ(settings.ini_path, "maps.ini");
  EXPECT_EQ(settings.output_path, output_path);
  EXPECT_EQ(settings.quiet, quiet);
}

TEST(ParseCommandLine, FollowsTheArgumentTable) {
  expect_settings(parse({}), "colormap.bin", false);
  expect_settings(parse({"/Q"}), "colormap.bin", true);
  expect_settings(parse({"/q"}), "colormap.bin", true);
  expect_settings(parse({"out.bin"}), "out.bin", false);
  expect_settings(parse({"/Q", "out.bin"}), "out.bin", true);
  expect_settings(parse({"/q", "/Q"}), "/Q", true);
  expect_settings(parse({"out.bin", "/q"}), "out.bin", true);
  expect_settings(parse({"a.bin", "b.bin"}), "colormap.bin", false);
  expect_settings(parse({"/Q", "out.bin", "x"}), "colormap.bin", false);
  expect_settings(parse({"out.bin", "/Q", "x", "y"}), "colormap.bin", false);
}

TEST(ParseCommandLine, QuietSwitchIsExactlyTwoCharacters) {
  expect_settings(parse({"/QQ"}), "/QQ", false);
  expect_settings(parse({"Q"}), "Q", false);
  expect_settings(parse({"/Q "}), "/Q ", false);
}

TEST(ParseCommandLine, IniPathIsNeverTheSwitch) {
  const char* argv[] = {"mkcolormap", "/Q"};
  const RunSettings settings = parse_command_line(2, argv);
  EXPECT_EQ(settings.ini_path, "/Q");
  EXPECT_EQ(settings.output_path, "colormap.bin");
  EXPECT_FALSE(settings.quiet);
}

}  // namespace
