// The library's loaders, fed from memory through a read-only packfile over
// the bytes. LBM pictures reach them rewritten as BMP.
#pragma once

#include <allegro.h>

#include <cstddef>

#include "colormap/formats/image_format.h"

struct MemoryFile {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
};

// Opens `file` from its start; close with pack_fclose. `file` must outlive
// the packfile. Reads behave as on a plain file: EOF past the end, and the
// end-of-file flag set once the last byte has been read.
PACKFILE* open_memory_packfile(MemoryFile* file);

// Decodes an image with the loader for `format` (BMP, PCX or TGA): the
// loaded image, or null when the loader refuses it. The bytes must have
// passed the gate.
BITMAP* decode_image(ImageFormat format, const unsigned char* data, std::size_t size);
