#include "colormap/formats/tga_layout.h"

#include "colormap/formats/bytes.h"

namespace tga {

bool read_header(const unsigned char* data, std::size_t size, Header* header) {
  if (size < kHeaderSize) return false;
  header->id_length = data[0];
  header->map_type = data[1];
  header->image_type = data[2];
  header->map_first = le16_at(data + 3);
  header->map_length = le16_at(data + 5);
  header->map_bits = data[7];
  header->width = le16_at(data + 12);
  header->height = le16_at(data + 14);
  header->pixel_bits = data[16];
  header->descriptor = data[17];
  return true;
}

void map_entry_bgr(const unsigned char* entry, std::uint64_t map_bits, unsigned char* bgr) {
  if (map_bits == 8) {
    bgr[0] = bgr[1] = bgr[2] = entry[0];
  } else if (map_bits == 15 || map_bits == 16) {
    const unsigned value = static_cast<unsigned>(le16_at(entry));
    for (unsigned channel = 0; channel < 3; ++channel) {
      const unsigned bits = value >> (5 * channel) & 0x1F;
      bgr[channel] = static_cast<unsigned char>(bits << 3 | bits >> 2);
    }
  } else {
    bgr[0] = entry[0];
    bgr[1] = entry[1];
    bgr[2] = entry[2];
  }
}

bool layout_known(const Header& h) {
  const bool mapped = h.map_type == 1;
  if (h.map_type > 1) return false;
  if (mapped) {
    switch (h.map_bits) {
      case 8:
      case 15:
      case 16:
      case 24:
      case 32:
        break;
      default:
        return false;
    }
  }
  switch (h.image_type) {
    case 1:
    case 9:
      return mapped && h.pixel_bits == 8;
    case 2:
    case 10:
      return !mapped &&
             (h.pixel_bits == 15 || h.pixel_bits == 16 || h.pixel_bits == 24 || h.pixel_bits == 32);
    case 3:
    case 11:
      return !mapped && (h.pixel_bits == 8 || h.pixel_bits == 1);
    default:
      return false;
  }
}

}  // namespace tga
