#include "split/palette.h"

#include <algorithm>
#include <memory>

#include "colormap/image_entry.h"
#include "colormap/rows.h"
#include "split/report.h"
#include "split/text_palette.h"

namespace {

constexpr std::size_t kRawPaletteSize = 256 * 3;
// A text palette of 256 colours with long names and comments is a few KiB;
// anything far larger is no palette, and is never read whole.
constexpr std::size_t kMaxPaletteFile = 1024 * 1024;

bool load_picture_palette(const char* path, ImageFormat format, PaletteBytes* palette) {
  ImageRun run;
  // Read as an image row is, but whole: a PCX holds its colours at its very
  // end, which a read cut short would not reach.
  run.limits.max_bytes = kMaxPalettePictureBytes;
  {
    ImageSource file;
    if (!file.open(path)) return report_cannot_open("palette", path);
    if (file.left() > run.limits.max_bytes) {
      report_error("the palette picture \"%s\" is larger than %llu bytes (2 MiB and 64 KiB)", path,
                   static_cast<unsigned long long>(kMaxPalettePictureBytes));
      return false;
    }
  }
  run.limits.min_pixels = 1;
  run.limits.max_pixels = kMaxPalettePixels;
  const ImageOutcome result = read_image_palette(path, format, run, palette);
  switch (result.kind) {
    case ImageOutcome::Kind::Entry:
      if (result.colours > 0) return true;
      report_error("the palette picture \"%s\" holds no palette", path);
      return false;
    case ImageOutcome::Kind::WrongSize:
      report_error("the palette picture \"%s\" is %llu * %llu pixels; it should hold 1 to %llu",
                   path, static_cast<unsigned long long>(result.size.width),
                   static_cast<unsigned long long>(result.size.height),
                   static_cast<unsigned long long>(kMaxPalettePixels));
      return false;
    case ImageOutcome::Kind::WrongDepth:
      report_error(
          "the palette picture \"%s\" is in %d bits-per-pixel mode; it should be a paletted "
          "picture (8 bpp)",
          path, result.depth);
      return false;
    case ImageOutcome::Kind::CannotOpen:
    case ImageOutcome::Kind::IsOutput:
      break;
  }
  report_error("can't open the palette picture \"%s\", probably bad file format", path);
  return false;
}

}  // namespace

void grey_palette(PaletteBytes* palette) {
  for (std::size_t i = 0; i < 256; ++i) {
    const unsigned char grey = static_cast<unsigned char>(i);
    (*palette)[3 * i] = (*palette)[3 * i + 1] = (*palette)[3 * i + 2] = grey;
  }
}

bool load_palette(const char* path, PaletteBytes* palette) {
  ImageFormat format;
  if (image_format_of(path, &format)) return load_picture_palette(path, format, palette);

  ImageSource file;
  if (!file.open(path)) return report_cannot_open("palette", path);
  if (file.left() > kMaxPaletteFile) {
    report_error("the palette \"%s\" is larger than 1 MiB, far more than any palette", path);
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(file.left());
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (file.read(reinterpret_cast<unsigned char*>(text.get()), size) != static_cast<long>(size)) {
    report_error("can't read the palette \"%s\"", path);
    return false;
  }

  PaletteColours colours;
  const TextPalette kind = text_palette_kind(text.get(), size);
  if (kind != TextPalette::None) {
    TextPaletteError error;
    if (!parse_text_palette(kind, text.get(), size, &colours, &error)) {
      report_error("the palette \"%s\", line %ld: %s", path, error.line, error.problem.c_str());
      return false;
    }
  } else if (size == kRawPaletteSize) {
    for (std::size_t i = 0; i < size; ++i) colours.rgb[i] = static_cast<unsigned char>(text[i]);
    colours.count = 256;
  } else {
    report_error(
        "the palette \"%s\" is %llu bytes of no known palette: expected a picture (.bmp, .lbm, "
        ".pcx, .tga), a JASC-PAL or GIMP palette, or 768 bytes of RGB",
        path, static_cast<unsigned long long>(size));
    return false;
  }
  std::copy(colours.rgb.begin(), colours.rgb.begin() + 3 * colours.count, palette->begin());
  return true;
}
