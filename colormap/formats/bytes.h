// Little- and big-endian fields of the image formats, read from memory.
#pragma once

#include <cstdint>

inline std::uint64_t le16_at(const unsigned char* p) {
  return static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8;
}

inline std::uint64_t le32_at(const unsigned char* p) { return le16_at(p) | le16_at(p + 2) << 16; }

inline std::uint64_t be16_at(const unsigned char* p) {
  return static_cast<std::uint64_t>(p[0]) << 8 | static_cast<std::uint64_t>(p[1]);
}

inline std::uint64_t be32_at(const unsigned char* p) { return be16_at(p) << 16 | be16_at(p + 2); }
