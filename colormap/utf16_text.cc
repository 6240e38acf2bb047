#include "colormap/utf16_text.h"

namespace {

bool is_high_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

template <Utf16Order order>
unsigned unit_at(const unsigned char* in) {
  return order == Utf16Order::LittleEndian ? unsigned{in[0]} | unsigned{in[1]} << 8
                                           : unsigned{in[0]} << 8 | unsigned{in[1]};
}

// One loop for each byte order, so that the byte order costs nothing a unit.
template <Utf16Order order>
Utf16Conversion convert(const unsigned char* in, std::size_t in_size, char* out,
                        std::size_t out_size) {
  Utf16Conversion result;
  std::size_t at = 0;
  std::size_t put = 0;
  while (at + 2 <= in_size) {
    unsigned code = unit_at<order>(in + at);
    if (code < 0x80 && put < out_size) {  // most of a list of paths
      out[put++] = static_cast<char>(code);
      at += 2;
      continue;
    }
    std::size_t units = 1;
    if (is_high_surrogate(code)) {
      if (at + 4 > in_size) break;
      const unsigned low = unit_at<order>(in + at + 2);
      if (!is_low_surrogate(low)) {
        result.invalid = true;
        break;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      units = 2;
    } else if (is_low_surrogate(code)) {
      result.invalid = true;
      break;
    }
    const std::size_t size = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (put + size > out_size) break;
    if (size == 1) {
      out[put] = static_cast<char>(code);
    } else {
      // Lead byte: as many high bits set as the sequence has bytes.
      static const unsigned kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
      for (std::size_t k = size - 1; k > 0; --k) {
        out[put + k] = static_cast<char>(0x80 | (code & 0x3F));
        code >>= 6;
      }
      out[put] = static_cast<char>(kLead[size] | code);
    }
    put += size;
    at += 2 * units;
  }
  result.read = at;
  result.written = put;
  return result;
}

}  // namespace

Utf16Conversion utf16_to_utf8(const unsigned char* in, std::size_t in_size, Utf16Order order,
                              char* out, std::size_t out_size) {
  return order == Utf16Order::LittleEndian
             ? convert<Utf16Order::LittleEndian>(in, in_size, out, out_size)
             : convert<Utf16Order::BigEndian>(in, in_size, out, out_size);
}
