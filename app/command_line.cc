#include "app/command_line.h"

#include "colormap/rows.h"

namespace {

bool is_quiet_switch(const char* argument) { return equals_ignoring_case(argument, "/Q"); }

}  // namespace

RunSettings parse_command_line(int argc, const char* const argv[]) {
  RunSettings settings;
  settings.ini_path = argv[1];
  settings.output_path = kDefaultOutputPath;
  if (argc == 3) {
    if (is_quiet_switch(argv[2])) {
      settings.quiet = true;
    } else {
      settings.output_path = argv[2];
    }
  } else if (argc == 4) {
    if (is_quiet_switch(argv[2])) {
      settings.output_path = argv[3];
      settings.quiet = true;
    } else if (is_quiet_switch(argv[3])) {
      settings.output_path = argv[2];
      settings.quiet = true;
    }
  }
  return settings;
}
