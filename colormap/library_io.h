// The library's loaders, fed from memory: BMP, PCX and TGA through a
// read-only packfile over the bytes, LBM (which the library reads only by
// path) through a private file holding them.
#pragma once

#include <allegro.h>

#include <cstddef>

#include "colormap/formats/image_format.h"
#include "colormap/private_file.h"

struct MemoryFile {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
};

// Opens `file` from its start; close with pack_fclose. `file` must outlive
// the packfile. Reads behave as on a plain file: EOF past the end, and the
// end-of-file flag set once the last byte has been read.
PACKFILE* open_memory_packfile(MemoryFile* file);

// Decodes images with the loader for their format. One per run: the private
// file for LBM images is made once and reused.
class ImageDecoder {
 public:
  // The loaded image, or null when the loader refuses it. The bytes must
  // have passed the gate, and nothing else may read them meanwhile.
  BITMAP* decode(ImageFormat format, const unsigned char* data, std::size_t size);

 private:
  PrivateFile lbm_copy_;
};
