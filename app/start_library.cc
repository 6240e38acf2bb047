#include "app/start_library.h"

#include <allegro.h>

#include <cerrno>
#include <cstdlib>

// The console driver works without a display, so the tools run from CI, over
// ssh and in containers, and never wait for a click on a message box. Text
// and file names are plain bytes: the library's UTF-8 handling would alter
// or cut paths that are not valid UTF-8, and loop forever on some.
bool start_library(void (*message)(const char* text)) {
  // With no configuration set, the library's start-up looks for allegro.cfg
  // beside the program, whose path it takes from /proc or, without /proc,
  // from `ps` run through a shell. An empty configuration that names no file
  // (so none can be read or saved) is set first: the tools start no other
  // program, need no /proc and read no allegro.cfg.
  set_config_file("");
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return false;
  set_uformat(U_ASCII);
  set_filename_encoding(U_ASCII);
  system_driver->message = message;
  // Paletted images stay paletted: their indices are the entries.
  set_color_depth(8);
  set_color_conversion(COLORCONV_NONE);
  return true;
}
