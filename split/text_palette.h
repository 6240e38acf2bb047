// JASC-PAL and GIMP palettes: text files of one colour a line, read
// strictly, so that a damaged file is named rather than half used.
#pragma once

#include <array>
#include <cstddef>
#include <string>

// Colours of 8 bits a channel, red, green and blue, as a palette file holds
// them; `count` of them, at most 256.
struct PaletteColours {
  std::array<unsigned char, 256 * 3> rgb = {};
  std::size_t count = 0;
};

enum class TextPalette { None, Jasc, Gimp };

// The kind of text palette a file's first line announces ("JASC-PAL" or
// "GIMP Palette", after a UTF-8 byte-order mark if there is one), or None.
TextPalette text_palette_kind(const char* text, std::size_t size);

// Where a text palette is malformed: its line (from 1) and what was expected.
struct TextPaletteError {
  long line = 0;
  std::string problem;
};

// Reads the colours of a palette of `kind` held whole in text/size. Lines end
// in LF or CR LF. False, with `error` filled, at the first malformed line.
bool parse_text_palette(TextPalette kind, const char* text, std::size_t size,
                        PaletteColours* colours, TextPaletteError* error);
