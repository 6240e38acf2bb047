// The gate for load_bmp (Allegro's src/bmp.c).
#include <cstdint>

#include "colormap/image_gate_internal.h"

namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kWindowsHeaderSize = 40;
constexpr std::uint64_t kOs2HeaderSize = 12;

enum Compression : std::uint64_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

struct BmpHeader {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t bit_count = 0;
  std::uint64_t compression = kRgb;
};

bool read_windows_header(GateReader& in, BmpHeader* header) {
  std::uint64_t height;
  if (!in.le32(&header->width) || !in.le32(&height) || !in.skip(2) ||
      !in.le16(&header->bit_count) || !in.le32(&header->compression) || !in.skip(20)) {
    return false;
  }
  // Bottom-up only: the loader does not sign-extend the height (bmp.c:110),
  // so a top-down image reaches create_bitmap_ex as a huge or negative size.
  if (height >= 0x80000000u) return false;
  header->height = height;
  return true;
}

bool read_os2_header(GateReader& in, BmpHeader* header) {
  return in.le16(&header->width) && in.le16(&header->height) && in.skip(2) &&
         in.le16(&header->bit_count);
}

// The combinations the loader reads faithfully. Other bit counts with no
// compression load as an all-zero image (bmp.c:668-675, 415-440).
bool combination_allowed(const BmpHeader& header, std::uint64_t header_size) {
  switch (header.compression) {
    case kRgb:
      switch (header.bit_count) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
          return true;
        default:
          return false;
      }
    case kRle8:
      return header.bit_count == 8;
    case kRle4:
      return header.bit_count == 4;
    case kBitFields:
      return header_size == kWindowsHeaderSize &&
             (header.bit_count == 16 || header.bit_count == 32);
    default:
      return false;
  }
}

bool bit_field_masks_ok(GateReader& in, std::uint64_t bit_count) {
  std::uint64_t red, green, blue;
  if (!in.le32(&red) || !in.le32(&green) || !in.le32(&blue)) return false;
  if (bit_count == 16) return blue == 0x001F && (red == 0x7C00 || red == 0xF800);
  return blue == 0x0000FF && red == 0xFF0000;
}

// Walks the run-length stream as read_RLE8/4_compressed_image (bmp.c:449-590)
// would, without writing. The loader bounds neither x nor y; its only guard
// (bmp.c:504) acts after a run has been written.
bool rle_passes(GateReader& in, const BmpHeader& header) {
  const bool rle4 = header.compression == kRle4;
  std::uint64_t x = 0;
  std::uint64_t y = header.height - 1;
  for (;;) {
    std::uint64_t count, value;
    if (!in.byte(&count) || !in.byte(&value)) return false;
    if (count > 0) {
      if (x + count > header.width) return false;
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line; the last one ends the picture
        if (y == 0) return true;
        x = 0;
        --y;
        break;
      case 1:  // end of picture; the rest stays cleared (bmp.c:704)
        return true;
      case 2: {  // delta
        std::uint64_t dx, dy;
        if (!in.byte(&dx) || !in.byte(&dy)) return false;
        if (x + dx > header.width || dy > y) return false;
        x += dx;
        y -= dy;
        break;
      }
      default: {  // absolute run, padded to whole words
        if (x + value > header.width) return false;
        const std::uint64_t stored = rle4 ? 2 * ((value + 3) / 4) : value + (value & 1);
        if (!in.skip(stored)) return false;
        x += value;
        break;
      }
    }
  }
}

}  // namespace

bool bmp_passes_gate(GateReader& in) {
  std::uint64_t magic, data_offset, header_size;
  if (!in.le16(&magic) || magic != 0x4D42) return false;  // "BM"
  if (!in.skip(8) || !in.le32(&data_offset) || !in.le32(&header_size)) return false;

  BmpHeader header;
  if (header_size == kWindowsHeaderSize) {
    if (!read_windows_header(in, &header)) return false;
  } else if (header_size == kOs2HeaderSize) {
    if (!read_os2_header(in, &header)) return false;
  } else {
    return false;
  }
  if (!in.dimensions_ok(header.width, header.height)) return false;
  if (!combination_allowed(header, header_size)) return false;

  if (header.compression == kBitFields) {
    // The pixels follow the masks; the loader ignores the offset field.
    if (!bit_field_masks_ok(in, header.bit_count)) return false;
  } else {
    // The loader skips offset - header end bytes of palette region, passed
    // as an int (bmp.c:655, 662). A smaller offset would take pixels from the
    // header; one more than INT_MAX past it would skip nothing.
    const std::uint64_t header_end = kFileHeaderSize + header_size;
    if (data_offset < header_end || data_offset - header_end > 0x7FFFFFFF) return false;
    if (!in.skip(data_offset - header_end)) return false;
  }

  if (header.compression == kRle8 || header.compression == kRle4) return rle_passes(in, header);
  // Rows are read in whole 4-byte groups, the last row's padding included
  // (bmp.c:191, 218, 247); a group cut short by the end reads as all ones.
  const std::uint64_t row_bytes = (header.width * header.bit_count + 31) / 32 * 4;
  return in.skip(row_bytes * header.height);
}
