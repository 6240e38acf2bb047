#include "colormap/rewrite/image_rewrite.h"

#include "colormap/gate/image_gate.h"

bool rewrite_for_library(ImageFormat format, const unsigned char* data, std::size_t size,
                         std::vector<unsigned char>* out, std::size_t* judged) {
  out->clear();
  if (size == 0) return false;
  bool rewritten = false;
  switch (format) {
    case ImageFormat::Bmp:
      rewritten = rewrite_bmp(data, size, out);
      break;
    case ImageFormat::Pcx:
      rewritten = rewrite_pcx(data, size, out);
      break;
    case ImageFormat::Lbm:
      rewritten = rewrite_lbm(data, size, out);
      break;
    case ImageFormat::Tga:
      rewritten = rewrite_tga(data, size, out);
      break;
  }
  // A rewrite the gate would refuse stands for a damaged original: hand the
  // original on, so that it is refused exactly as before.
  if (rewritten) {
    rewritten = image_passes_gate(out->data(), out->size(), library_format(format), judged);
  }
  if (!rewritten) out->clear();
  return rewritten;
}
