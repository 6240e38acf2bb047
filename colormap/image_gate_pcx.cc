// The gate for load_pcx (Allegro's src/pcx.c).
#include <cstdint>

#include "colormap/image_gate_internal.h"

bool pcx_passes_gate(GateReader& in) {
  unsigned char header[128];
  if (!in.bytes(header, sizeof header)) return false;
  // The loader skips the manufacturer and encoding bytes (pcx.c:75-77) and
  // always decodes run-length data, so anything else would be misread.
  if (header[0] != 0x0A || header[2] != 1) return false;
  if (header[3] != 8) return false;
  const std::uint64_t planes = header[65];
  if (planes != 1 && planes != 3) return false;

  // The loader takes these differences unchecked (pcx.c:83-86); negative
  // ones make a bitmap of negative size.
  const std::uint64_t x_min = le16_at(header + 4);
  const std::uint64_t y_min = le16_at(header + 6);
  const std::uint64_t x_max = le16_at(header + 8);
  const std::uint64_t y_max = le16_at(header + 10);
  if (x_max < x_min || y_max < y_min) return false;
  const std::uint64_t width = x_max - x_min + 1;
  const std::uint64_t height = y_max - y_min + 1;
  if (!in.dimensions_ok(width, height)) return false;

  // Only bytes_per_line pixels of each row are filled, and the bitmap is
  // never cleared: a shorter line leaves heap garbage in the image.
  const std::uint64_t bytes_per_line = le16_at(header + 66);
  if (bytes_per_line < width) return false;

  // A run that crosses the end of a line is cut there (pcx.c:126), which
  // shifts every later line, so each line must end exactly.
  const std::uint64_t line_bytes = bytes_per_line * planes;
  for (std::uint64_t y = 0; y < height; ++y) {
    std::uint64_t x = 0;
    while (x < line_bytes) {
      std::uint64_t code;
      if (!in.byte(&code)) return false;
      std::uint64_t count = 1;
      if (code >= 0xC0) {
        count = code & 0x3F;
        if (!in.skip(1)) return false;
      }
      x += count;
    }
    if (x != line_bytes) return false;
  }
  return true;
}
