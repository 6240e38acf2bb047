#include "colormap/image_palette.h"

#include <cstdint>

#include "colormap/formats/bmp_layout.h"
#include "colormap/formats/lbm_layout.h"
#include "colormap/formats/pcx_layout.h"
#include "colormap/formats/tga_layout.h"

namespace {

constexpr std::size_t kColours = 256;

void set_colour(PaletteBytes* palette, std::size_t index, unsigned char red, unsigned char green,
                unsigned char blue) {
  (*palette)[3 * index] = red;
  (*palette)[3 * index + 1] = green;
  (*palette)[3 * index + 2] = blue;
}

// Blue, green, red, and in a Windows table a fourth byte the loader skips.
std::size_t read_bmp(const unsigned char* data, std::size_t size, PaletteBytes* palette) {
  bmp::Header header;
  if (!bmp::read_header(data, size, &header) || header.compression == bmp::kBitFields) return 0;
  const std::size_t entry = header.info_size == bmp::kOs2InfoSize ? 3 : 4;
  const std::uint64_t start = bmp::kFileHeaderSize + header.info_size;
  const std::uint64_t end = header.data_offset < size ? header.data_offset : size;
  std::size_t i = 0;
  for (; i < kColours && start + i * entry + 3 <= end; ++i) {
    const unsigned char* bgr = data + start + i * entry;
    set_colour(palette, i, bgr[2], bgr[1], bgr[0]);
  }
  return i;
}

std::size_t read_pcx(const unsigned char* data, std::size_t size, std::size_t judged,
                     PaletteBytes* palette) {
  pcx::Header header;
  if (!pcx::read_header(data, size, &header) || header.planes != 1) return 0;
  std::size_t at = judged;
  while (at < size && data[at] != pcx::kPaletteMarker) ++at;
  if (at == size) return 0;
  ++at;
  std::size_t i = 0;
  for (; i < kColours && size - at >= 3; ++i, at += 3) {
    set_colour(palette, i, data[at], data[at + 1], data[at + 2]);
  }
  return i;
}

std::size_t read_tga(const unsigned char* data, std::size_t size, PaletteBytes* palette) {
  tga::Header header;
  if (!tga::read_header(data, size, &header) || !tga::layout_known(header)) return 0;
  if ((header.image_type & 7) == 3) {
    for (std::size_t i = 0; i < kColours; ++i) {
      const unsigned char grey = static_cast<unsigned char>(i);
      set_colour(palette, i, grey, grey, grey);
    }
    return kColours;
  }
  if (header.map_type != 1) return 0;
  const std::uint64_t entry = tga::map_entry_bytes(header.map_bits);
  const std::uint64_t map_at = tga::kHeaderSize + header.id_length;
  std::size_t count = 0;
  for (std::uint64_t i = 0; i < header.map_length && header.map_first + i < kColours; ++i) {
    if (map_at + (i + 1) * entry > size) break;
    unsigned char bgr[3];
    tga::map_entry_bgr(data + map_at + i * entry, header.map_bits, bgr);
    set_colour(palette, static_cast<std::size_t>(header.map_first + i), bgr[2], bgr[1], bgr[0]);
    ++count;
  }
  return count;
}

std::size_t read_lbm(const unsigned char* data, std::size_t size, PaletteBytes* palette) {
  std::size_t bytes = 0;
  const unsigned char* rgb = lbm::find_colours(data, size, &bytes);
  const std::size_t count = bytes / 3 < kColours ? bytes / 3 : kColours;
  if (count == 0) return 0;
  for (std::size_t i = 0; i < kColours; ++i) {
    if (i < count) {
      set_colour(palette, i, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    } else {
      set_colour(palette, i, 0, 0, 0);
    }
  }
  return count;
}

}  // namespace

std::size_t read_loader_palette(ImageFormat format, const unsigned char* data, std::size_t size,
                                std::size_t judged, PaletteBytes* palette) {
  switch (format) {
    case ImageFormat::Bmp:
      return read_bmp(data, size, palette);
    case ImageFormat::Pcx:
      return read_pcx(data, size, judged, palette);
    case ImageFormat::Tga:
      return read_tga(data, size, palette);
    case ImageFormat::Lbm:
      return read_lbm(data, size, palette);
  }
  return 0;
}
