// Shared by the gate's per-format checks; not part of the tool's interface.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <cstdint>

// Reads an image file front to back through the library's packfile layer and
// counts what it consumed. Every read fails at the end of the file or on a
// read error (the packfile layer returns EOF for both).
class GateReader {
 public:
  explicit GateReader(PACKFILE* file) : file_(file) {}
  // Bytes already in memory are read directly, as a memory packfile would
  // give them, without a library call per byte.
  GateReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool byte(std::uint64_t* value);
  bool bytes(unsigned char* out, std::size_t count);
  bool le16(std::uint64_t* value);
  bool le32(std::uint64_t* value);
  bool be32(std::uint64_t* value);
  // Consumes `count` bytes, which must all exist.
  bool skip(std::uint64_t count);
  // True once the last byte of the file has been consumed: the packfile
  // layer's notion of the end, which the LBM loader tests between chunks.
  bool at_end() const;
  std::uint64_t offset() const { return offset_; }
  // Checks the header's size as gate_dimensions_ok does and remembers it.
  bool dimensions_ok(std::uint64_t width, std::uint64_t height);
  std::uint64_t width() const { return width_; }
  std::uint64_t height() const { return height_; }

 private:
  PACKFILE* file_ = nullptr;
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t width_ = 0;
  std::uint64_t height_ = 0;
};

// The largest image, in pixels, that the gate lets through. Far below the
// point where the library's int arithmetic for the bitmap size wraps.
constexpr std::uint64_t kMaxGatePixels = std::uint64_t{1} << 24;

// Width and height each at least 1, and their product within the cap.
bool gate_dimensions_ok(std::uint64_t width, std::uint64_t height);

inline std::uint64_t le16_at(const unsigned char* p) {
  return static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8;
}

inline std::uint64_t be16_at(const unsigned char* p) {
  return static_cast<std::uint64_t>(p[0]) << 8 | static_cast<std::uint64_t>(p[1]);
}

inline std::uint64_t be32_at(const unsigned char* p) { return be16_at(p) << 16 | be16_at(p + 2); }

// One check per loader; each starts at offset 0 of the file.
bool bmp_passes_gate(GateReader& in);
bool lbm_passes_gate(GateReader& in);
bool pcx_passes_gate(GateReader& in);
bool tga_passes_gate(GateReader& in);
