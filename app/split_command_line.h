// splitcolormap's command line, by the usual conventions: options in any
// order before "--", as "--name VALUE" or "--name=VALUE", then COLORMAP DIR.
#pragma once

#include <string>

#include "split/split_colormap.h"

struct SplitCommand {
  enum class Action { Split, Help, Version, UsageError };
  Action action = Action::Split;
  SplitSettings settings;
  std::string palette_path;  // empty: the grey ramp
  std::string error;         // for UsageError: what was wrong, one line, no control character
};

SplitCommand parse_split_command_line(int argc, const char* const argv[]);
