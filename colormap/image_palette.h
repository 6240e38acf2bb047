// A paletted picture's colours at 8 bits a channel, read from the bytes the
// library's loader decoded. The loaders keep only 6 bits (bmp.c:160-162,
// pcx.c:91-93 and 178-180, tga.c:366-370), as the VGA did; splitcolormap
// writes the colours back exactly.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#pragma once

#include <array>
#include <cstddef>

#include "colormap/formats/image_format.h"

// 256 colours, each red, green and blue of 8 bits.
using PaletteBytes = std::array<unsigned char, 256 * 3>;

// Sets the entries of `palette` that the file at data/size gives colours
// for, where the loader for `format` (BMP, PCX or TGA) takes them from; the
// others keep what they had. The file must have passed the gate, which gave
// `judged`: the end of a PCX's pixels, after which its 256 colours follow.
//   BMP: the table between the info header and the pixels, up to 256
//        entries (bmp.c:155-174).
//   PCX: the header's 16 colours, then the 256 after the first 0x0C byte
//        past the pixels (pcx.c:174-185), as many as the file holds whole.
//   TGA: the colour map, at the indices from its first entry on (the loader
//        ignores that field, tga.c:302, but a pixel's index counts from it);
//        a grey picture has the grey ramp (tga.c:390-398).
void read_loader_palette(ImageFormat format, const unsigned char* data, std::size_t size,
                         std::size_t judged, PaletteBytes* palette);
