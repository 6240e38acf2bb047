// PCX layouts load_pcx_pf refuses or misreads, rebuilt as the one it reads:
// run-length encoded, 8 bits per pixel, one plane (or three for true colour).
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <algorithm>
#include <cstdint>

#include "colormap/formats/pcx_layout.h"
#include "colormap/gate/gate_reader.h"
#include "colormap/rewrite/image_rewrite.h"

namespace {

// Run-length encodes one line. The loader takes any byte of 0xC0 and above
// as a run code (pcx.c:128), so such a byte goes out as a run of one.
void encode_line(const unsigned char* line, std::size_t length, std::vector<unsigned char>* out) {
  std::size_t i = 0;
  while (i < length) {
    const unsigned char value = line[i];
    std::size_t count = 1;
    while (count < 63 && i + count < length && line[i + count] == value) ++count;
    if (count > 1 || value >= 0xC0) out->push_back(static_cast<unsigned char>(0xC0 | count));
    out->push_back(value);
    i += count;
  }
}

}  // namespace

bool rewrite_pcx(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  pcx::Header header;
  if (!pcx::read_header(data, size, &header)) return false;
  const std::uint64_t width = header.width, height = header.height;
  const unsigned bits = header.bits, planes = header.planes;
  const std::size_t bytes_per_line = header.bytes_per_line;
  if (!gate_dimensions_ok(width, height)) return false;

  const bool deep = pcx::is_deep(header);
  // 8-bit files the loader refuses for another reason than raw lines are
  // not ours to mend.
  if (!(deep && !header.encoded) && !pcx::is_packed(header)) return false;
  if (bytes_per_line * 8 < width * bits) return false;

  // Only the bytes that hold pixels of each plane row are kept.
  const std::size_t kept = static_cast<std::size_t>(deep ? width : (width * bits + 7) / 8);
  std::vector<unsigned char> line(kept * planes);
  pcx::LineReader in(data, size, pcx::kHeaderSize, header.encoded);
  out->assign(data, data + pcx::kHeaderSize);
  (*out)[2] = 1;

  if (deep) {
    // Lines of only the bytes the loader puts in the bitmap: a 256-pixel
    // image may claim lines of up to 64 KiB.
    (*out)[66] = static_cast<unsigned char>(kept);
    (*out)[67] = static_cast<unsigned char>(kept >> 8);
    for (std::uint64_t y = 0; y < height; ++y) {
      if (!in.next(line.data(), bytes_per_line, planes, kept)) return false;
      for (unsigned plane = 0; plane < planes; ++plane) {
        encode_line(line.data() + plane * kept, kept, out);
      }
    }
    // The 256-colour palette, marker first, right after the pixels, where
    // the loader looks for it; nothing past it.
    const std::size_t rest = size - in.position();
    out->insert(out->end(), data + in.position(),
                data + in.position() + std::min<std::size_t>(rest, 1 + 256 * 3));
    return true;
  }

  // Each pixel's index gathers its bits from every plane, the first plane
  // holding the lowest bits.
  const std::size_t out_line = static_cast<std::size_t>(width + (width & 1));
  if (out_line > 0xFFFF) return false;
  (*out)[3] = 8;
  (*out)[65] = 1;
  (*out)[66] = static_cast<unsigned char>(out_line);
  (*out)[67] = static_cast<unsigned char>(out_line >> 8);
  (*out)[68] = 1;  // colour palette
  (*out)[69] = 0;
  std::vector<unsigned char> indices(out_line, 0);
  const unsigned per_byte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (std::uint64_t y = 0; y < height; ++y) {
    if (!in.next(line.data(), bytes_per_line, planes, kept)) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const unsigned shift = 8 - bits * (1 + x % per_byte);
      unsigned index = 0;
      for (unsigned plane = 0; plane < planes; ++plane) {
        const unsigned sample = line[plane * kept + x / per_byte] >> shift & mask;
        index |= sample << (plane * bits);
      }
      indices[x] = static_cast<unsigned char>(index);
    }
    encode_line(indices.data(), out_line, out);
  }
  // The header's 16 colours, which these depths index, as the 256-colour palette.
  out->push_back(pcx::kPaletteMarker);
  out->insert(out->end(), data + pcx::kPaletteAt, data + pcx::kPaletteAt + 48);
  out->insert(out->end(), 256 * 3 - 48, 0);
  return true;
}
