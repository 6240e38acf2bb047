// The BMP layout as the size check, the gate and the rewrite read it: the
// file header, the info headers in use, and the run-length streams.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmp {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kOs2InfoSize = 12;
constexpr std::size_t kInfoSize = 40;
constexpr std::size_t kV4InfoSize = 108;
constexpr std::size_t kV5InfoSize = 124;
constexpr std::size_t kMasksSize = 12;  // red, green, blue after a 40-byte header

enum Compression : std::uint64_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

struct Header {
  std::uint64_t data_offset = 0;
  std::uint64_t info_size = 0;
  std::uint64_t width = 0;
  std::uint64_t rows = 0;  // the height's magnitude
  bool top_down = false;   // a negative height (never in an OS/2 header)
  std::uint64_t bit_count = 0;
  std::uint64_t compression = kRgb;
};

// Reads "BM", the file header and an info header of 12, 40, 108 or 124
// bytes, all of which must be there.
bool read_header(const unsigned char* data, std::size_t size, Header* header);

// A bit count and compression pair the format defines and the loader
// decodes (bmp.c:668-700); any other loads as an all-zero image or not at all.
bool combination_known(const Header& header);

// The bit-field masks the loader takes (bmp.c:684-693). It ignores green, so
// `with_green` also asks for the green each implies.
bool masks_known(const unsigned char* masks, std::uint64_t bit_count, bool with_green);

// Bytes per stored row: whole 4-byte groups.
inline std::uint64_t row_stride(std::uint64_t width, std::uint64_t bit_count) {
  return (width * bit_count + 31) / 32 * 4;
}

// Walks an RLE8 or RLE4 stream from `at` as the loader reads it
// (bmp.c:449-590): rows from the bottom, the picture ending at its
// end-of-picture mark or with the last row's end of line. Every run must stay
// within `x_limit` columns and every delta within the picture. Calls
// fill(row, x, count, value) for a repeated run and copy(row, x, bytes,
// count) for an absolute one (for RLE4, `bytes` holds two pixels a byte).
// Returns the offset past the picture's end, or 0 when the stream breaks
// these rules or is cut short.
template <class Fill, class Copy>
std::size_t walk_rle(const unsigned char* data, std::size_t size, std::size_t at,
                     const Header& header, std::uint64_t x_limit, Fill fill, Copy copy) {
  const bool rle4 = header.compression == kRle4;
  std::uint64_t x = 0, row = 0;
  for (;;) {
    if (size - at < 2) return 0;
    const unsigned count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {
      if (x + count > x_limit) return 0;
      fill(row, x, count, value);
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line; the last one ends the picture
        if (++row == header.rows) return at;
        x = 0;
        break;
      case 1:  // end of picture; the rest stays cleared (bmp.c:704)
        return at;
      case 2:  // delta
        if (size - at < 2) return 0;
        x += data[at];
        row += data[at + 1];
        at += 2;
        if (x > x_limit || row >= header.rows) return 0;
        break;
      default: {  // absolute run, padded to whole words
        const std::size_t stored = rle4 ? 2 * ((value + 3) / 4) : value + (value & 1);
        if (x + value > x_limit || size - at < stored) return 0;
        copy(row, x, data + at, value);
        at += stored;
        x += value;
        break;
      }
    }
  }
}

}  // namespace bmp
