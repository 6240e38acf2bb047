// The colours of splitcolormap's pictures: 256 of 8 bits a channel, as the
// palette file gives them, written into the pictures exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colormap/image_palette.h"

// A palette's picture may be a screenshot: any size up to this many pixels
// (1024 x 1024: the screens of paletted modes), read within the bounds of
// an image row.
constexpr std::uint64_t kMaxPalettePixels = std::uint64_t{1} << 20;
// And its file up to this many bytes, read whole: 2 MiB and 64 KiB. Any
// encoder's 8-bit picture of 1024 x 1024 fits, headers and palette
// included: run-length coding (PCX, RLE8 BMP, RLE TGA, ByteRun1 LBM) at
// worst doubles the pixels' million bytes.
constexpr std::size_t kMaxPalettePictureBytes = (2048 + 64) * 1024;

// Index i is grey i.
void grey_palette(PaletteBytes* palette);

// Reads the palette file at `path` into `palette`: a picture's (.bmp, .lbm,
// .pcx, .tga, by extension), a JASC-PAL or GIMP palette, or 768 bytes of RGB.
// Entries past a short palette's end keep what they had. False, after
// reporting why, when the file holds no palette.
bool load_palette(const char* path, PaletteBytes* palette);
