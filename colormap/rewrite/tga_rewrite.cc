// TGA layouts load_tga_pf refuses or misreads, rebuilt as the ones it reads:
// uncompressed, 8 bits per pixel, colour-mapped with at most 256 entries of
// 24 bits, or grey; or, for true colour, uncompressed at the same depth.
// Stored indices are kept as they are, whatever the map holds, as the loader
// keeps them; it ignores the map's first-entry field (tga.c:302), so the map
// is rebuilt from index 0.
//   More than 256 entries (GIMP's indexed export with transparency) overrun
//   the loader's 256-entry arrays (tga.c:280, 314-337); 8- and 15-bit entries
//   (netpbm's pamtotga -cmap on grey, -cmap16) read no bytes at all
//   (tga.c:318-335); 1-bit grey (GraphicsMagick for black and white, Pillow's
//   mode "1") is refused (tga.c:390-394); lines stored from the right
//   (descriptor bit 4) are read as if stored from the left (tga.c:416), so
//   they are mirrored here, in every layout.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "colormap/formats/bytes.h"
#include "colormap/formats/tga_layout.h"
#include "colormap/gate/gate_reader.h"
#include "colormap/rewrite/image_rewrite.h"

namespace {

constexpr std::uint64_t kLoaderMapEntries = 256;  // tga.c:280

// One map entry as the loader's 24-bit entries are stored: blue, green, red.
void put_entry(const unsigned char* entry, std::uint64_t bits, std::vector<unsigned char>* out) {
  unsigned char bgr[3];
  tga::map_entry_bgr(entry, bits, bgr);
  out->insert(out->end(), bgr, bgr + 3);
}

// Reads the stored bytes of one line of `count` pixels of `pixel_bytes` each
// from `*at`, raw or run-length encoded; a packet must end with its line, as
// the gate requires.
bool read_line(const unsigned char* data, std::size_t size, std::size_t* at, bool encoded,
               unsigned char* line, std::size_t count, std::size_t pixel_bytes) {
  if (!encoded) {
    if (size - *at < count * pixel_bytes) return false;
    std::memcpy(line, data + *at, count * pixel_bytes);
    *at += count * pixel_bytes;
    return true;
  }
  const auto fill = [&](std::uint64_t x, std::uint64_t, const unsigned char* bytes,
                        std::uint64_t pixels, bool repeated) {
    unsigned char* to = line + x * pixel_bytes;
    if (!repeated) {
      std::memcpy(to, bytes, pixels * pixel_bytes);
      return;
    }
    for (std::uint64_t k = 0; k < pixels; ++k)
      std::memcpy(to + k * pixel_bytes, bytes, pixel_bytes);
  };
  *at = tga::walk_packets(data, size, *at, count, 1, pixel_bytes, fill);
  return *at != 0;
}

}  // namespace

bool rewrite_tga(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  tga::Header h;
  if (!tga::read_header(data, size, &h) || !tga::layout_known(h)) return false;
  // Interleaved lines, which the loader would not honour either.
  if (h.descriptor & tga::kInterleaved) return false;
  if (!gate_dimensions_ok(h.width, h.height)) return false;
  const bool encoded = tga::is_compressed(h);
  const bool mapped = h.map_type == 1;
  const bool mono = !mapped && (h.image_type & 7) == 3 && h.pixel_bits == 1;
  const bool true_colour = (h.image_type & 7) == 2;
  const bool mirrored = (h.descriptor & tga::kRightToLeft) != 0;
  // The loader reads the others itself, lines from the left; such a file was
  // refused for its data.
  const bool map_read = mapped && h.map_length <= kLoaderMapEntries &&
                        (h.map_bits == 16 || h.map_bits == 24 || h.map_bits == 32);
  if (!mirrored && !mono && (!mapped || map_read)) return false;
  const std::uint64_t entry_bytes = mapped ? tga::map_entry_bytes(h.map_bits) : 0;
  const std::uint64_t map_at = tga::kHeaderSize + h.id_length;
  const std::uint64_t pixels_at = tga::pixels_at(h);
  if (pixels_at > size) return false;

  // Bytes a stored pixel takes, and the pixels a stored line holds. 1-bit
  // lines are packed, first pixel in the top bit, and padded to whole bytes;
  // Pillow's run-length 1-bit lines run on to `width` bytes, of which only
  // the packed ones count.
  const std::size_t pixel_bytes = static_cast<std::size_t>(mono ? 1 : (h.pixel_bits + 7) / 8);
  const std::size_t width = static_cast<std::size_t>(h.width);
  const std::size_t stored = mono && !encoded ? (width + 7) / 8 : width;
  const std::uint64_t entries =
      mapped ? std::min(h.map_first + h.map_length, kLoaderMapEntries) : 0;

  out->assign(tga::kHeaderSize, 0);
  (*out)[1] = mapped ? 1 : 0;
  (*out)[2] = mapped ? 1 : true_colour ? 2 : 3;
  (*out)[5] = static_cast<unsigned char>(entries);
  (*out)[6] = static_cast<unsigned char>(entries >> 8);
  (*out)[7] = mapped ? 24 : 0;
  std::memcpy(out->data() + 12, data + 12, 4);  // width and height
  (*out)[16] = static_cast<unsigned char>(true_colour ? h.pixel_bits : 8);
  (*out)[17] = static_cast<unsigned char>(h.descriptor & tga::kTopToBottom);  // stored order kept
  for (std::uint64_t i = 0; i < entries; ++i) {
    if (i < h.map_first) {
      out->insert(out->end(), 3, 0);  // entries the file leaves out
    } else {
      put_entry(data + map_at + (i - h.map_first) * entry_bytes, h.map_bits, out);
    }
  }

  std::vector<unsigned char> line(stored * pixel_bytes);
  std::vector<unsigned char> pixels(width * pixel_bytes);
  std::size_t at = static_cast<std::size_t>(pixels_at);
  for (std::uint64_t y = 0; y < h.height; ++y) {
    if (!read_line(data, size, &at, encoded, line.data(), stored, pixel_bytes)) return false;
    for (std::size_t x = 0; x < width; ++x) {
      // The pixel x places from the left was stored x places from the right.
      const std::size_t from = mirrored ? width - 1 - x : x;
      if (mono) {
        pixels[x] = line[from / 8] >> (7 - from % 8) & 1;
      } else {
        std::memcpy(&pixels[x * pixel_bytes], &line[from * pixel_bytes], pixel_bytes);
      }
    }
    out->insert(out->end(), pixels.begin(), pixels.end());
  }
  return true;
}
