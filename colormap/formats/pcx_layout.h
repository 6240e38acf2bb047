// The PCX layout as the size check, the gate and the rewrite read it: the
// 128-byte header and the scan lines, raw or run-length encoded.
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pcx {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteAt = 16;  // the 16-colour palette in the header
constexpr unsigned char kPaletteMarker = 0x0C;

struct Header {
  bool encoded = false;
  unsigned bits = 0;  // per pixel and plane
  unsigned planes = 0;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t bytes_per_line = 0;  // per plane
};

// Reads a header of encoding 0 or 1 whose window is not reversed.
bool read_header(const unsigned char* data, std::size_t size, Header* header);

// 8 bits in one plane (paletted) or three (true colour): what the loader reads.
inline bool is_deep(const Header& h) { return h.bits == 8 && (h.planes == 1 || h.planes == 3); }

// 8 bits in four planes: red, green, blue and alpha (GraphicsMagick and
// ImageMagick, for pictures with transparency). No loader reads it, so the
// header alone tells its depth.
inline bool is_rgba(const Header& h) { return h.bits == 8 && h.planes == 4; }

// 1, 2 or 4 bits in planes that together hold at most 8 bits of index.
inline bool is_packed(const Header& h) {
  return (h.bits == 1 || h.bits == 2 || h.bits == 4) && h.planes >= 1 && h.bits * h.planes <= 8;
}

// Reads scan lines one at a time from raw or run-length data. A run must end
// with its line: the loader cuts one that crosses the end (pcx.c:126) and so
// shifts every later line.
class LineReader {
 public:
  LineReader(const unsigned char* data, std::size_t size, std::size_t at, bool encoded)
      : data_(data), size_(size), at_(at), encoded_(encoded) {}

  // Decodes the next line: `planes` plane rows of `plane_bytes` each. Keeps
  // the first `keep` bytes of each plane row, one after the other, in
  // `line` (planes * keep bytes), or only walks the line when `line` is null:
  // a line may be far longer than the pixels it holds.
  bool next(unsigned char* line, std::uint64_t plane_bytes, unsigned planes, std::uint64_t keep);
  std::size_t position() const { return at_; }

 private:
  // Stores `count` bytes of value `value` (or from `from`, when not null) at
  // offset x of the line, where they fall in kept bytes.
  void keep_bytes(unsigned char* line, std::uint64_t x, std::uint64_t count, unsigned char value,
                  const unsigned char* from) const;

  std::uint64_t plane_bytes_ = 0;
  std::uint64_t keep_ = 0;
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_;
  bool encoded_;
};

}  // namespace pcx
