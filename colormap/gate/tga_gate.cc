// The gate for load_tga_pf (Allegro's src/tga.c).
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <cstdint>

#include "colormap/formats/tga_layout.h"
#include "colormap/gate/gate_reader.h"

namespace {

// Bytes per stored pixel for the combinations the loader reads
// (tga.c:358-406), or 0 for any other.
std::uint64_t pixel_bytes(const tga::Header& h) {
  if (!tga::layout_known(h) || h.pixel_bits == 1) return 0;
  // The loader looks only at bit 3 and the low 3 bits (tga.c:351-352), so
  // any other type would load as one of these.
  return (h.pixel_bits + 7) / 8;
}

}  // namespace

bool tga_passes_gate(GateReader& in) {
  tga::Header header;
  if (!tga::read_header(in.data(), in.size(), &header)) return false;
  if (header.map_type == 1) {
    // Every entry goes into 256-entry arrays on the stack (tga.c:280,
    // 314-337, 366-370), whatever the image type.
    if (header.map_length > 256) return false;
    // Other entry sizes read no bytes at all, so the map would be taken as
    // pixels (tga.c:318-335).
    if (header.map_bits != 16 && header.map_bits != 24 && header.map_bits != 32) return false;
  }
  const std::uint64_t bytes_per_pixel = pixel_bytes(header);
  if (bytes_per_pixel == 0) return false;
  // Right-to-left and interleaved images would be loaded as if they were
  // neither; only top-to-bottom (bit 5) is honoured (tga.c:416).
  if (header.descriptor & (tga::kRightToLeft | tga::kInterleaved)) return false;
  if (!gate_dimensions_ok(header.width, header.height)) return false;

  if (!in.skip(tga::pixels_at(header))) return false;
  if (tga::is_compressed(header)) {
    const auto none = [](auto...) {};
    return in.skip_to(tga::walk_packets(in.data(), in.size(), in.offset(), header.width,
                                        header.height, bytes_per_pixel, none));
  }
  // Raw reads stop quietly at the end of the file (tga.c:33-36) and leave the
  // rest of the bitmap uninitialised.
  return in.skip(header.width * header.height * bytes_per_pixel);
}
