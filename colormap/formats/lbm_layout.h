// The IFF layout (ILBM and PBM) as the size check, the gate and the rewrite
// read it: the FORM with its BMHD first, then chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lbm {

constexpr std::size_t kChunkHeader = 8;  // id and big-endian length
constexpr std::size_t kHeaderSize = 40;  // FORM, its length and type, and the BMHD chunk
constexpr std::uint64_t kMaxColours = 256;

struct Header {
  bool pbm = false;  // chunky 8-bit pixels rather than bit planes
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t planes = 0;
  std::uint64_t masking = 0;
  std::uint64_t compression = 0;
};

inline bool is_id(const unsigned char* bytes, const char* id) {
  return std::memcmp(bytes, id, 4) == 0;
}

// Reads "FORM", "ILBM" or "PBM " and a 20-byte BMHD chunk right after.
bool read_header(const unsigned char* data, std::size_t size, Header* header);

// Paletted: at most 8 planes, no or ByteRun1 compression (lbm.c:94-105).
inline bool layout_known(const Header& h) { return h.planes <= 8 && h.compression <= 1; }

}  // namespace lbm
