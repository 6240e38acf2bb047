// BMP layouts load_bmp_pf refuses or misreads, rebuilt with the 40-byte
// info header, bottom-up rows and, for RLE8, plain rows.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <algorithm>
#include <cstdint>

#include "colormap/formats/bmp_layout.h"
#include "colormap/gate/gate_reader.h"
#include "colormap/rewrite/image_rewrite.h"

namespace {

constexpr std::size_t kMaxPalette = 256 * 4;

void set_le32(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// Decodes an RLE8 stream into bottom-up rows of `stride` bytes (already
// zeroed: skipped pixels stay colour 0, as in the loader's cleared bitmap).
// Runs may cover the row's padding, as GraphicsMagick writes them for
// widths that are not a multiple of 4; the loader would write those pixels
// into the neighbouring row (bmp.c:466-470), so they are dropped here.
bool decode_rle8(const unsigned char* data, std::size_t size, std::size_t at,
                 const bmp::Header& header, std::uint64_t stride, unsigned char* pixels) {
  const std::uint64_t width = header.width;
  const auto fill = [&](std::uint64_t row, std::uint64_t x, std::uint64_t count, unsigned value) {
    for (; count > 0 && x < width; --count, ++x) {
      pixels[row * stride + x] = static_cast<unsigned char>(value);
    }
  };
  const auto copy = [&](std::uint64_t row, std::uint64_t x, const unsigned char* bytes,
                        std::uint64_t count) {
    for (std::uint64_t i = 0; i < count && x + i < width; ++i)
      pixels[row * stride + x + i] = bytes[i];
  };
  return bmp::walk_rle(data, size, at, header, stride, fill, copy) != 0;
}

}  // namespace

bool rewrite_bmp(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  bmp::Header header;
  if (!bmp::read_header(data, size, &header) || header.info_size == bmp::kOs2InfoSize) {
    return false;
  }
  if (!gate_dimensions_ok(header.width, header.rows) || !bmp::combination_known(header)) {
    return false;
  }
  const bool compressed = header.compression == bmp::kRle8 || header.compression == bmp::kRle4;
  // A top-down file has no run-length form; the 40-byte header needs a
  // rewrite only for top-down rows or for RLE8 runs over the row padding.
  if (header.top_down && compressed) return false;
  if (header.info_size == bmp::kInfoSize && !header.top_down && header.compression != bmp::kRle8) {
    return false;
  }

  // Palette up to the pixels; with bit fields just the masks, which the
  // loader reads right after a 40-byte header and then the pixels
  // (bmp.c:654, 677-681). The v4 and v5 headers hold them at the same place.
  const bool bit_fields = header.compression == bmp::kBitFields;
  const std::size_t info_end = bmp::kFileHeaderSize + bmp::kInfoSize;
  const std::size_t masks_end = info_end + bmp::kMasksSize;
  const std::size_t header_end = bmp::kFileHeaderSize + header.info_size;
  const std::size_t first_pixel =
      bit_fields && header.info_size == bmp::kInfoSize ? masks_end : header_end;
  if (header.data_offset < first_pixel || header.data_offset > size) return false;
  if (bit_fields && !bmp::masks_known(data + info_end, header.bit_count, true)) return false;
  const std::size_t table_start = bit_fields ? info_end : header_end;
  // The loader takes at most 256 colours from the palette region and skips
  // the rest (bmp.c:155-174); the colours play no part in the entry anyway.
  const std::size_t table_end =
      bit_fields ? masks_end : std::min<std::size_t>(header.data_offset, header_end + kMaxPalette);

  const std::size_t pixels_at = info_end + (table_end - table_start);
  const std::size_t pixels = header.data_offset;
  const std::uint64_t stride = bmp::row_stride(header.width, header.bit_count);
  const std::uint64_t pixel_bytes =
      header.compression == bmp::kRle4 ? size - pixels : stride * header.rows;
  if (!compressed && size - pixels < pixel_bytes) return false;
  out->reserve(pixels_at + pixel_bytes);
  out->assign(data, data + info_end);
  out->insert(out->end(), data + table_start, data + table_end);
  set_le32(out, 10, pixels_at);
  set_le32(out, 14, bmp::kInfoSize);
  set_le32(out, 22, header.rows);

  if (header.compression == bmp::kRle4) {
    // Only the header changes; the gate then walks the stream.
    out->insert(out->end(), data + pixels, data + size);
  } else if (header.compression == bmp::kRle8) {
    out->resize(pixels_at + stride * header.rows, 0);
    if (!decode_rle8(data, size, pixels, header, stride, out->data() + pixels_at)) return false;
    set_le32(out, 30, bmp::kRgb);
    set_le32(out, 34, stride * header.rows);
  } else {
    for (std::uint64_t row = 0; row < header.rows; ++row) {
      const unsigned char* from =
          data + pixels + (header.top_down ? header.rows - 1 - row : row) * stride;
      out->insert(out->end(), from, from + stride);
    }
  }
  set_le32(out, 2, out->size());
  return true;
}
