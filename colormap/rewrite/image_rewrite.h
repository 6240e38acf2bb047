// Rewrites well-formed paletted images that the library's loaders refuse or
// misread into equivalent files they read exactly. The library stays the
// decoder: only headers are rebuilt and data is repacked into a layout the
// loader handles, never interpreted as colours.
//   BMP: load_bmp_pf takes only 12- and 40-byte info headers (bmp.c:650-666)
//        and reads a top-down height as bottom-up rows (bmp.c:110, 699).
//   PCX: load_pcx_pf decodes every file as run-length data (pcx.c:77, 126)
//        and refuses anything but 8 bits per plane (pcx.c:79).
//   LBM: load_lbm reads only by name and walks chunks its own way; every
//        ILBM and PBM picture is decoded here and handed on as an 8-bit BMP.
//   TGA: load_tga_pf has room for 256 map entries on the stack (tga.c:280)
//        but reads them all (tga.c:316), reads no bytes for entries of 8 or
//        15 bits (tga.c:318-335), so the map is taken for pixels, refuses
//        1-bit grey (tga.c:391), and reads lines stored from the right as if
//        stored from the left (tga.c:416).
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#pragma once

#include <cstddef>
#include <vector>

#include "colormap/formats/image_format.h"

// For a file the gate refused: returns true and fills `out` with an equivalent file that
// passes the gate and that the library's loader reads exactly, when the file at data/size is a
// well-formed image that the loader would refuse or misread; `judged` receives what the gate
// gives for `out`. Returns false (out cleared) when the part of the file the loader reads is
// malformed under its own format's rules, so it is refused as before; what follows that part
// is not looked at, as the gate does not look at it either.
bool rewrite_for_library(ImageFormat format, const unsigned char* data, std::size_t size,
                         std::vector<unsigned char>* out, std::size_t* judged = nullptr);

// The format of the file that a rewrite of `format` hands the loader.
inline ImageFormat library_format(ImageFormat format) {
  return format == ImageFormat::Lbm ? ImageFormat::Bmp : format;
}

// The per-format parts of the above, before the result is checked by the gate.
bool rewrite_bmp(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out);
bool rewrite_pcx(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out);
bool rewrite_lbm(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out);
bool rewrite_tga(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out);
