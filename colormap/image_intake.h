// Reads what judging an image needs, and no more: the header first, whose
// size decides whether anything else is read, then at most a bounded prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "colormap/formats/image_format.h"
#include "colormap/image_header.h"
#include "colormap/image_source.h"

struct IntakeLimits {
  // One read brings in every image an encoder writes at 256 pixels.
  std::size_t first_read = 64 * 1024;
  // A 256-pixel image whose data runs past this is refused: no encoder
  // writes one, and it keeps memory flat whatever a file holds.
  std::size_t max_bytes = 1024 * 1024;
  // The sizes taken, in pixels: an image row's exactly one entry. A
  // palette's picture (splitcolormap) may be of any size up to a cap.
  std::uint64_t min_pixels = kEntryPixels;
  std::uint64_t max_pixels = kEntryPixels;
};

// A file's first bytes as read: the whole file, or a prefix of `max_bytes`.
// One buffer of `max_bytes` serves every image of a run: blocks of other
// sizes allocated and freed by turns would stay on the C library's heap and
// let memory creep up image by image. Only the pages read into are used.
struct ImageBytes {
  std::unique_ptr<unsigned char[]> data;
  std::size_t size = 0;
};

enum class Intake { Bytes, WrongSize, WrongDepth, NoHeader };

// Reads from `source` and returns Bytes (filling `bytes`) for an image of a
// size `limits` takes, WrongSize for any other size, WrongDepth for one of
// those sizes whose header states a depth no loader reads, NoHeader (also on
// a read error) when the first bytes hold no header the tool reads. `header`
// receives the header whenever there is one.
Intake take_in_image(ImageSource& source, ImageFormat format, const IntakeLimits& limits,
                     ImageBytes* bytes, ImageHeader* header);
