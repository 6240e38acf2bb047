// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include "colormap/formats/pcx_layout.h"

#include <algorithm>
#include <cstring>

#include "colormap/formats/bytes.h"

namespace pcx {

bool read_header(const unsigned char* data, std::size_t size, Header* header) {
  if (size < kHeaderSize || data[0] != 0x0A || data[2] > 1) return false;
  // The loader takes these differences unchecked (pcx.c:83-86); reversed
  // ones make a bitmap of negative size.
  const std::uint64_t x_min = le16_at(data + 4), y_min = le16_at(data + 6);
  const std::uint64_t x_max = le16_at(data + 8), y_max = le16_at(data + 10);
  if (x_max < x_min || y_max < y_min) return false;
  header->encoded = data[2] == 1;
  header->bits = data[3];
  header->planes = data[65];
  header->width = x_max - x_min + 1;
  header->height = y_max - y_min + 1;
  header->bytes_per_line = le16_at(data + 66);
  return true;
}

void LineReader::keep_bytes(unsigned char* line, std::uint64_t x, std::uint64_t count,
                            unsigned char value, const unsigned char* from) const {
  while (count > 0) {
    const std::uint64_t plane = x / plane_bytes_, column = x % plane_bytes_;
    const std::uint64_t in_row = std::min(count, plane_bytes_ - column);
    if (column < keep_) {
      const std::uint64_t kept = std::min(in_row, keep_ - column);
      unsigned char* to = line + plane * keep_ + column;
      if (from) {
        std::memcpy(to, from, kept);
      } else {
        std::memset(to, value, kept);
      }
    }
    x += in_row;
    count -= in_row;
    if (from) from += in_row;
  }
}

bool LineReader::next(unsigned char* line, std::uint64_t plane_bytes, unsigned planes,
                      std::uint64_t keep) {
  plane_bytes_ = plane_bytes;
  keep_ = std::min(keep, plane_bytes);
  const std::uint64_t length = plane_bytes * planes;
  if (!encoded_) {
    if (size_ - at_ < length) return false;
    if (line && length > 0) keep_bytes(line, 0, length, 0, data_ + at_);
    at_ += length;
    return true;
  }
  std::uint64_t x = 0;
  while (x < length) {
    if (at_ == size_) return false;
    unsigned char value = data_[at_++];
    std::uint64_t count = 1;
    if (value >= 0xC0) {
      count = value & 0x3F;
      if (at_ == size_ || x + count > length) return false;
      value = data_[at_++];
    }
    if (line && count > 0) keep_bytes(line, x, count, value, nullptr);
    x += count;
  }
  return true;
}

}  // namespace pcx
