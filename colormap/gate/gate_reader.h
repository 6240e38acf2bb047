// Shared by the gate's per-format checks; not part of the tool's interface.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads an image file held in memory front to back, as the loader would
// through a memory packfile, and counts what it consumed. Every read fails
// at the end of the bytes.
class GateReader {
 public:
  GateReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool byte(std::uint64_t* value);
  bool bytes(unsigned char* out, std::size_t count);
  bool be32(std::uint64_t* value);
  // Consumes `count` bytes, which must all exist.
  bool skip(std::uint64_t count);
  // Moves on to `offset`, past what a walk over the bytes consumed; false
  // (for a walk that failed) when it is 0.
  bool skip_to(std::uint64_t offset);
  // True once the last byte has been consumed: the packfile layer's notion
  // of the end, which the LBM loader tests between chunks.
  bool at_end() const { return offset_ >= size_; }
  std::uint64_t offset() const { return offset_; }
  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::uint64_t offset_ = 0;
};

// The largest image, in pixels, that the gate lets through. Far below the
// point where the library's int arithmetic for the bitmap size wraps.
constexpr std::uint64_t kMaxGatePixels = std::uint64_t{1} << 24;

// Width and height each at least 1, and their product within the cap.
bool gate_dimensions_ok(std::uint64_t width, std::uint64_t height);

// One check per loader; each starts at offset 0 of the file.
bool bmp_passes_gate(GateReader& in);
bool pcx_passes_gate(GateReader& in);
bool tga_passes_gate(GateReader& in);
