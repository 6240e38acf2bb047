#include "colormap/image_palette.h"

#include <cstdint>

#include "colormap/formats/bmp_layout.h"
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
void read_bmp(const unsigned char* data, std::size_t size, PaletteBytes* palette) {
  bmp::Header header;
  if (!bmp::read_header(data, size, &header) || header.compression == bmp::kBitFields) return;
  const std::size_t entry = header.info_size == bmp::kOs2InfoSize ? 3 : 4;
  const std::uint64_t start = bmp::kFileHeaderSize + header.info_size;
  const std::uint64_t end = header.data_offset < size ? header.data_offset : size;
  for (std::size_t i = 0; i < kColours && start + i * entry + 3 <= end; ++i) {
    const unsigned char* bgr = data + start + i * entry;
    set_colour(palette, i, bgr[2], bgr[1], bgr[0]);
  }
}

void read_pcx(const unsigned char* data, std::size_t size, std::size_t judged,
              PaletteBytes* palette) {
  pcx::Header header;
  if (!pcx::read_header(data, size, &header)) return;
  for (std::size_t i = 0; i < 16; ++i) {
    const unsigned char* rgb = data + pcx::kPaletteAt + 3 * i;
    set_colour(palette, i, rgb[0], rgb[1], rgb[2]);
  }
  if (header.planes != 1) return;
  std::size_t at = judged;
  while (at < size && data[at] != pcx::kPaletteMarker) ++at;
  if (at == size) return;
  ++at;
  for (std::size_t i = 0; i < kColours && size - at >= 3; ++i, at += 3) {
    set_colour(palette, i, data[at], data[at + 1], data[at + 2]);
  }
}

void read_tga(const unsigned char* data, std::size_t size, PaletteBytes* palette) {
  tga::Header header;
  if (!tga::read_header(data, size, &header) || !tga::layout_known(header)) return;
  if ((header.image_type & 7) == 3) {
    for (std::size_t i = 0; i < kColours; ++i) {
      const unsigned char grey = static_cast<unsigned char>(i);
      set_colour(palette, i, grey, grey, grey);
    }
    return;
  }
  if (header.map_type != 1) return;
  const std::uint64_t entry = tga::map_entry_bytes(header.map_bits);
  const std::uint64_t map_at = tga::kHeaderSize + header.id_length;
  for (std::uint64_t i = 0; i < header.map_length && header.map_first + i < kColours; ++i) {
    if (map_at + (i + 1) * entry > size) return;
    unsigned char bgr[3];
    tga::map_entry_bgr(data + map_at + i * entry, header.map_bits, bgr);
    set_colour(palette, static_cast<std::size_t>(header.map_first + i), bgr[2], bgr[1], bgr[0]);
  }
}

}  // namespace

void read_loader_palette(ImageFormat format, const unsigned char* data, std::size_t size,
                         std::size_t judged, PaletteBytes* palette) {
  switch (format) {
    case ImageFormat::Bmp:
      read_bmp(data, size, palette);
      break;
    case ImageFormat::Pcx:
      read_pcx(data, size, judged, palette);
      break;
    case ImageFormat::Tga:
      read_tga(data, size, palette);
      break;
    case ImageFormat::Lbm:
      break;  // read only rewritten, as a BMP
  }
}
