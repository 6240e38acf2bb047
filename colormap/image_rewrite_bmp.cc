// BMP layouts load_bmp_pf refuses or misreads, rebuilt with the 40-byte
// info header, bottom-up rows and, for RLE8, plain rows.
#include <cstdint>
#include <cstring>

#include "colormap/image_gate_internal.h"
#include "colormap/image_rewrite.h"

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kWindowsHeaderSize = 40;
constexpr std::size_t kV4HeaderSize = 108;
constexpr std::size_t kV5HeaderSize = 124;
constexpr std::size_t kMasksSize = 12;

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

std::uint32_t le32_of(const unsigned char* p) {
  return static_cast<std::uint32_t>(le16_at(p) | le16_at(p + 2) << 16);
}

void set_le32(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The masks load_bmp_pf takes (bmp.c:684-693), with the green each implies:
// the loader ignores green, so another one would load as other colours.
bool masks_ok(const unsigned char* masks, std::uint64_t bit_count) {
  const std::uint32_t red = le32_of(masks), green = le32_of(masks + 4), blue = le32_of(masks + 8);
  if (bit_count == 16) {
    return blue == 0x001F &&
           ((red == 0x7C00 && green == 0x03E0) || (red == 0xF800 && green == 0x07E0));
  }
  return bit_count == 32 && red == 0xFF0000 && green == 0x00FF00 && blue == 0x0000FF;
}

bool bit_count_ok(std::uint64_t compression, std::uint64_t bit_count) {
  switch (compression) {
    case kRgb:
      return bit_count == 1 || bit_count == 4 || bit_count == 8 || bit_count == 16 ||
             bit_count == 24 || bit_count == 32;
    case kRle8:
      return bit_count == 8;
    case kRle4:
      return bit_count == 4;
    case kBitFields:
      return bit_count == 16 || bit_count == 32;
    default:
      return false;
  }
}

// Decodes an RLE8 stream into bottom-up rows of `stride` bytes (already
// zeroed: skipped pixels stay colour 0, as in the loader's cleared bitmap).
// Runs may cover the row's padding, as GraphicsMagick writes them for
// widths that are not a multiple of 4; the loader would write those pixels
// into the neighbouring row (bmp.c:466-470), so they are dropped here.
bool decode_rle8(const unsigned char* p, const unsigned char* end, std::uint64_t width,
                 std::uint64_t rows, std::uint64_t stride, unsigned char* pixels) {
  std::uint64_t x = 0, row = 0;
  for (;;) {
    if (end - p < 2) return false;
    const unsigned count = p[0], value = p[1];
    p += 2;
    if (count > 0) {
      if (x + count > stride) return false;
      for (unsigned i = 0; i < count; ++i, ++x) {
        if (x < width) pixels[row * stride + x] = static_cast<unsigned char>(value);
      }
      continue;
    }
    switch (value) {
      case 0:  // end of line; after the last, the end-of-picture mark must follow
        x = 0;
        if (++row == rows) return end - p >= 2 && p[0] == 0 && p[1] == 1;
        break;
      case 1:  // end of picture
        return true;
      case 2:  // delta
        if (end - p < 2) return false;
        x += p[0];
        row += p[1];
        p += 2;
        if (x > stride || row >= rows) return false;
        break;
      default: {  // absolute run, padded to a whole word
        const std::size_t stored = value + (value & 1);
        if (x + value > stride || static_cast<std::size_t>(end - p) < stored) return false;
        for (unsigned i = 0; i < value; ++i, ++x) {
          if (x < width) pixels[row * stride + x] = p[i];
        }
        p += stored;
        break;
      }
    }
  }
}

}  // namespace

bool rewrite_bmp(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  if (size < kFileHeaderSize + kWindowsHeaderSize || data[0] != 'B' || data[1] != 'M') {
    return false;
  }
  const std::uint64_t data_offset = le32_of(data + 10);
  const std::size_t header_size = le32_of(data + 14);
  if (header_size != kWindowsHeaderSize && header_size != kV4HeaderSize &&
      header_size != kV5HeaderSize) {
    return false;
  }
  const std::size_t header_end = kFileHeaderSize + header_size;
  if (size < header_end) return false;
  const std::uint64_t width = le32_of(data + 18);
  const std::int64_t height = static_cast<std::int32_t>(le32_of(data + 22));
  const std::uint64_t bit_count = le16_at(data + 28);
  const std::uint64_t compression = le32_of(data + 30);
  const bool top_down = height < 0;
  const std::uint64_t rows = static_cast<std::uint64_t>(top_down ? -height : height);
  if (!gate_dimensions_ok(width, rows) || !bit_count_ok(compression, bit_count)) return false;
  const bool compressed = compression == kRle8 || compression == kRle4;
  // A top-down file has no run-length form; the 40-byte header needs a
  // rewrite only for top-down rows or for RLE8 runs over the row padding.
  if (top_down && compressed) return false;
  if (header_size == kWindowsHeaderSize && !top_down && compression != kRle8) return false;

  // Palette up to the pixels; with bit fields just the masks, which the
  // loader reads right after a 40-byte header and then the pixels
  // (bmp.c:654, 677-681). The v4 and v5 headers hold them at the same place.
  const bool bit_fields = compression == kBitFields;
  const std::size_t masks_end = kFileHeaderSize + kWindowsHeaderSize + kMasksSize;
  const std::size_t first_pixel =
      bit_fields && header_size == kWindowsHeaderSize ? masks_end : header_end;
  if (data_offset < first_pixel || data_offset > size) return false;
  if (bit_fields && !masks_ok(data + kFileHeaderSize + kWindowsHeaderSize, bit_count)) {
    return false;
  }
  const std::size_t table_start = bit_fields ? masks_end - kMasksSize : header_end;
  const std::size_t table_end = bit_fields ? masks_end : data_offset;
  const std::size_t table_bytes = table_end - table_start;

  const std::size_t pixels_at = kFileHeaderSize + kWindowsHeaderSize + table_bytes;
  out->assign(data, data + kFileHeaderSize + kWindowsHeaderSize);
  out->insert(out->end(), data + table_start, data + table_end);
  set_le32(out, 10, pixels_at);
  set_le32(out, 14, kWindowsHeaderSize);
  set_le32(out, 22, rows);

  const unsigned char* pixels = data + data_offset;
  const unsigned char* end = data + size;
  if (compression == kRle4) {
    // Only the header changes; the gate then walks the stream.
    out->insert(out->end(), pixels, end);
  } else if (compression == kRle8) {
    const std::uint64_t stride = (width + 3) / 4 * 4;
    out->resize(pixels_at + stride * rows, 0);
    if (!decode_rle8(pixels, end, width, rows, stride, out->data() + pixels_at)) return false;
    set_le32(out, 30, kRgb);
    set_le32(out, 34, stride * rows);
  } else {
    const std::uint64_t stride = (width * bit_count + 31) / 32 * 4;
    if (static_cast<std::uint64_t>(end - pixels) < stride * rows) return false;
    for (std::uint64_t row = 0; row < rows; ++row) {
      const unsigned char* from = pixels + (top_down ? rows - 1 - row : row) * stride;
      out->insert(out->end(), from, from + stride);
    }
  }
  set_le32(out, 2, out->size());
  return true;
}
