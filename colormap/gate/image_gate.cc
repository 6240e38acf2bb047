#include "colormap/gate/image_gate.h"

#include <cstring>

#include "colormap/formats/bytes.h"
#include "colormap/gate/gate_reader.h"

bool GateReader::byte(std::uint64_t* value) {
  if (offset_ >= size_) return false;
  *value = data_[offset_++];
  return true;
}

bool GateReader::bytes(unsigned char* out, std::size_t count) {
  if (count > size_ - offset_) return false;
  std::memcpy(out, data_ + offset_, count);
  offset_ += count;
  return true;
}

bool GateReader::be32(std::uint64_t* value) {
  unsigned char b[4];
  if (!bytes(b, sizeof b)) return false;
  *value = be32_at(b);
  return true;
}

bool GateReader::skip(std::uint64_t count) {
  if (count > size_ - offset_) return false;
  offset_ += count;
  return true;
}

bool GateReader::skip_to(std::uint64_t offset) {
  if (offset == 0 || offset < offset_ || offset > size_) return false;
  offset_ = offset;
  return true;
}

bool gate_dimensions_ok(std::uint64_t width, std::uint64_t height) {
  // Each factor is capped first so that the product cannot wrap.
  return width >= 1 && height >= 1 && width <= kMaxGatePixels && height <= kMaxGatePixels &&
         width * height <= kMaxGatePixels;
}

namespace {

bool format_passes_gate(GateReader& in, ImageFormat format) {
  switch (format) {
    case ImageFormat::Bmp:
      return bmp_passes_gate(in);
    case ImageFormat::Lbm:
      return false;  // every LBM picture reaches the library rewritten
    case ImageFormat::Pcx:
      return pcx_passes_gate(in);
    case ImageFormat::Tga:
      return tga_passes_gate(in);
  }
  return false;
}

}  // namespace

bool image_passes_gate(const unsigned char* data, std::size_t size, ImageFormat format,
                       std::size_t* judged) {
  GateReader in(data, size);
  const bool passes = format_passes_gate(in, format);
  if (judged) *judged = static_cast<std::size_t>(in.offset());
  return passes;
}
