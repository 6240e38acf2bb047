#include "colormap/wide_text.h"

namespace {

bool is_high_surrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(unsigned long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

template <WideText encoding>
unsigned long unit_at(const unsigned char* in) {
  switch (encoding) {
    case WideText::Utf16LittleEndian:
      return in[0] | unsigned{in[1]} << 8;
    case WideText::Utf16BigEndian:
      return unsigned{in[0]} << 8 | in[1];
    case WideText::Utf32LittleEndian:
      return in[0] | unsigned{in[1]} << 8 | static_cast<unsigned long>(in[2]) << 16 |
             static_cast<unsigned long>(in[3]) << 24;
    case WideText::Utf32BigEndian:
      break;
  }
  return static_cast<unsigned long>(in[0]) << 24 | static_cast<unsigned long>(in[1]) << 16 |
         unsigned{in[2]} << 8 | in[3];
}

// Puts `code` as UTF-8 at out[*put], if it fits.
bool put_utf8(unsigned long code, char* out, std::size_t out_size, std::size_t* put) {
  const std::size_t size = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  if (*put + size > out_size) return false;
  if (size == 1) {
    out[*put] = static_cast<char>(code);
  } else {
    // Lead byte: as many high bits set as the sequence has bytes.
    static const unsigned kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t k = size - 1; k > 0; --k) {
      out[*put + k] = static_cast<char>(0x80 | (code & 0x3F));
      code >>= 6;
    }
    out[*put] = static_cast<char>(kLead[size] | code);
  }
  *put += size;
  return true;
}

// One loop for each encoding, so that it costs nothing a unit.
template <WideText encoding>
WideConversion convert(const unsigned char* in, std::size_t in_size, char* out,
                       std::size_t out_size) {
  constexpr bool utf32 =
      encoding == WideText::Utf32LittleEndian || encoding == WideText::Utf32BigEndian;
  constexpr std::size_t kUnit = utf32 ? 4 : 2;
  WideConversion result;
  std::size_t at = 0;
  std::size_t put = 0;
  while (at + kUnit <= in_size) {
    unsigned long code = unit_at<encoding>(in + at);
    if (code < 0x80 && put < out_size) {  // most of a list of paths
      out[put++] = static_cast<char>(code);
      at += kUnit;
      continue;
    }
    std::size_t units = 1;
    if (!utf32 && is_high_surrogate(code)) {
      if (at + 2 * kUnit > in_size) break;
      const unsigned long low = unit_at<encoding>(in + at + kUnit);
      if (!is_low_surrogate(low)) {
        result.invalid = true;
        break;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      units = 2;
    } else if (is_high_surrogate(code) || is_low_surrogate(code) || code > 0x10FFFF) {
      result.invalid = true;
      break;
    }
    if (!put_utf8(code, out, out_size, &put)) break;
    at += kUnit * units;
  }
  result.read = at;
  result.written = put;
  return result;
}

}  // namespace

const char* wide_text_name(WideText encoding) {
  return encoding == WideText::Utf32LittleEndian || encoding == WideText::Utf32BigEndian ? "UTF-32"
                                                                                         : "UTF-16";
}

WideConversion wide_to_utf8(const unsigned char* in, std::size_t in_size, WideText encoding,
                            char* out, std::size_t out_size) {
  switch (encoding) {
    case WideText::Utf16LittleEndian:
      return convert<WideText::Utf16LittleEndian>(in, in_size, out, out_size);
    case WideText::Utf16BigEndian:
      return convert<WideText::Utf16BigEndian>(in, in_size, out, out_size);
    case WideText::Utf32LittleEndian:
      return convert<WideText::Utf32LittleEndian>(in, in_size, out, out_size);
    case WideText::Utf32BigEndian:
      break;
  }
  return convert<WideText::Utf32BigEndian>(in, in_size, out, out_size);
}
