// The size an image file's header gives, read before anything else of the
// file is judged: only a 256-pixel image is ever checked further or decoded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colormap/formats/image_format.h"
#include "colormap/image_source.h"

struct ImageSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t pixels() const { return width * height; }  // < 2^63 for every format
};

// The pixels of one entry.
constexpr std::uint64_t kEntryPixels = 256;

// What a header states: the size, and for a layout that no loader reads as
// a paletted image (deep ILBM, 32-bit PCX, grey-and-alpha TGA) its depth,
// so that such an image is named by its size, then by its depth, without
// being decoded. `depth` is 0 where decoding tells the depth.
struct ImageHeader {
  ImageSize size;
  int depth = 0;
  // False when what decides the header may lie past the bytes given: an IFF
  // BMHD, or the one in force at a BODY not reached yet.
  bool settled = true;
};

// Reads the header of a file of `format` from its first bytes. False when
// they hold no header of a layout the tool reads (as the library does, or
// once rewritten); such a file cannot be opened as an image.
bool read_image_header(ImageFormat format, const unsigned char* data, std::size_t size,
                       ImageHeader* header);

// The same for a header that the `size` first bytes of `source`, at `data`,
// leave unsettled: an IFF BODY past them, whose BMHD may lie past them too.
// Reads on from `source` in windows of `window_size` bytes at `window`,
// which may be `data` itself (the first bytes are walked before any window
// is read): only the windows that hold chunk headers, each chunk passed over
// by its length, so time grows with the number of chunks, not with the
// file's size. The header is settled afterwards.
bool read_image_header_on(ImageFormat format, const unsigned char* data, std::size_t size,
                          ImageSource& source, unsigned char* window, std::size_t window_size,
                          ImageHeader* header);
