// The gate for load_tga (Allegro's src/tga.c).
#include <cstdint>

#include "colormap/image_gate_internal.h"

namespace {

// Bytes per stored pixel for the combinations the loader reads
// (tga.c:358-406), or 0 for any other.
std::uint64_t pixel_bytes(std::uint64_t image_type, std::uint64_t map_type,
                          std::uint64_t pixel_bits) {
  switch (image_type) {
    case 1:
    case 9:
      return map_type == 1 && pixel_bits == 8 ? 1 : 0;
    case 2:
    case 10:
      if (map_type != 0) return 0;
      if (pixel_bits == 15 || pixel_bits == 16) return 2;
      if (pixel_bits == 24) return 3;
      if (pixel_bits == 32) return 4;
      return 0;
    case 3:
    case 11:
      return map_type == 0 && pixel_bits == 8 ? 1 : 0;
    default:
      // The loader looks only at bit 3 and the low 3 bits (tga.c:351-352),
      // so for example type 17 would load as type 1.
      return 0;
  }
}

// The run-length readers write whole packets with no bound (tga.c:43-63 and
// the like), so a packet must not cross the end of a line.
bool rle_passes(GateReader& in, std::uint64_t width, std::uint64_t height,
                std::uint64_t bytes_per_pixel) {
  for (std::uint64_t y = 0; y < height; ++y) {
    std::uint64_t x = 0;
    while (x < width) {
      std::uint64_t packet;
      if (!in.byte(&packet)) return false;
      const std::uint64_t count = (packet & 0x7F) + 1;
      if (!in.skip(packet & 0x80 ? bytes_per_pixel : count * bytes_per_pixel)) return false;
      x += count;
      if (x > width) return false;
    }
  }
  return true;
}

}  // namespace

bool tga_passes_gate(GateReader& in) {
  unsigned char header[18];
  if (!in.bytes(header, sizeof header)) return false;
  const std::uint64_t id_length = header[0];
  const std::uint64_t map_type = header[1];
  const std::uint64_t image_type = header[2];
  const std::uint64_t map_length = le16_at(header + 5);
  const std::uint64_t map_bits = header[7];
  const std::uint64_t width = le16_at(header + 12);
  const std::uint64_t height = le16_at(header + 14);
  const std::uint64_t pixel_bits = header[16];
  const std::uint64_t descriptor = header[17];

  if (map_type > 1) return false;
  if (map_type == 1) {
    // Every entry goes into 256-entry arrays on the stack (tga.c:280,
    // 314-337, 366-370), whatever the image type.
    if (map_length > 256) return false;
    // Other entry sizes read no bytes at all, so the map would be taken as
    // pixels (tga.c:318-335).
    if (map_bits != 16 && map_bits != 24 && map_bits != 32) return false;
  }
  const std::uint64_t bytes_per_pixel = pixel_bytes(image_type, map_type, pixel_bits);
  if (bytes_per_pixel == 0) return false;
  // Right-to-left and interleaved images would be loaded as if they were
  // neither; only top-to-bottom (bit 5) is honoured (tga.c:416).
  if (descriptor & 0xD0) return false;
  if (!in.dimensions_ok(width, height)) return false;

  const std::uint64_t map_bytes = map_type == 1 ? map_length * (map_bits / 8) : 0;
  if (!in.skip(id_length + map_bytes)) return false;
  if (image_type & 8) return rle_passes(in, width, height, bytes_per_pixel);
  // Raw reads stop quietly at the end of the file (tga.c:33-36) and leave the
  // rest of the bitmap uninitialised.
  return in.skip(width * height * bytes_per_pixel);
}
