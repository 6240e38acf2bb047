// UTF-16 and UTF-32 text turned into UTF-8 as it is read: what Windows
// PowerShell's `>` and Notepad's "Unicode" save (UTF-16), and PowerShell's
// `-Encoding utf32`. Pure computation, the same on every platform.
#pragma once

#include <cstddef>

enum class WideText { Utf16LittleEndian, Utf16BigEndian, Utf32LittleEndian, Utf32BigEndian };

// "UTF-16" or "UTF-32", for messages.
const char* wide_text_name(WideText encoding);

struct WideConversion {
  std::size_t read = 0;     // bytes of `in` taken
  std::size_t written = 0;  // bytes of UTF-8 put in `out`
  bool invalid = false;     // stopped at a unit that is no character
};

// Converts whole characters from `in` to UTF-8 in `out` while they fit.
// Stops before a character whose bytes are not all in `in` yet (part of a
// unit, a high surrogate without the unit after it), so a caller reading in
// blocks keeps those for the next call; and stops at the first unit that is
// no character (a surrogate without its partner, a UTF-32 value past
// U+10FFFF or in the surrogates' range), setting `invalid`.
WideConversion wide_to_utf8(const unsigned char* in, std::size_t in_size, WideText encoding,
                            char* out, std::size_t out_size);
