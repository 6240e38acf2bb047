// The TGA layout as the size check, the gate and the rewrite read it: the
// 18-byte header and run-length packets.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tga {

constexpr std::size_t kHeaderSize = 18;
constexpr unsigned kRightToLeft = 0x10;  // descriptor bit: each line stored from its right end
constexpr unsigned kTopToBottom = 0x20;  // descriptor bit: rows stored from the top
constexpr unsigned kInterleaved = 0xC0;  // descriptor bits: lines stored two or four ways apart

struct Header {
  std::uint64_t id_length = 0;
  std::uint64_t map_type = 0;
  std::uint64_t image_type = 0;
  std::uint64_t map_first = 0;  // the index of the first map entry
  std::uint64_t map_length = 0;
  std::uint64_t map_bits = 0;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t pixel_bits = 0;
  std::uint64_t descriptor = 0;
};

bool read_header(const unsigned char* data, std::size_t size, Header* header);

inline bool is_compressed(const Header& h) { return (h.image_type & 8) != 0; }

// Bytes per colour map entry: 15- and 16-bit entries alike take two.
inline std::uint64_t map_entry_bytes(std::uint64_t map_bits) { return (map_bits + 7) / 8; }

// One colour map entry of `map_bits` as blue, green and red of 8 bits each:
// 8 bits are a grey, 15 and 16 bits hold 5 bits a channel (widened by
// repeating their top bits), 24 and 32 bits are blue, green, red (and alpha).
void map_entry_bgr(const unsigned char* entry, std::uint64_t map_bits, unsigned char* bgr);

// Where the pixels start: after the header, the image id and the colour map.
inline std::uint64_t pixels_at(const Header& h) {
  return kHeaderSize + h.id_length +
         (h.map_type == 1 ? h.map_length * map_entry_bytes(h.map_bits) : 0);
}

// The layouts the format defines for paletted, grey and true-colour images;
// others have no image the tool can take.
bool layout_known(const Header& header);

// Grey and alpha, 16 bits a pixel, no colour map, raw or run-length
// (Pillow's mode "LA"). No loader reads it, so the header alone tells its
// depth; layout_known leaves it out, as the gate and the rewrite refuse it.
inline bool is_grey_alpha(const Header& h) {
  return (h.image_type == 3 || h.image_type == 11) && h.map_type == 0 && h.pixel_bits == 16;
}

// Walks run-length packets of `pixel_bytes` per pixel from `at`, line by
// line: a packet must not cross the end of a line, since the loader writes
// whole packets with no bound (tga.c:43-63 and the like). Calls
// pixels(x, y, bytes, count, repeated) for each packet, y counted in stored
// order; returns the offset past the last packet, or 0 when the data is cut
// short or a packet crosses a line.
template <class Pixels>
std::size_t walk_packets(const unsigned char* data, std::size_t size, std::size_t at,
                         std::uint64_t width, std::uint64_t height, std::uint64_t pixel_bytes,
                         Pixels pixels) {
  for (std::uint64_t y = 0; y < height; ++y) {
    std::uint64_t x = 0;
    while (x < width) {
      if (at == size) return 0;
      const unsigned packet = data[at++];
      const std::uint64_t count = (packet & 0x7F) + 1;
      const bool repeated = (packet & 0x80) != 0;
      const std::uint64_t stored = repeated ? pixel_bytes : count * pixel_bytes;
      if (x + count > width || size - at < stored) return 0;
      pixels(x, y, data + at, count, repeated);
      at += stored;
      x += count;
    }
  }
  return at;
}

}  // namespace tga
