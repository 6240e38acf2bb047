#include "colormap/image_gate.h"

#include <cstring>

#include "colormap/image_gate_internal.h"
#include "colormap/rows.h"

bool GateReader::byte(std::uint64_t* value) {
  if (!file_) {
    if (offset_ >= size_) return false;
    *value = data_[offset_++];
    return true;
  }
  const int c = pack_getc(file_);
  if (c == EOF) return false;
  *value = static_cast<std::uint64_t>(c);
  ++offset_;
  return true;
}

bool GateReader::bytes(unsigned char* out, std::size_t count) {
  if (!file_) {
    const std::size_t got = count < size_ - offset_ ? count : size_ - offset_;
    std::memcpy(out, data_ + offset_, got);
    offset_ += got;
    return got == count;
  }
  const long got = pack_fread(out, static_cast<long>(count), file_);
  if (got > 0) offset_ += static_cast<std::uint64_t>(got);
  return got == static_cast<long>(count);
}

bool GateReader::le16(std::uint64_t* value) {
  unsigned char b[2];
  if (!bytes(b, sizeof b)) return false;
  *value = le16_at(b);
  return true;
}

bool GateReader::le32(std::uint64_t* value) {
  unsigned char b[4];
  if (!bytes(b, sizeof b)) return false;
  *value = le16_at(b) | le16_at(b + 2) << 16;
  return true;
}

bool GateReader::be32(std::uint64_t* value) {
  unsigned char b[4];
  if (!bytes(b, sizeof b)) return false;
  *value = be32_at(b);
  return true;
}

bool GateReader::skip(std::uint64_t count) {
  if (!file_) {
    const std::uint64_t left = size_ - offset_;
    offset_ += count < left ? count : left;
    return count <= left;
  }
  unsigned char block[4096];
  while (count > 0) {
    const std::size_t part = count < sizeof block ? static_cast<std::size_t>(count) : sizeof block;
    if (!bytes(block, part)) return false;
    count -= part;
  }
  return true;
}

bool GateReader::at_end() const { return file_ ? pack_feof(file_) != 0 : offset_ >= size_; }

bool gate_dimensions_ok(std::uint64_t width, std::uint64_t height) {
  // Each factor is capped first so that the product cannot wrap.
  return width >= 1 && height >= 1 && width <= kMaxGatePixels && height <= kMaxGatePixels &&
         width * height <= kMaxGatePixels;
}

bool GateReader::dimensions_ok(std::uint64_t width, std::uint64_t height) {
  width_ = width;
  height_ = height;
  return gate_dimensions_ok(width, height);
}

namespace {

bool format_passes_gate(GateReader& in, ImageFormat format) {
  switch (format) {
    case ImageFormat::Bmp:
      return bmp_passes_gate(in);
    case ImageFormat::Lbm:
      return lbm_passes_gate(in);
    case ImageFormat::Pcx:
      return pcx_passes_gate(in);
    case ImageFormat::Tga:
      return tga_passes_gate(in);
  }
  return false;
}

bool passes_gate(GateReader& in, ImageFormat format, GateSize* size) {
  const bool passes = format_passes_gate(in, format);
  if (size) *size = GateSize{in.width(), in.height()};
  return passes;
}

}  // namespace

bool image_passes_gate(PACKFILE* file, ImageFormat format, GateSize* size) {
  GateReader in(file);
  return passes_gate(in, format, size);
}

bool image_passes_gate(const unsigned char* data, std::size_t size, ImageFormat format,
                       GateSize* image_size) {
  GateReader in(data, size);
  return passes_gate(in, format, image_size);
}

bool image_passes_gate(const char* path, ImageFormat format) {
  // The same opener as the loader: a path with '#' may name an object inside
  // a datafile, and the gate must judge the bytes the loader will read.
  PACKFILE* file = pack_fopen(path, F_READ);
  if (!file) return false;
  const bool passes = image_passes_gate(file, format);
  pack_fclose(file);
  return passes;
}
