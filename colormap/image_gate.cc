#include "colormap/image_gate.h"

#include <cstring>

#include "colormap/rows.h"

bool image_format_of(const char* path, ImageFormat* format) {
  const char* extension = std::strrchr(path, '.');
  if (!extension) return false;
  static const struct {
    const char* extension;
    ImageFormat format;
  } kFormats[] = {{".BMP", ImageFormat::Bmp},
                  {".LBM", ImageFormat::Lbm},
                  {".PCX", ImageFormat::Pcx},
                  {".TGA", ImageFormat::Tga}};
  for (const auto& entry : kFormats) {
    if (equals_ignoring_case(extension, entry.extension)) {
      *format = entry.format;
      return true;
    }
  }
  return false;
}

bool image_passes_gate(const char*, ImageFormat) { return true; }
