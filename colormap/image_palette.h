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
// for, where the loader for `format` takes them from; the others keep what
// they had. Returns how many entries the file gave: 0 for a paletted
// picture that holds no palette. The file must have passed the gate (LBM:
// the original file, not its rewrite), which gave `judged`: the end of a
// PCX's pixels, after which its 256 colours follow.
//   BMP: the table between the info header and the pixels, up to 256
//        entries (bmp.c:155-174).
//   PCX: the 256 after the first 0x0C byte past the pixels (pcx.c:174-185),
//        as many as the file holds whole. The header's 16 colours, which
//        the loader keeps when there are none, belong to pictures of 16
//        colours or fewer, which reach here rewritten with the 256.
//   TGA: the colour map, at the indices from its first entry on (the loader
//        ignores that field, tga.c:302, but a pixel's index counts from it);
//        a grey picture has the grey ramp (tga.c:390-398).
//   LBM: the CMAP in force at the BODY, or else the first after it
//        (lbm.c:122-134), up to 256 colours; every entry past them black,
//        as the loader clears its palette for a CMAP.
std::size_t read_loader_palette(ImageFormat format, const unsigned char* data, std::size_t size,
                                std::size_t judged, PaletteBytes* palette);
