// The command-line rules: INI path, output path and the quiet switch.
#pragma once

#include "colormap/run.h"

constexpr const char* kDefaultOutputPath = "colormap.bin";

// Only called with argc >= 2; cannot fail. Arguments it does not use are
// ignored without a message.
RunSettings parse_command_line(int argc, const char* const argv[]);
