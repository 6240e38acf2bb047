// UTF-16 text turned into UTF-8 as it is read: what Windows PowerShell's `>`
// and Notepad's "Unicode" save. Pure computation, the same on every
// platform.
#pragma once

#include <cstddef>

enum class Utf16Order { LittleEndian, BigEndian };

struct Utf16Conversion {
  std::size_t read = 0;     // bytes of `in` taken
  std::size_t written = 0;  // bytes of UTF-8 put in `out`
  bool invalid = false;     // stopped at a lone or reversed surrogate
};

// Converts whole characters from `in` to UTF-8 in `out` while they fit.
// Stops before a character whose bytes are not all in `in` yet (an odd byte,
// a high surrogate without the unit after it), so a caller reading in
// blocks keeps those for the next call; and stops at the first surrogate
// that has no partner, setting `invalid`.
Utf16Conversion utf16_to_utf8(const unsigned char* in, std::size_t in_size, Utf16Order order,
                              char* out, std::size_t out_size);
