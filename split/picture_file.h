// Pictures written by the library's own writers (save_bmp_pf, save_pcx_pf,
// save_tga_pf), with the palette's own colours, into new files whose every
// write is checked.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <memory>

#include "colormap/image_palette.h"
#include "split/new_file.h"

enum class PictureFormat { Bmp, Pcx, Tga };

// ".bmp", ".pcx" or ".tga".
const char* picture_extension(PictureFormat format);

// The library keeps a palette at 6 bits a channel and its writers widen it
// (128 is written as 130), so each picture is written into memory first and
// the palette's own 8-bit colours are then put where the writer put its
// colours. One buffer serves every picture, so memory stays flat.
class PictureWriter {
 public:
  PictureWriter(PictureFormat format, const PaletteBytes& palette)
      : format_(format), palette_(palette) {}

  // Makes room for pictures of up to width x height pixels. False when
  // memory is short.
  bool reserve(int width, int height);
  // Writes `image`, an 8-bit bitmap that fits what was reserved, into
  // `file`, created and left open by the caller. False when the writer or
  // any write failed.
  bool write(NewFile& file, BITMAP* image);

 private:
  bool put_palette();

  PictureFormat format_;
  const PaletteBytes& palette_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};
