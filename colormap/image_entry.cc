#include "colormap/image_entry.h"

#include <allegro.h>

#include "colormap/image_gate.h"

namespace {

constexpr long long kEntryPixels = 256;

bool fail_open(const char* path, RunStreams& streams) {
  return fail_run(streams, "ERROR. Can't open the image \"%s\", probably bad file format.\n", path);
}

// Checks size and depth; on failure the run is ended (the caller still owns
// and releases the image).
bool check_image(BITMAP* image, const char* path, RunStreams& streams) {
  const long long total = static_cast<long long>(image->w) * image->h;
  if (total != kEntryPixels) {
    return fail_run(streams,
                    "ERROR. The image \"%s\" is %d * %d pixels (%lld pixels in total). It should "
                    "be an image of exactly 256 pixels in total.\n",
                    path, image->w, image->h, total);
  }
  const int depth = bitmap_color_depth(image);
  if (depth != 8) {
    const long long colors = (depth >= 0 && depth < 63) ? (1LL << depth) : 0;
    return fail_run(streams,
                    "ERROR. The image \"%s\" is in %d bits-per-pixel mode (%lld colors). It "
                    "should be in 8 bpp mode (256 colors).\n",
                    path, depth, colors);
  }
  return true;
}

// Writes the palette indices line by line from the top-left corner.
bool write_indices(BITMAP* image, const char* path, const RunSettings& settings,
                   RunStreams& streams) {
  unsigned char entry[kEntryPixels];
  std::size_t count = 0;
  for (int y = 0; y < image->h; ++y) {
    for (int x = 0; x < image->w; ++x) {
      const int value = getpixel(image, x, y);
      if (static_cast<unsigned>(value) > 255) {
        // The pixels before the bad one belong to the output.
        if (std::fwrite(entry, 1, count, streams.output) != count) {
          return fail_write(streams, settings);
        }
        return fail_run(streams,
                        "ERROR. For some unknown reason the pixel [%d, %d] in the image \"%s\" is "
                        "color %d, while it should be between 0 and 255.\n",
                        x, y, path, value);
      }
      entry[count++] = static_cast<unsigned char>(value);
    }
  }
  if (std::fwrite(entry, 1, count, streams.output) != count) return fail_write(streams, settings);
  return true;
}

}  // namespace

bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams) {
  struct stat image_stat;
  if (stat(path, &image_stat) == 0 && same_regular_file(image_stat, streams.output_stat)) {
    return fail_run(streams, "ERROR. The image \"%s\" is the output file.\n", path);
  }
  ImageFormat format;
  if (!image_format_of(path, &format) || !image_passes_gate(path, format)) {
    return fail_open(path, streams);
  }
  BITMAP* image = load_bitmap(path, nullptr);
  if (!image) return fail_open(path, streams);
  const bool written =
      check_image(image, path, streams) && write_indices(image, path, settings, streams);
  destroy_bitmap(image);
  return written;
}
