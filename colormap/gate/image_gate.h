// Checks an image file before the library's loader sees it. The loaders trust
// every header field and never check for the end of the file, so a damaged
// file could crash the tool, hang it, or load as invented pixels.
#pragma once

#include <cstddef>

#include "colormap/formats/image_format.h"

// True when the loader for `format` reads the file held at data/size safely
// and faithfully, from a memory packfile of exactly those bytes. `judged`,
// when given, receives how many bytes from the start the check covered: the
// loader takes nothing for the image from past them (only a PCX palette).
bool image_passes_gate(const unsigned char* data, std::size_t size, ImageFormat format,
                       std::size_t* judged = nullptr);
