#include "colormap/image_intake.h"

#include <algorithm>

namespace {

bool read_more(ImageSource& source, std::size_t want, ImageBytes* bytes) {
  const long got = source.read(bytes->data.get() + bytes->size, want);
  if (got < 0) return false;
  bytes->size += static_cast<std::size_t>(got);
  return true;
}

}  // namespace

Intake take_in_image(ImageSource& source, ImageFormat format, const IntakeLimits& limits,
                     ImageBytes* bytes, ImageHeader* header) {
  if (!bytes->data) bytes->data.reset(new unsigned char[limits.max_bytes]);  // left uninitialised
  bytes->size = 0;
  const std::size_t capacity =
      static_cast<std::size_t>(std::min<std::uint64_t>(source.left(), limits.max_bytes));
  if (!read_more(source, std::min(capacity, limits.first_read), bytes)) return Intake::NoHeader;
  // An IFF header, or the one in force at the BODY, may lie past the first
  // read: judged again once the rest is in.
  for (bool whole = bytes->size == capacity;; whole = true) {
    bool known = read_image_header(format, bytes->data.get(), bytes->size, header);
    if (!header->settled && !whole) {
      if (!read_more(source, capacity - bytes->size, bytes)) return Intake::NoHeader;
      continue;
    }
    // Or even past the bytes any image may take: only chunk headers are read
    // on, into the same buffer, and what they say can only name the size or
    // the depth, since nothing past the bytes read is ever decoded.
    const bool beyond = !header->settled && source.left() > 0;
    if (beyond) {
      known = read_image_header_on(format, bytes->data.get(), bytes->size, source,
                                   bytes->data.get(), limits.first_read, header);
      bytes->size = 0;
    }
    if (!known) return Intake::NoHeader;
    const std::uint64_t pixels = header->size.pixels();
    if (pixels < limits.min_pixels || pixels > limits.max_pixels) return Intake::WrongSize;
    if (header->depth != 0) return Intake::WrongDepth;
    if (beyond) return Intake::NoHeader;  // a 256-pixel picture past the first MiB
    if (whole) return Intake::Bytes;
    if (!read_more(source, capacity - bytes->size, bytes)) return Intake::NoHeader;
  }
}
