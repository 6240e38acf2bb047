// PCX layouts load_pcx_pf refuses or misreads, rebuilt as the one it reads:
// run-length encoded, 8 bits per pixel, one plane (or three for true colour).
#include <cstdint>
#include <cstring>

#include "colormap/image_gate_internal.h"
#include "colormap/image_rewrite.h"

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteAt = 16;  // the 16-colour palette in the header
constexpr unsigned char kPaletteMarker = 0x0C;

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

// Reads the bytes of the file's scan lines, one line per call, from raw or
// run-length data. Under the format's rules a run ends with its line.
class LineReader {
 public:
  LineReader(const unsigned char* p, const unsigned char* end, bool encoded)
      : p_(p), end_(end), encoded_(encoded) {}

  bool next(unsigned char* line, std::size_t length) {
    if (!encoded_) {
      if (static_cast<std::size_t>(end_ - p_) < length) return false;
      std::memcpy(line, p_, length);
      p_ += length;
      return true;
    }
    std::size_t x = 0;
    while (x < length) {
      if (p_ == end_) return false;
      unsigned char value = *p_++;
      std::size_t count = 1;
      if (value >= 0xC0) {
        count = value & 0x3F;
        if (p_ == end_ || x + count > length) return false;
        value = *p_++;
      }
      std::memset(line + x, value, count);
      x += count;
    }
    return true;
  }

  const unsigned char* position() const { return p_; }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
  const bool encoded_;
};

}  // namespace

bool rewrite_pcx(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  if (size < kHeaderSize || data[0] != 0x0A || data[2] > 1) return false;
  const bool encoded = data[2] == 1;
  const unsigned bits = data[3];
  const unsigned planes = data[65];
  const std::uint64_t x_min = le16_at(data + 4), y_min = le16_at(data + 6);
  const std::uint64_t x_max = le16_at(data + 8), y_max = le16_at(data + 10);
  if (x_max < x_min || y_max < y_min) return false;
  const std::uint64_t width = x_max - x_min + 1;
  const std::uint64_t height = y_max - y_min + 1;
  const std::size_t bytes_per_line = le16_at(data + 66);
  if (!gate_dimensions_ok(width, height)) return false;

  const bool deep = bits == 8 && (planes == 1 || planes == 3);
  const bool packed = (bits == 1 || bits == 2 || bits == 4) && planes >= 1 && bits * planes <= 8;
  // 8-bit files the loader refuses for another reason than raw lines are
  // not ours to mend.
  if (!(deep && !encoded) && !packed) return false;
  if (bytes_per_line * 8 < width * bits) return false;

  const std::size_t line_bytes = bytes_per_line * planes;
  std::vector<unsigned char> line(line_bytes);
  LineReader in(data + kHeaderSize, data + size, encoded);
  out->assign(data, data + kHeaderSize);
  (*out)[2] = 1;

  if (deep) {
    for (std::uint64_t y = 0; y < height; ++y) {
      if (!in.next(line.data(), line_bytes)) return false;
      encode_line(line.data(), line_bytes, out);
    }
    // The 256-colour palette after the pixels, as the loader looks for it.
    out->insert(out->end(), in.position(), data + size);
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
    if (!in.next(line.data(), line_bytes)) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const unsigned shift = 8 - bits * (1 + x % per_byte);
      unsigned index = 0;
      for (unsigned plane = 0; plane < planes; ++plane) {
        const unsigned sample = line[plane * bytes_per_line + x / per_byte] >> shift & mask;
        index |= sample << (plane * bits);
      }
      indices[x] = static_cast<unsigned char>(index);
    }
    encode_line(indices.data(), out_line, out);
  }
  // The header's 16 colours, which these depths index, as the 256-colour palette.
  out->push_back(kPaletteMarker);
  out->insert(out->end(), data + kPaletteAt, data + kPaletteAt + 48);
  out->insert(out->end(), 256 * 3 - 48, 0);
  return true;
}
