#include "colormap/image_entry.h"

#include <allegro.h>

#include <cstring>

#include "colormap/gate/image_gate.h"
#include "colormap/image_source.h"
#include "colormap/rewrite/image_rewrite.h"

namespace {

// What a rewrite may add to the bytes read: a colour, a pad byte, headers.
constexpr std::size_t kRewriteSlack = 64 * 1024;

ImageOutcome outcome(ImageOutcome::Kind kind) {
  ImageOutcome result;
  result.kind = kind;
  return result;
}

ImageOutcome wrong_size(const ImageSize& size) {
  ImageOutcome result = outcome(ImageOutcome::Kind::WrongSize);
  result.size = size;
  return result;
}

// A palette's picture needs only its depth: only a paletted one has colours.
ImageOutcome read_depth(BITMAP* image) {
  ImageOutcome result = outcome(ImageOutcome::Kind::Entry);
  result.depth = bitmap_color_depth(image);
  if (result.depth != 8) result.kind = ImageOutcome::Kind::WrongDepth;
  return result;
}

// A loaded image is a memory bitmap; at depth 8 its lines hold the indices
// as they are, one byte each.
ImageOutcome read_indices(BITMAP* image) {
  const ImageSize size{static_cast<std::uint64_t>(image->w), static_cast<std::uint64_t>(image->h)};
  if (image->w < 1 || image->h < 1 || size.pixels() != kEntryPixels) return wrong_size(size);
  ImageOutcome result = outcome(ImageOutcome::Kind::Entry);
  result.depth = bitmap_color_depth(image);
  if (result.depth != 8) {
    result.kind = ImageOutcome::Kind::WrongDepth;
    return result;
  }
  unsigned char* out = result.entry.data();
  for (int y = 0; y < image->h; ++y, out += image->w) {
    std::memcpy(out, image->line[y], static_cast<std::size_t>(image->w));
  }
  return result;
}

// Header and size, gate, rewrite where needed, the library's loader: each
// judges the one copy read, so a file switched meanwhile cannot slip past.
// With `palette`, the picture's colours are what is wanted, not its entry.
ImageOutcome judge(ImageSource& source, ImageFormat format, ImageRun& run, PaletteBytes* palette) {
  ImageHeader header;
  switch (take_in_image(source, format, run.limits, &run.bytes, &header)) {
    case Intake::NoHeader:
      return outcome(ImageOutcome::Kind::CannotOpen);
    case Intake::WrongSize:
      return wrong_size(header.size);
    case Intake::WrongDepth: {
      ImageOutcome result = outcome(ImageOutcome::Kind::WrongDepth);
      result.depth = header.depth;
      return result;
    }
    case Intake::Bytes:
      break;
  }
  const unsigned char* data = run.bytes.data.get();
  std::size_t size = run.bytes.size;
  std::size_t judged = 0;
  ImageFormat loaded_as = format;
  if (!image_passes_gate(data, run.bytes.size, format, &judged)) {
    // A well-formed file the loader would refuse or misread gets an
    // equivalent one that it reads exactly; anything else stays refused.
    if (run.rewritten.capacity() == 0) run.rewritten.reserve(run.limits.max_bytes + kRewriteSlack);
    if (!rewrite_for_library(format, data, run.bytes.size, &run.rewritten, &judged)) {
      return outcome(ImageOutcome::Kind::CannotOpen);
    }
    data = run.rewritten.data();
    size = run.rewritten.size();
    loaded_as = library_format(format);
  }
  // Exactly the bytes judged: the loader never needs more.
  BITMAP* image = decode_image(loaded_as, data, judged);
  if (!image) return outcome(ImageOutcome::Kind::CannotOpen);
  const ImageOutcome result = palette ? read_depth(image) : read_indices(image);
  destroy_bitmap(image);
  // The colours of a picture the loader took, from the same bytes, at 8 bits;
  // a PCX holds its 256 after the bytes judged. An LBM's are in the file
  // read, wherever its CMAP lies: the rewrite keeps only one met before the
  // BODY.
  if (palette && result.kind == ImageOutcome::Kind::Entry) {
    PaletteBytes colours = *palette;
    ImageOutcome given = result;
    given.colours =
        format == ImageFormat::Lbm
            ? read_loader_palette(format, run.bytes.data.get(), run.bytes.size, 0, &colours)
            : read_loader_palette(loaded_as, data, size, judged, &colours);
    if (given.colours > 0) *palette = colours;
    return given;
  }
  return result;
}

}  // namespace

ImageOutcome read_image_entry(const char* path, ImageFormat format,
                              const platform::FileIdentity& output, ImageRun& run) {
  ImageSource source;
  if (!source.open(path)) return outcome(ImageOutcome::Kind::CannotOpen);
  if (source.same_regular_file_as(output)) {
    return outcome(ImageOutcome::Kind::IsOutput);
  }
  // Read anew on every row, even a file named before: a file rewritten
  // within one timestamp tick, or through a shared mapping, keeps its times.
  return judge(source, format, run, nullptr);
}

ImageOutcome read_image_palette(const char* path, ImageFormat format, ImageRun& run,
                                PaletteBytes* palette) {
  ImageSource source;
  if (!source.open(path)) return outcome(ImageOutcome::Kind::CannotOpen);
  return judge(source, format, run, palette);
}

bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams,
                       ImageRun& run) {
  ImageFormat format;
  ImageOutcome result;  // cannot open, unless the extension names a format
  if (image_format_of(path, &format)) {
    result = read_image_entry(path, format, streams.output_identity, run);
  }
  switch (result.kind) {
    case ImageOutcome::Kind::Entry:
      break;
    case ImageOutcome::Kind::CannotOpen:
      return fail_run(streams, "ERROR. Can't open the image \"%s\", probably bad file format.\n",
                      path);
    case ImageOutcome::Kind::IsOutput:
      return fail_run(streams, "ERROR. The image \"%s\" is the output file.\n", path);
    case ImageOutcome::Kind::WrongSize:
      return fail_run(streams,
                      "ERROR. The image \"%s\" is %llu * %llu pixels (%llu pixels in total). It "
                      "should be an image of exactly 256 pixels in total.\n",
                      path, static_cast<unsigned long long>(result.size.width),
                      static_cast<unsigned long long>(result.size.height),
                      static_cast<unsigned long long>(result.size.pixels()));
    case ImageOutcome::Kind::WrongDepth:
      return fail_run(streams,
                      "ERROR. The image \"%s\" is in %d bits-per-pixel mode (%lld colors). It "
                      "should be in 8 bpp mode (256 colors).\n",
                      path, result.depth,
                      result.depth >= 0 && result.depth < 63 ? 1LL << result.depth : 0LL);
  }
  if (std::fwrite(result.entry.data(), 1, result.entry.size(), streams.output) !=
      result.entry.size()) {
    return fail_write(streams, settings);
  }
  return true;
}
