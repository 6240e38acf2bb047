// The colours of splitcolormap's pictures. The library keeps a palette at
// 6 bits a channel, as the VGA did; its writers scale each channel back to
// 0-255 (63 becomes 255), so the files hold each colour's top 6 bits.
#pragma once

#include <allegro.h>

#include <cstdint>

// A palette's picture may be a screenshot: any size up to this many pixels
// (1024 x 1024: the screens of paletted modes), read within the bounds of
// an image row.
constexpr std::uint64_t kMaxPalettePixels = std::uint64_t{1} << 20;

// Index i is grey i.
void grey_palette(RGB* palette);

// Reads the palette file at `path` into `palette`, of 256 entries: a
// picture's (.bmp, .lbm, .pcx, .tga, by extension) as the library decodes
// it, a JASC-PAL or GIMP palette, or 768 bytes of RGB. Entries past a short
// palette's end keep what they had. False, after reporting why, when the
// file holds no palette.
bool load_palette(const char* path, RGB* palette);
