// The gate for load_pcx_pf (Allegro's src/pcx.c).
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <cstdint>

#include "colormap/formats/pcx_layout.h"
#include "colormap/gate/gate_reader.h"

bool pcx_passes_gate(GateReader& in) {
  pcx::Header header;
  if (!pcx::read_header(in.data(), in.size(), &header)) return false;
  // The loader skips the manufacturer and encoding bytes (pcx.c:75-77) and
  // always decodes run-length data, so anything else would be misread.
  if (!header.encoded || !pcx::is_deep(header)) return false;
  if (!gate_dimensions_ok(header.width, header.height)) return false;
  // Only bytes_per_line pixels of each row are filled, and the bitmap is
  // never cleared: a shorter line leaves heap garbage in the image.
  if (header.bytes_per_line < header.width) return false;

  pcx::LineReader lines(in.data(), in.size(), pcx::kHeaderSize, true);
  for (std::uint64_t y = 0; y < header.height; ++y) {
    if (!lines.next(nullptr, header.bytes_per_line, header.planes, 0)) return false;
  }
  return in.skip_to(lines.position());
}
