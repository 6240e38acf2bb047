// splitcolormap: writes each entry of a colour map as a picture, sheets of
// the whole map, and the INI file from which mkcolormap rebuilds it.
#include <allegro.h>

#include <cstdio>

#include "app/split_command_line.h"
#include "app/start_library.h"
#include "colormap/platform.h"
#include "split/palette.h"
#include "split/report.h"
#include "split/split_colormap.h"

namespace {

constexpr char kVersion[] = MKCOLORMAP_VERSION;  // from CMake's project(), "1.00"

constexpr char kUsage[] = "Usage: splitcolormap [OPTIONS] COLORMAP DIR\n";

constexpr char kHelp[] =
    "Writes each 256-byte entry of the colour map COLORMAP into the folder DIR\n"
    "as a paletted picture of 256 pixels (entry-0000.bmp, ...), the whole map as\n"
    "sheets of one line per entry (sheet.bmp), and DIR/maps.ini, from which\n"
    "`mkcolormap maps.ini`, run in DIR, rebuilds COLORMAP byte for byte.\n"
    "DIR is made if missing. Nothing is written when a file it would write is\n"
    "there already; after a failure, nothing it wrote is left.\n"
    "\n"
    "Options:\n"
    "  --format FORMAT  bmp (the default), pcx or tga\n"
    "  --shape WxH      the pictures' shape, of 256 pixels: 16x16 (the default),\n"
    "                   256x1, 1x256, 32x8, ...\n"
    "  --palette FILE   the pictures' colours, from a picture (.bmp, .lbm, .pcx,\n"
    "                   .tga), a JASC-PAL or GIMP palette, or 768 bytes of RGB;\n"
    "                   without it, a grey ramp\n"
    "  --force          replace the files of an earlier run\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on any error, 2 for a wrong command line.\n";

// What the library would show in a message box goes to standard error.
void print_message(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

// A text that could not be written (a full disk, a closed standard output)
// makes the run fail, saying so.
int print(const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  report_error("can't write to standard output");
  return 1;
}

int run(int argc, char* argv[]) {
  const SplitCommand command = parse_split_command_line(argc, argv);
  switch (command.action) {
    case SplitCommand::Action::Help:
      std::fputs(kUsage, stdout);
      return print(kHelp);
    case SplitCommand::Action::Version:
      std::printf("splitcolormap %s\n", kVersion);
      return print("");
    case SplitCommand::Action::UsageError:
      report_error("%s; see splitcolormap --help", command.error.c_str());
      return 2;
    case SplitCommand::Action::Split:
      break;
  }
  if (!start_library(print_message)) {
    report_error("can't start the Allegro library");
    return 1;
  }
  PaletteBytes palette;
  grey_palette(&palette);
  if (!command.palette_path.empty() && !load_palette(command.palette_path.c_str(), &palette)) {
    return 1;
  }
  return split_colormap(command.settings, palette) ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  platform::prepare_process();
  return run(argc, argv);
}
END_OF_MAIN()
