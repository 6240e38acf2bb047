// Checks an image file before the library's loader sees it. The loaders trust
// every header field and never check for the end of the file, so a damaged
// file could crash the tool, hang it, or load as invented pixels.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <cstdint>

#include "colormap/rows.h"

// True when the loader for `format` can read the file at `path` safely and
// faithfully. Reads the file through the library's packfile layer, so it sees
// the same bytes as the loader; writes nothing and keeps nothing.
bool image_passes_gate(const char* path, ImageFormat format);

struct GateSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// The same check on a packfile opened at its start. Does not close it.
// `size`, when given, receives the size in the header, or zeros when the
// check stopped before it; for a file that passes, the loader makes a bitmap
// of exactly that size.
bool image_passes_gate(PACKFILE* file, ImageFormat format, GateSize* size = nullptr);

// The same check on a file held in memory, as a memory packfile would give it.
bool image_passes_gate(const unsigned char* data, std::size_t size, ImageFormat format,
                       GateSize* image_size = nullptr);
