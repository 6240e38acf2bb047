// Checks an image file before the library's loader sees it. The loaders trust
// every header field and never check for the end of the file, so a damaged
// file could crash the tool, hang it, or load as invented pixels.
#pragma once

#include <allegro.h>

enum class ImageFormat { Bmp, Lbm, Pcx, Tga };

// The format named by the path's extension (from its last '.', ignoring case).
// Returns false when the extension names no image format.
bool image_format_of(const char* path, ImageFormat* format);

// True when the loader for `format` can read the file at `path` safely and
// faithfully. Reads the file through the library's packfile layer, so it sees
// the same bytes as the loader; writes nothing and keeps nothing.
bool image_passes_gate(const char* path, ImageFormat format);

// The same check on a packfile opened at its start. Does not close it.
bool image_passes_gate(PACKFILE* file, ImageFormat format);
