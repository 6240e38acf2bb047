// Checks an image file before the library's loader sees it. The loaders trust
// every header field and never check for the end of the file, so a damaged
// file could crash the tool, hang it, or load as invented pixels.
#pragma once

#include <allegro.h>

#include "colormap/rows.h"

// True when the loader for `format` can read the file at `path` safely and
// faithfully. Reads the file through the library's packfile layer, so it sees
// the same bytes as the loader; writes nothing and keeps nothing.
bool image_passes_gate(const char* path, ImageFormat format);

// The same check on a packfile opened at its start. Does not close it.
bool image_passes_gate(PACKFILE* file, ImageFormat format);
